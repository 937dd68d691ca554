// Preparation of the case codes before any lookup.
//
// Copies the request's diagnosis and procedure codes into the work tables
// (five characters and a NUL each) and applies the dated code conversions to
// the procedure codes. Nothing is looked up or validated here; the entries
// and attribute masks of the work entries are left alone.
#pragma once

#include "grouper/group_state.h"

namespace tallow {

// Prepares the codes of the case held in s.request for its case date.
// Always returns 0.
int PrepareCaseCodes(GroupState& s);

// Makes the layout of the request's code references now and has every later
// PrepareCaseCodes for the same request take it as made, without comparing
// the references again: the caller promises that none of them moves until
// it binds again (null unbinds).
void BindCodeLayout(GroupState& s, const GroupRequest* request);

}  // namespace tallow

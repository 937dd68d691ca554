// Preparation of the case codes before any lookup.
//
// Copies the request's diagnosis and procedure codes into the work tables,
// applies the dated code conversions to procedure codes, looks every code up
// and records the entries (diagnosisEntry, procedureEntry) together with the
// attribute masks of each work entry.
#pragma once

#include "grouper/group_state.h"

namespace tallow {

// Prepares the codes of the case held in s.request for the active edition.
// Returns 0.
int PrepareCaseCodes(GroupState& s);

}  // namespace tallow

// Group code digits set by fixed procedure lists.
#pragma once

#include "grouper/group_state.h"

namespace tallow {

// The group code changed by the procedure lists, or unchanged: MDC 17 with a
// procedure of list R, and the DRG families 1060..1069, 1070..1079, 40..49
// and 2140..2149. Reads the request's procedure codes (before the dated
// conversions), mdc, finalDrg and the case date; the first rule that fires
// decides. Codes from "20020101" read DRG(4) age(1) level(1), before it
// DRG-with-age(4) level(1) final digit(1).
int ApplyProcedureSplits(const GroupState& s, int code);

// The request's procedure code at a position below procedureCount, or five
// blanks for a null code.
const char* RequestProcedureCode(const GroupState& s, int position);

}  // namespace tallow

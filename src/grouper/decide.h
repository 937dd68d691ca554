// The decision of MDC and base DRG from the prepared codes.
#pragma once

#include "grouper/group_state.h"

namespace tallow {

// Puts the decision fields of s back to their starting values.
void ResetDecision(GroupState& s);

// Decides MDC, case attributes and base DRG of the prepared case.
void DecideDrg(GroupState& s);

// Whether the principal diagnosis excludes the secondary diagnosis at
// `position` (whose entry is `entry`) as a CC, by the CC table of the case
// date. Returns 1 when excluded, 0 otherwise.
int IsCcExcluded(const GroupState& s, int entry, int position);

}  // namespace tallow

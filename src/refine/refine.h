// Refinement entry points called by GroupCase.
#pragma once

#include <cstdint>

#include "grouper/group_state.h"

namespace tallow {

// Finalises the decided DRG: re-mapping, refined DRG, severity level and the
// per-diagnosis levels; hands newborn cases (MDC 15) to GroupNewborn.
// Returns finaliseStatus 0..5.
int FinaliseDrg(GroupState& state);

// The six-digit refined group code of the finalised case, or 0.
int32_t MakeRefinedCode(GroupState& state);

}  // namespace tallow

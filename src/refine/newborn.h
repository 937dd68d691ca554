// Newborn grouping: the finalisation of cases whose principal diagnosis
// belongs to MDC 15.
#pragma once

#include "grouper/group_state.h"

namespace tallow {

// Sets finalDrg from the birth weight (3860 below 1000 g, 3880 from 1000 g
// to 2499 g, 3910 otherwise, absent included) and the severity level from the
// highest neonate mark of the case's diagnoses. Returns 0, 4 for a negative
// length of stay, or 5 for a birth weight of zero or below other than -2
// (absent). Called by FinaliseDrg, which has already reset the level fields.
int GroupNewborn(GroupState& s);

// The newborn DRG value of a birth weight in grams.
int NewbornDrg(int birthWeight);

}  // namespace tallow

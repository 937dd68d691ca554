// The codes a loaded table set knows, per edition, for making synthetic case
// lines (benchmarks, property tests, the large-input generator).
#pragma once

#include <string>
#include <vector>

#include "tables/table_set.h"

namespace tallow {

struct CodePool {
  // Every diagnosis code reached through the category index of the edition's
  // diagnosis table, in table order (a male/female pair appears twice).
  std::vector<std::string> diagnoses[kEditionCount];
  // Editions 8 and 9: every code of SGTAB8 / SGTAB9 reached through its
  // category index; editions 0 and 1: every SGTAB0 row code without a NUL.
  std::vector<std::string> procedures[kEditionCount];
};

CodePool CodesOf(const TableSet& tables);

}  // namespace tallow

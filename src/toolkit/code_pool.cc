#include "toolkit/code_pool.h"

#include <cstddef>
#include <cstring>

namespace tallow {
namespace {

// Appends the code of every entry that belongs to a category.
template <typename Table>
void AppendCategoryCodes(const Table& table, std::vector<std::string>& out) {
  for (int c = 0; c < kCategorySlots; ++c) {
    const auto slot = static_cast<std::size_t>(c);
    const int start = table.categoryStart[slot];
    for (int i = 0; i < table.categoryCount[slot]; ++i) {
      out.push_back(CodeText(c, table.entryTail[static_cast<std::size_t>(start + i)]));
    }
  }
}

}  // namespace

CodePool CodesOf(const TableSet& tables) {
  CodePool pool;
  for (int e = 0; e < kEditionCount; ++e) {
    AppendCategoryCodes(tables.diagnosis[static_cast<std::size_t>(e)], pool.diagnoses[e]);
  }
  for (int e = 0; e < 2; ++e) {
    AppendCategoryCodes(tables.procedure[static_cast<std::size_t>(e)], pool.procedures[e]);
  }
  for (const RowCode& code : tables.datedProcedure.codes) {
    if (std::memchr(code.data(), '\0', code.size()) != nullptr) continue;
    pool.procedures[2].emplace_back(code.data(), code.size());
  }
  pool.procedures[3] = pool.procedures[2];
  return pool;
}

}  // namespace tallow

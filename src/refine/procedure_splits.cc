// Group code digits set by fixed procedure lists.
#include "refine/procedure_splits.h"

#include <algorithm>

#include "refine/finalise.h"
#include "refine/fixed_lists.h"
#include "tables/codes.h"

namespace tallow {
namespace {

int Tens(int n) { return (n / 10) % 10; }
int Hundreds(int n) { return (n / 100) % 10; }

bool AnyProcedureIn(const GroupState& s, CodeList list) {
  const int count = ProcedureSpanOf(s);
  for (int i = 0; i < count; ++i)
    if (InCodeList(list, RequestProcedureCode(s, i))) return true;
  return false;
}

// Lists searched for DRGs 4x and 214x, in search order, with their number k.
struct NumberedList {
  CodeList list;
  int k;
};
constexpr NumberedList kDrg40Lists[] = {{CodeList::kS2, 2},  {CodeList::kS3, 3},
                                        {CodeList::kS1, 1},  {CodeList::kS4, 4},
                                        {CodeList::kS5a, 5}, {CodeList::kS6a, 6}};
constexpr NumberedList kDrg2140Lists[] = {{CodeList::kS2, 2},  {CodeList::kS3, 3},
                                          {CodeList::kS1, 1},  {CodeList::kS4, 4},
                                          {CodeList::kS5b, 5}, {CodeList::kS6b, 6}};

// k of the first list that some procedure is in, or 0.
template <std::size_t N>
int FirstListNumber(const GroupState& s, const NumberedList (&lists)[N]) {
  for (const NumberedList& l : lists)
    if (AnyProcedureIn(s, l.list)) return l.k;
  return 0;
}

}  // namespace

const char* RequestProcedureCode(const GroupState& s, int position) {
  const char* code = s.request != nullptr ? s.request->procedureCodes[position] : nullptr;
  return code != nullptr ? code : kBlankCode;
}

int ApplyProcedureSplits(const GroupState& s, int code) {
  const bool isNew = !DateBefore(CaseDateOf(s), "20020101");
  const int d = s.finalDrg;

  if (s.mdc == 17 && AnyProcedureIn(s, CodeList::kR)) {
    const int n = 500000 + code % 1000;
    return isNew ? n - 10 * Tens(n) : n - 100 * Hundreds(n);
  }
  if (d >= 1060 && d <= 1069) {
    const bool c2 = AnyProcedureIn(s, CodeList::kC2);
    if (c2 && AnyProcedureIn(s, CodeList::kC1)) return code + (isNew ? 100 : 1);
    if (c2 && AnyProcedureIn(s, CodeList::kC3)) return code + (isNew ? 200 : 2);
    return code;
  }
  if (d >= 1070 && d <= 1079) {
    if (AnyProcedureIn(s, CodeList::kC1)) return code + (isNew ? 100 : 1);
    if (AnyProcedureIn(s, CodeList::kC3)) return code + (isNew ? 200 : 2);
    return code;
  }
  if (d >= 40 && d <= 49) {
    const int k = FirstListNumber(s, kDrg40Lists);
    if (k == 0) return code;
    return isNew ? code - 10 * Tens(code) + 100 * k + 30 : code - 100 * Hundreds(code) + 300 + k;
  }
  if (d >= 2140 && d <= 2149) {
    const int k = FirstListNumber(s, kDrg2140Lists);
    if (k == 0) return code;
    return isNew ? code + 100 * k : code + k;
  }
  return code;
}

}  // namespace tallow

// Helpers of DRG finalisation, shared with the refined group code.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "grouper/group_state.h"

namespace tallow {

// The RefinedCcTable row of the active edition that applies to the diagnosis
// at `position`, or -1. The row is found by bisection over the rows sorted by
// code, then the first row of that code that fits the case's sex and
// discharge status, and, for a secondary diagnosis, that the principal
// diagnosis does not exclude as a CC.
int FindCcEntry(const GroupState& s, int position);

// FindCcEntry answered from the per-case memo when it holds the answer.
inline int FindCcEntryMemoised(const GroupState& s, int position) {
  const CcMemo& memo = s.ccMemo;
  if (memo.enabled && position >= 0 && position < kMaxDiagnoses &&
      memo.ccEntry[static_cast<std::size_t>(position)] != CcMemo::kUnknown) {
    return memo.ccEntry[static_cast<std::size_t>(position)];
  }
  return FindCcEntry(s, position);
}

// 1 when some procedure position with an entry has a class whose byte
// `byteIndex` (0..25) shares a bit with `mask`, else 0.
int AnyProcedureHasBit(const GroupState& s, int byteIndex, int mask);

// 1 when the working code of some procedure position is "R3501", else 0.
int HasProcedureR3501(const GroupState& s);

// 1 when the diagnosis at `position` gives no level to a delivery DRG (final
// DRG 3700, 3720 or 3730): "O990 " from "19980401", "O994 " from "20000201".
int IsExcludedObstetricDiagnosis(const GroupState& s, int position);

// The RefinedDrgTable slot of a DRG value (1..4770). A value outside that
// range, or a slot that no RDRGDRG line filled, reads as refined DRG 0, no
// age split, no level column and a blank type.
RefinedDrgSlot RefinedDrgSlotOf(const GroupState& s, int drgValue);
RefinedDrgSlot RefinedDrgSlotOf(const TableSet& tables, int drgValue);

// The final DRGs that the first pass of a case (every procedure ignored) may
// give, by edition and by the MDC of the principal diagnosis, made from the
// tables alone: the decision leaves DRG 470, a value of a rule of the MDC or,
// after DRG 468, of a rule of MDC 30, and finalisation takes the refined DRG
// of each re-mapping of it (a newborn principal diagnosis may give any). The level count of a case whose first pass was
// left out asks it before running that pass on the side: a refined CC row
// whose DRG the first pass cannot give needs no first pass.
class FirstPassFinals {
 public:
  FirstPassFinals() = default;  ///< not made: every DRG may be given
  explicit FirstPassFinals(const TableSet& tables);

  // False only when no first pass of such a case gives `finalDrg`.
  bool MayGive(Edition edition, int mdc, int finalDrg) const;

 private:
  struct Span {
    uint32_t first = 0;
    uint32_t count = 0;
  };
  const Span& SpanOf(Edition edition, int mdc) const;
  std::vector<int16_t> values_;  ///< sorted within each span
  // Slot 0 of an edition: every MDC without rules.
  std::array<std::array<Span, kMdcSlots + 1>, kEditionCount> spans_{};
  bool made_ = false;
};

// The first eight characters of the case date, or eight blanks when the case
// has no date field.
inline const char* CaseDateOf(const GroupState& s) {
  return s.caseDate != nullptr ? s.caseDate : "        ";
}

// The level the length of stay alone decides, for a medical DRG and on the
// newborn path: an invalid stay sets level '4' and gives status 4; a stay of
// up to two days ending with discharge status 4 sets level 'L' and gives
// status 0. Returns -1, setting nothing, when neither applies.
int StayLevelStatus(GroupState& s);

// Level characters compare as signed 8-bit values: a byte above 0x7F is below
// '0'.
inline bool LevelAbove(char a, char b) {
  return static_cast<signed char>(a) > static_cast<signed char>(b);
}

}  // namespace tallow

// DRG finalisation: the fixed re-mappings of the decided DRG, the refined DRG
// with its level column, and the severity level from the diagnoses.
#include "refine/finalise.h"

#include <algorithm>
#include <array>

#include "grouper/decide.h"
#include "grouper/lookup.h"
#include "grouper/values.h"
#include "refine/newborn.h"
#include "refine/refine.h"
#include "tables/codes.h"

namespace tallow {
namespace {

bool CodeIs(const char* code, const char* text) { return PackCode(code) == PackCode(text); }

// The fixed re-mappings of the decided DRG: the DRG it becomes when the
// re-mapping's test holds, and when it does not. The first pass's finals
// (FirstPassFinals) take both.
struct Remapping {
  int drg;
  int held;
  int otherwise;
};
constexpr std::array<Remapping, 6> kRemappings = {{
    {30, 20, 10},        // class byte 4 bit 0x08 of the principal diagnosis
    {1630, 1590, 1610},  // a procedure with class byte 4 bit 0x08
    {2230, 2230, 2240},  // a procedure with class byte 10 bit 0x08
    {2280, 2280, 2290},  // a procedure with class byte 11 bit 0x20
    {3230, 3230, 3240},  // a procedure coded R3501
    {4220, 4190, 4210},  // a principal diagnosis R500, R501 or R502
}};

// The re-mapping of a decided DRG, or null for a DRG kept as it is.
const Remapping* RemappingOf(int drg) {
  for (const Remapping& r : kRemappings) {
    if (r.drg == drg) return &r;
  }
  return nullptr;
}

bool RemappingHolds(const GroupState& s, const DiagnosisClass& principal) {
  switch (s.baseDrg) {
    case 30:
      return (principal.dxMask[1] & 0x08) != 0;
    case 1630:
      return AnyProcedureHasBit(s, 4, 0x08) != 0;
    case 2230:
      return AnyProcedureHasBit(s, 10, 0x08) != 0;
    case 2280:
      return AnyProcedureHasBit(s, 11, 0x20) != 0;
    case 3230:
      return HasProcedureR3501(s) != 0;
    case 4220: {
      const char* code = s.diagnosisWork[0].code;
      return CodeIs(code, "R500 ") || CodeIs(code, "R501 ") || CodeIs(code, "R502 ");
    }
    default:
      return false;
  }
}

// The decided DRG after the re-mappings that depend on the principal
// diagnosis's class and code and on the procedures.
int RemapDrg(const GroupState& s, const DiagnosisClass& principal) {
  const Remapping* r = RemappingOf(s.baseDrg);
  if (r == nullptr) return s.baseDrg;
  return RemappingHolds(s, principal) ? r->held : r->otherwise;
}

// Whether the first pass gave `drg` as its final DRG. A first pass left out
// runs on the side for it, unless the tables show that it cannot give it.
bool FirstPassGave(GroupState& s, const DiagnosisClass& principal, int drg) {
  if (s.firstPass == FirstPass::kLeftOut && !(s.firstPassReads & kReadFirstPassDrg)) {
    if (s.firstPassFinals != nullptr &&
        !s.firstPassFinals->MayGive(s.active.edition, principal.mdc, drg)) {
      return false;
    }
    s.firstPassDrg = s.firstPassAside->RunAside(false).finalDrg;
    s.firstPassReads |= kReadFirstPassDrg;
  }
  return drg == s.firstPassDrg;
}

// The level count over the diagnoses: fills diagnosisLevels and raises
// severityLevel. `d` is the re-mapped decided DRG, `column` its level column.
template <bool kTraced>
void CountLevelsOf(GroupState& s, const DiagnosisClass& principal, int d, int column) {
  const std::vector<RefinedCcRow>& rows = s.active.refinedCc->rows;
  const LevelMatrix& matrix = s.tables->levelMatrix;
  const char* date = CaseDateOf(s);
  const bool before2002 = DateBefore(date, "20020101");
  const bool firstPassWindow = !DateBefore(date, "19980701") && before2002;
  // A principal diagnosis with class byte 3 bit 0x80 leaves DRG 1210 without
  // any diagnosis level.
  const bool principalBlocks = s.finalDrg == 1210 && (principal.dxMask[0] & 0x80) != 0;
  const bool twoCountsAsOne = s.finalDrg == 570 || s.finalDrg == 590 || s.finalDrg == 1610;
  const int start = (s.finalDrg == 1210 || d == 1240) ? 0 : 1;

  s.diagnosisLevels.fill('0');
  s.levelsCounted = true;
  const int count = DiagnosisSpanOf(s);
  constexpr bool traced = kTraced;
  for (int i = start; i < count; ++i) {
    if (s.diagnosisEntry[i] < 0) {
      if (s.diagnosisEntry[i] == -1) TALLOW_TRACE_WHEN(traced, s, LevelGiven(i, '0', LevelReason::kNotFound));
      continue;
    }
    if (before2002 && IsExcludedObstetricDiagnosis(s, i) != 0) {
      TALLOW_TRACE_WHEN(traced, s, LevelGiven(i, '0', LevelReason::kObstetric));
      continue;
    }
    if (principalBlocks) {
      TALLOW_TRACE_WHEN(traced, s, LevelGiven(i, '0', LevelReason::kPrincipalBlocks));
      continue;
    }
    const int p = FindCcEntryMemoised(s, i);
    if (p < 0) {
      TALLOW_TRACE_WHEN(traced, s, LevelGiven(i, '0', LevelReason::kNoCcRow));
      continue;
    }
    const RefinedCcRow& row = rows[p];
    if (firstPassWindow && FirstPassGave(s, principal, row.ccDrg)) {
      TALLOW_TRACE_WHEN(traced, s, LevelGiven(i, '0', LevelReason::kFirstPassDrg));
      continue;
    }
    char ch = matrix.At(row.levelRow, column);
    const bool counted = twoCountsAsOne && ch == '2';
    if (counted) ch = '1';
    TALLOW_TRACE_WHEN(traced, s, LevelGiven(i, ch, counted ? LevelReason::kTwoCountsAsOne
                                              : LevelReason::kMatrix));
    s.diagnosisLevels[i] = ch;
    if (LevelAbove(ch, s.severityLevel)) {  // a tie keeps the earlier position
      s.severityLevel = ch;
      s.levelSourceIndex = i;
    }
  }
}

void CountLevels(GroupState& s, const DiagnosisClass& principal, int d, int column) {
  if (kTraceCompiledIn && s.trace != nullptr) [[unlikely]] {
    CountLevelsOf<true>(s, principal, d, column);
  } else {
    CountLevelsOf<false>(s, principal, d, column);
  }
}

}  // namespace

RefinedDrgSlot RefinedDrgSlotOf(const GroupState& s, int drgValue) {
  return RefinedDrgSlotOf(*s.tables, drgValue);
}

RefinedDrgSlot RefinedDrgSlotOf(const TableSet& tables, int drgValue) {
  const std::vector<RefinedDrgSlot>& slots = tables.refinedDrg.slots;
  if (drgValue < 1 || drgValue > static_cast<int>(slots.size())) return RefinedDrgSlot{};
  const RefinedDrgSlot& slot = slots[drgValue - 1];
  if (!slot.filled) return RefinedDrgSlot{};
  return slot;
}

namespace {

// FindCcEntry without the memo.
int SearchCcEntry(const GroupState& s, int position) {
  const int entry = s.diagnosisEntry[position];
  if (entry < 0 || s.active.refinedCc == nullptr) return -1;
  const RefinedCcTable& table = *s.active.refinedCc;
  const std::vector<RefinedCcRow>& rows = table.rows;
  const int n = static_cast<int>(rows.size());
  const char* code = s.diagnosisWork[position].code;
  const uint64_t key = PackCode(code);

  // The first row of the entry's code, made at load for the active tables.
  const DiagnosisTable* dx = s.active.diagnosis;
  const auto edition = static_cast<std::size_t>(s.active.edition);
  int hit = kRefinedCcSearch;
  if (s.tables != nullptr && dx != nullptr &&
      static_cast<std::size_t>(entry) < dx->entryFacts.size() &&
      dx == &s.tables->diagnosis[edition] && &table == &s.tables->refinedCc[edition]) {
    hit = dx->entryFacts[static_cast<std::size_t>(entry)].refinedCcRow;
  }
  if (hit == kRefinedCcSearch) hit = FirstRefinedCcRow(table, key);
  if (hit < 0) return -1;

  // The rows of the code, each compared by its own code (in the line that is
  // read anyway).
  for (int r = hit; r < n && PackCode(rows[r].code.data()) == key; ++r) {
    const RefinedCcRow& row = rows[r];
    if (row.sexCondition != 0 && row.sexCondition != s.sex) continue;
    if (row.statusCondition != 0 && s.dischargeStatus == 999) continue;
    if (position != 0 && IsCcExcluded(s, entry, position) != 0) continue;
    return r;
  }
  return -1;
}

}  // namespace

int FindCcEntry(const GroupState& s, int position) {
  CcMemo& memo = s.ccMemo;
  const bool memoised = memo.enabled && position >= 0 && position < kMaxDiagnoses;
  if (memoised && memo.ccEntry[position] != CcMemo::kUnknown) return memo.ccEntry[position];
  const int found = SearchCcEntry(s, position);
  if (memoised) memo.ccEntry[position] = static_cast<int16_t>(found);
  return found;
}

int AnyProcedureHasBit(const GroupState& s, int byteIndex, int mask) {
  const int count = ProcedureSpanOf(s);
  for (int i = 0; i < count; ++i) {
    const int entry = s.procedureEntry[i];
    if (entry < 0) continue;
    if ((ProcedureClassOf(s, entry).bytes[byteIndex] & mask) != 0) return 1;
  }
  return 0;
}

int HasProcedureR3501(const GroupState& s) {
  const int count = ProcedureSpanOf(s);
  for (int i = 0; i < count; ++i)
    if (CodeIs(s.procedureWork[i].code, "R3501")) return 1;
  return 0;
}

int IsExcludedObstetricDiagnosis(const GroupState& s, int position) {
  if (s.finalDrg != 3700 && s.finalDrg != 3720 && s.finalDrg != 3730) return 0;
  const char* code = s.diagnosisWork[position].code;
  const char* date = CaseDateOf(s);
  if (CodeIs(code, "O990 ") && !DateBefore(date, "19980401")) return 1;
  if (CodeIs(code, "O994 ") && !DateBefore(date, "20000201")) return 1;
  return 0;
}

int StayLevelStatus(GroupState& s) {
  if (s.lengthOfStay < 0) {
    s.severityLevel = '4';
    TALLOW_TRACE(s, StayLevel('4'));
    return kFinaliseStayInvalid;
  }
  if (s.dischargeStatus == 4 && s.lengthOfStay <= 2) {
    s.severityLevel = 'L';
    TALLOW_TRACE(s, StayLevel('L'));
    return kFinaliseDone;
  }
  return -1;
}

namespace {

int Finalise(GroupState& s) {
  s.finalDrg = kUngroupableDrg;
  s.severityLevel = '0';
  s.levelSourceIndex = -1;
  s.mdc = kResetMdc;
  if (s.baseDrg < 1 || s.baseDrg > kHighestDrg) return kFinaliseDrgOutOfRange;
  if (s.diagnosisCount < 1 || s.diagnosisEntry[0] < 0) return kFinaliseNoPrincipal;

  const DiagnosisClass& principal = DiagnosisClassOf(s, s.diagnosisEntry[0]);
  s.mdc = principal.mdc;
  if (s.mdc == kNewbornMdc) return GroupNewborn(s);

  const int d = RemapDrg(s, principal);
  const RefinedDrgSlot slot = RefinedDrgSlotOf(s, d);
  s.finalDrg = slot.refinedDrg;
  const int column = slot.levelColumn;
  TALLOW_TRACE(s, RefinedDrgTaken(s.baseDrg, d, slot.refinedDrg, column, slot.drgType));
  if (column < 0) return kFinaliseNoLevelColumn;

  if (slot.drgType == 'M') {
    if (const int status = StayLevelStatus(s); status >= 0) return status;
  } else if (s.mdc == kCirculatoryMdc) {
    // Circulatory cases: the principal diagnosis may set the level when its
    // row names DRG 1210.
    const int p = FindCcEntryMemoised(s, 0);
    if (p >= 0) {
      const RefinedCcRow& row = s.active.refinedCc->rows[p];
      if (row.ccDrg == 1210) {
        s.severityLevel = s.tables->levelMatrix.At(row.levelRow, column);
        TALLOW_TRACE(s, LevelGiven(0, s.severityLevel, LevelReason::kPrincipalRow));
        if (LevelAbove(s.severityLevel, '0')) s.levelSourceIndex = 0;
      }
    }
  }

  if (s.countLevels) CountLevels(s, principal, d, column);
  return kFinaliseDone;
}

}  // namespace

int FinaliseDrg(GroupState& s) {
  const int status = Finalise(s);
  TALLOW_TRACE(s, Finalised(s, status));
  return status;
}

FirstPassFinals::FirstPassFinals(const TableSet& tables) {
  std::vector<int> bases;
  std::vector<int16_t> finals;
  for (int e = 0; e < kEditionCount; ++e) {
    const EditionView view = EditionViewOf(tables, static_cast<Edition>(e));
    if (view.drgRules == nullptr) return;  // not made: every DRG may be given
    for (int mdc = 0; mdc <= kMdcSlots; ++mdc) {
      // What the decision may leave: the reset DRG, a value of a rule of the
      // MDC, and after DRG 468 a value of a rule of MDC 30. (RulesOf gives
      // none for slot 0, which stands for every MDC without rules.)
      bases.assign(1, kUngroupableDrg);
      for (const DrgRule& rule : view.drgRules->RulesOf(mdc)) bases.push_back(DrgValueOf(rule));
      if (std::find(bases.begin(), bases.end(), kUnrelatedOrDrg) != bases.end()) {
        for (const DrgRule& rule : view.drgRules->RulesOf(kUnrelatedOrMdc)) {
          bases.push_back(DrgValueOf(rule));
        }
      }
      // What finalisation makes of it: DRG 470 for a value out of range,
      // else the refined DRG of each re-mapping the value may take.
      Span& span = spans_[static_cast<std::size_t>(e)][static_cast<std::size_t>(mdc)];
      finals.assign(1, static_cast<int16_t>(kUngroupableDrg));
      for (const int base : bases) {
        if (base < 1 || base > kHighestDrg) continue;
        const Remapping* r = RemappingOf(base);
        for (const int d : {r != nullptr ? r->held : base, r != nullptr ? r->otherwise : base}) {
          finals.push_back(RefinedDrgSlotOf(tables, d).refinedDrg);
        }
      }
      std::sort(finals.begin(), finals.end());
      finals.erase(std::unique(finals.begin(), finals.end()), finals.end());
      span.first = static_cast<uint32_t>(values_.size());
      span.count = static_cast<uint32_t>(finals.size());
      values_.insert(values_.end(), finals.begin(), finals.end());
    }
  }
  made_ = true;
}

const FirstPassFinals::Span& FirstPassFinals::SpanOf(Edition edition, int mdc) const {
  const auto slot = static_cast<std::size_t>(mdc >= 1 && mdc <= kMdcSlots ? mdc : 0);
  return spans_[static_cast<std::size_t>(edition)][slot];
}

bool FirstPassFinals::MayGive(Edition edition, int mdc, int finalDrg) const {
  // The newborn path takes its DRG from the birth weight, not the decision.
  if (!made_ || mdc == kNewbornMdc) return true;
  const Span& span = SpanOf(edition, mdc);
  const auto first = values_.begin() + span.first;
  return std::binary_search(first, first + span.count, finalDrg);
}

}  // namespace tallow

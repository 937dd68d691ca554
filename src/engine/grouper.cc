// The Grouper: one GroupCase call groups one case.
#include "engine/grouper.h"

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <utility>

#include "grouper/decide.h"
#include "grouper/lookup.h"
#include "grouper/prepare.h"
#include "grouper/values.h"
#include "refine/finalise.h"
#include "refine/refine.h"

namespace tallow {
namespace {

// Case fields before SetCaseFields binds the caller's texts.
constexpr char kBlankField[] = "        ";

int16_t Truncate16(int value) { return static_cast<int16_t>(value); }

// Whether every finalisation of the case stops before the level count,
// whatever DRG it is given: there is no usable principal diagnosis, or the
// principal's class leads into the newborn path.
bool NoPassCountsLevels(const GroupState& s) {
  if (s.diagnosisCount < 1 || s.diagnosisEntry[0] < 0) return true;
  return DiagnosisClassOf(s, s.diagnosisEntry[0]).mdc == kNewbornMdc;
}

// Whether a level count of the case, whatever its DRG, leaves every level
// '0': no diagnosis position has a refined CC row. (The rows do not depend
// on the pass; the searches are those the count makes, and are remembered.)
bool NoLevelAboveZero(const GroupState& s) {
  const int span = DiagnosisSpanOf(s);
  for (int i = 0; i < span; ++i) {
    if (s.diagnosisEntry[i] >= 0 && FindCcEntryMemoised(s, i) >= 0) return false;
  }
  return true;
}

// The first pass: every procedure ignored, whatever the flags. It starts
// from the state GroupCase leaves after the diagnosis lookups (the entries
// past the procedure span are -2 already).
void RunFirstPass(GroupState& s) {
  s.mdc = kResetMdc;
  s.finalDrg = kUngroupableDrg;
  const int span = ProcedureSpanOf(s);
  for (int i = 0; i < span; ++i) s.procedureEntry[i] = -2;
  ResetDecision(s);
  DecideDrg(s);
  s.finaliseStatus = FinaliseDrg(s);
}

}  // namespace

Grouper::Grouper(std::shared_ptr<const TableSet> tables) : tables_(std::move(tables)) {
  if (tables_ != nullptr) {
    const TableSet& set = *tables_;
    std::call_once(set.conversionsMade,
                   [&set] { set.conversions = std::make_shared<const CodeConversions>(&set); });
    conversions_ = set.conversions;
  }
  state_.tables = tables_.get();
  state_.conversions = conversions_.get();
  state_.caseIdentifier = kBlankField;
  state_.caseDate = kBlankField;
  state_.surgeryModifiers = kBlankField;
  if (tables_ != nullptr) {
    for (int e = 0; e < kEditionCount; ++e) {
      editionViews_[static_cast<std::size_t>(e)] = EditionViewOf(*tables_, static_cast<Edition>(e));
    }
    state_.active = tallow::SelectEdition(*tables_, state_.caseDate);
    firstPassFinals_ = FirstPassFinals(*tables_);
    state_.firstPassFinals = &firstPassFinals_;
  }
}

void Grouper::SetCaseFields(const char* caseIdentifier, const char* caseDate,
                            const char* surgeryModifiers) {
  state_.caseIdentifier = caseIdentifier != nullptr ? caseIdentifier : kBlankField;
  state_.caseDate = caseDate != nullptr ? caseDate : kBlankField;
  state_.surgeryModifiers = surgeryModifiers != nullptr ? surgeryModifiers : kBlankField;
}

void Grouper::BindCodes(const GroupRequest* request) { BindCodeLayout(state_, request); }

void Grouper::SelectEdition(const char* caseDate) {
  if (tables_ == nullptr) return;
  const Edition edition = EditionOf(caseDate != nullptr ? caseDate : kBlankField);
  state_.active = editionViews_[static_cast<std::size_t>(edition)];
}

void Grouper::RealPasses(GroupRequest& request, int flags) {
  GroupState& s = state_;
  const bool traced = s.trace != nullptr;
  // Real passes: one, and one more when the first ends in MDC 14 with DRG
  // 468 (the procedure lookup then drops the codes behind that outcome).
  const int span = ProcedureSpanOf(s);
  for (int budget = 2; budget > 0; --budget) {
    for (int i = 0; i < span; ++i) s.procedureEntry[i] = LookupProcedure(s, i);
    if (kTraceCompiledIn && traced) {
      s.trace->PassStarted(budget == 2 ? TracePass::kReal : TracePass::kSecondReal);
      for (int i = 0; i < s.procedureCount; ++i) {
        s.trace->CodeLookedUp(CodeKind::kProcedure, i, s.procedureWork[i].code,
                              s.procedureEntry[i]);
      }
    }
    if (flags & GroupFlagDecide) {
      ResetDecision(s);
      DecideDrg(s);
    } else {
      s.baseDrg = request.baseDrg;
    }
    if (flags & GroupFlagFinalise) s.finaliseStatus = FinaliseDrg(s);
    if (!(s.mdc == kRepeatPassMdc && s.finalDrg == kUnrelatedOrDrg)) budget = 1;
  }
}

const GroupState& Grouper::RunAside(bool withLevels) {
  // A case with no procedure code groups every real pass as the first pass
  // would: no pass looks up a procedure. What the first pass would leave is
  // then what the real pass holds where it asks: its final DRG when its
  // level count reads it, no saved requirement when it saved none, and no
  // levels when no real pass counted them.
  if (ProcedureSpanOf(state_) == 0) return state_;
  if (asideRan_ && (asideWithLevels_ || !withLevels)) return aside_;
  // The copy holds what the first pass reads as GroupCase left it before
  // the passes: the case values, codes and diagnosis entries (the real
  // passes change none of them) and the CC memo (whose answers hold for the
  // whole case). The rest is reset as GroupCase does before the first pass.
  GroupState& a = aside_;
  static_assert(std::is_trivially_copyable_v<GroupState>);
  std::memcpy(static_cast<void*>(&a), &state_, sizeof a);
  a.trace = nullptr;
  a.firstPass = FirstPass::kRan;
  a.firstPassAside = nullptr;
  a.firstPassDrg = 0;
  a.savedAllDxRequirement.fill(0);
  a.pairFirstIndex = 0;
  a.pairSecondIndex = 0;
  a.diagnosisLevels.fill('0');
  a.countLevels = withLevels;
  RunFirstPass(a);
  asideRan_ = true;
  asideWithLevels_ = withLevels;
  return a;
}

int16_t Grouper::GroupCase(GroupRequest& request, int flags) {
  if (tables_ == nullptr) return -2;
  // The work tables hold 15 diagnoses and 20 procedures.
  if (request.diagnosisCount < 0 || request.diagnosisCount > kMaxDiagnoses ||
      request.procedureCount < 0 || request.procedureCount > kMaxProcedures) {
    return -1;
  }

  GroupState& s = state_;
  // Every case stands alone: nothing of an earlier case's decision or
  // finalisation is read, and the tables are those of this case's date.
  // Within the case the passes share these fields.
  s.firstPassDrg = 0;
  s.savedAllDxRequirement.fill(0);
  s.pairFirstIndex = 0;
  s.pairSecondIndex = 0;
  s.diagnosisLevels.fill('0');
  s.ccMemo.enabled = true;
  s.ccMemo.Clear();
  SelectEdition(s.caseDate);

  s.request = &request;
  s.diagnosisCount = request.diagnosisCount;
  s.procedureCount = request.procedureCount;
  s.age = request.age;
  s.dischargeStatus = request.dischargeStatus;
  s.lengthOfStay = request.lengthOfStay;
  s.sex = (request.sexDigit >= 0 && request.sexDigit <= 8 && request.sexDigit % 2 == 0) ? 2 : 1;
  TALLOW_TRACE(s, CaseStarted(s));
  if (PrepareCaseCodes(s) != 0) return -1;

  // Diagnoses are looked up once; procedures once per pass. Blank positions
  // past the spans are -2 for the whole case (and so is every position past
  // the counts, which nothing reads).
  const bool traced = s.trace != nullptr;
  TALLOW_TRACE_WHEN(traced, s, PassStarted(TracePass::kFirst));
  s.diagnosisEntry.fill(-2);
  s.procedureEntry.fill(-2);
  const int diagnosisSpan = DiagnosisSpanOf(s);
  for (int i = 0; i < diagnosisSpan; ++i) s.diagnosisEntry[i] = LookupDiagnosisAt(s, i);
  if (kTraceCompiledIn && traced) {
    for (int i = 0; i < s.diagnosisCount; ++i) {
      s.trace->CodeLookedUp(CodeKind::kDiagnosis, i, s.diagnosisWork[i].code, s.diagnosisEntry[i]);
    }
  }
  // The whole grouping, untraced, leaves the first pass out: a real pass
  // that comes to read what it leaves has it run on the side (RunAside).
  // A trace hears of every pass as it runs.
  constexpr int kWhole = GroupFlagDecide | GroupFlagFinalise;
  if ((flags & kWhole) == kWhole && !traced && !firstPassAlways_) {
    s.firstPass = FirstPass::kLeftOut;
    s.firstPassReads = 0;
    s.levelsCounted = false;
    s.allDxRequirementSaved = false;
    s.firstPassAside = this;
    asideRan_ = false;
    s.mdc = kResetMdc;
    s.finalDrg = kUngroupableDrg;
    RealPasses(request, flags);
    // With no real level count the first pass's levels stay, unless every
    // finalisation of the case stops before its level count or no count
    // can give a level.
    if (!s.levelsCounted && !NoPassCountsLevels(s) && !NoLevelAboveZero(s)) {
      s.diagnosisLevels = RunAside(true).diagnosisLevels;
      s.firstPassReads |= kReadDiagnosisLevels;
    }
    s.firstPassAside = nullptr;
  } else {
    s.firstPass = FirstPass::kRan;
    RunFirstPass(s);
    s.mdc = kResetMdc;
    s.firstPassDrg = s.finalDrg;
    s.finalDrg = kUngroupableDrg;
    RealPasses(request, flags);
  }

  if (flags & GroupFlagDecide) {
    request.baseDrg = Truncate16(s.baseDrg);
    request.mdc = Truncate16(s.mdc);
    request.groupStatus = Truncate16(s.groupStatus);
    request.orProcedureIndex = Truncate16(s.orProcedureIndex);
    request.secondaryIndex = Truncate16(s.secondaryIndex);
    request.secondSecondaryIndex = Truncate16(s.secondSecondaryIndex);
    request.secondOrProcedureIndex = Truncate16(s.secondOrProcedureIndex);
    request.nonOrProcedureIndex = Truncate16(s.nonOrProcedureIndex);
    request.secondNonOrProcedureIndex = Truncate16(s.secondNonOrProcedureIndex);
    request.ccIndex = Truncate16(s.ccIndex);
  }
  if (flags & GroupFlagFinalise) {
    request.underEighteen = s.age < 18 ? 1 : 0;
    request.finalDrg = Truncate16(s.finalDrg);
    request.groupCode = MakeRefinedCode(s);
    request.finaliseStatus = Truncate16(s.finaliseStatus);
    request.levelSourceIndex = Truncate16(s.levelSourceIndex);
  }

  char* out = request.versionDateOut;
  constexpr std::size_t kVersionLength = sizeof(VersionDate) - 1;
  if (out != nullptr && std::memchr(out, '\0', kVersionLength) == nullptr) {
    std::memcpy(out, VersionDate, sizeof(VersionDate));
  }
  return 0;
}

}  // namespace tallow

// The case attribute mask, the MDC, the CC test and the rule walk that
// decides the base DRG.
#include "grouper/decide.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>

#include "grouper/lookup.h"
#include "grouper/values.h"
#include "tables/codes.h"

namespace tallow {
namespace {

// caseMask byte 0 (rule byte 1)
constexpr uint8_t kSex1 = 0x01;
constexpr uint8_t kSex2 = 0x02;
constexpr uint8_t kStatus4 = 0x04;
constexpr uint8_t kOrProcedure = 0x08;
constexpr uint8_t kCc = 0x10;
constexpr uint8_t kAdult = 0x80;
// caseMask byte 1 (rule byte 2)
constexpr uint8_t kAge36 = 0x20;
constexpr uint8_t kStatusValidNot4 = 0x80;

// Condition bits of rule byte 2
constexpr uint8_t kEveryOrCovered = 0x01;
constexpr uint8_t kIgnoredBit = 0x04;
constexpr uint8_t kEveryDxCovered = 0x08;
constexpr uint8_t kStatusBitsByte2 = 0x80 | 0x40 | 0x02;
// Condition bits of rule byte 3
constexpr uint8_t kNoSecondProperty = 0x20;
constexpr uint8_t kSomeOrUncovered = 0x40;
constexpr uint8_t kTwoOrCovered = 0x80;

// Rule record positions
constexpr int kRuleDxAll = 14;       // 14-18: some diagnosis / every-diagnosis mask
constexpr int kRuleDxSecondary = 9;  // 9-13: some secondary diagnosis
constexpr int kRuleProc = 19;        // 19-38: procMask
constexpr int kRuleNonOr = 39;       // 39-40: nonOrMask

// workFlags
constexpr uint8_t kWorkOr = 0x01;
constexpr uint8_t kWorkPair = 0x02;

// A rule's 46 bytes: 0 drgKey, 1-42 require, 43 drgDigit, 44-45 drgNumber.
using RuleBytes = std::array<uint8_t, 46>;

template <std::size_t N>
bool SharesBit(const uint8_t* a, const std::array<uint8_t, N>& b) {
  for (std::size_t k = 0; k < N; ++k) {
    if ((a[k] & b[k]) != 0) return true;
  }
  return false;
}

template <std::size_t N>
bool AllZero(const std::array<uint8_t, N>& a) {
  return std::all_of(a.begin(), a.end(), [](uint8_t v) { return v == 0; });
}

bool ProcedureCovered(const ProcedureWorkEntry& p, const uint8_t* procRequirement) {
  return SharesBit(procRequirement, p.procMask);
}

bool DiagnosisCovered(const DiagnosisWorkEntry& d, const uint8_t* dxRequirement) {
  return SharesBit(dxRequirement, d.dxMask);
}

// caseMask bytes 0..41 in the layout of RuleWords: rule byte k + 1 and mask
// byte k share a place.
RuleWords CaseWordsOf(const std::array<uint8_t, kCaseMaskBytes>& mask) {
  RuleWords words{};
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(words.data(), mask.data(), 42);  // the words' own byte order
  } else {
    for (std::size_t k = 0; k < 42; ++k) {
      words[k / 8] |= static_cast<uint64_t>(mask[k]) << (8 * (k % 8));
    }
  }
  return words;
}

// Rule bytes 1, 2 and 3 sit at these shifts of word 0.
constexpr int kByte1Shift = 0;
constexpr int kByte2Shift = 8;
constexpr int kByte3Shift = 16;

// The bits of word 0 that a rule whose conditions (rule byte 2 | byte 3 <<
// 8) hold no longer demands of the mask: each condition bit that was tested,
// and the ignored bit.
uint64_t ConditionBitsOf(unsigned conditions) {
  const unsigned r2 = conditions & 0xFF;
  const unsigned r3 = conditions >> 8;
  const unsigned byte2 = kIgnoredBit | (r2 & (kEveryOrCovered | kEveryDxCovered));
  unsigned byte3 = r3 & (kTwoOrCovered | kNoSecondProperty);
  if (!(r2 & kEveryOrCovered)) byte3 |= r3 & kSomeOrUncovered;
  return (static_cast<uint64_t>(byte2) << kByte2Shift) | (static_cast<uint64_t>(byte3) << kByte3Shift);
}

enum class WalkEnd {
  kAccepted,   // a rule was accepted; it and its DRG value are returned
  kStopped,    // a validity check stopped the decision; groupStatus is set
  kExhausted,  // no rule of the list was accepted
};

// Evaluates the condition bits of one rule: the first condition that
// rejects it, or kNone when the bits ConditionBitsOf names are met.
RuleReason ConditionFailure(GroupState& s, const uint8_t* r) {
  const uint8_t* procRequirement = &r[kRuleProc];
  if (r[2] & kEveryOrCovered) {
    if (s.procedureCount == 0) return RuleReason::kEveryOrCovered;
    for (int i = 0, end = ProcedureSpanOf(s); i < end; ++i) {
      const ProcedureWorkEntry& p = s.procedureWork[i];
      if ((p.workFlags & kWorkOr) && !ProcedureCovered(p, procRequirement)) {
        return RuleReason::kEveryOrCovered;
      }
    }
  } else if (r[3] & kSomeOrUncovered) {
    if (s.procedureCount == 0) return RuleReason::kSomeOrUncovered;
    int uncovered = -1;
    for (int i = 0, end = ProcedureSpanOf(s); i < end && uncovered < 0; ++i) {
      const ProcedureWorkEntry& p = s.procedureWork[i];
      if ((p.workFlags & kWorkOr) && !ProcedureCovered(p, procRequirement)) uncovered = i;
    }
    if (uncovered < 0) return RuleReason::kSomeOrUncovered;
    s.secondOrProcedureIndex = uncovered;
  }

  if (r[2] & kEveryDxCovered) {
    std::memcpy(s.savedAllDxRequirement.data(), &r[kRuleDxAll], 5);
    s.allDxRequirementSaved = true;
    for (int i = 0, end = DiagnosisSpanOf(s); i < end; ++i) {
      if (s.diagnosisEntry[i] >= 0 && !DiagnosisCovered(s.diagnosisWork[i], &r[kRuleDxAll])) {
        return RuleReason::kEveryDxCovered;
      }
    }
  }

  if (r[3] & kTwoOrCovered) {
    if (s.procedureCount == 0) return RuleReason::kTwoOrCovered;
    int covered = 0;
    for (int i = 0, end = ProcedureSpanOf(s); i < end; ++i) {
      const ProcedureWorkEntry& p = s.procedureWork[i];
      if ((p.workFlags & kWorkOr) && ProcedureCovered(p, procRequirement)) ++covered;
    }
    if (covered < 2) return RuleReason::kTwoOrCovered;
    s.twoProceduresDemanded = true;  // stays set even when the rule fails later
  }

  if ((r[3] & kNoSecondProperty) && s.bit1ProcedurePresent) return RuleReason::kNoSecondProperty;
  return RuleReason::kNone;
}

// Condition bits of rule bytes 2 and 3 that call ConditionFailure.
constexpr unsigned kConditionsByte2 = kEveryOrCovered | kEveryDxCovered;
constexpr unsigned kConditionsByte3 = kSomeOrUncovered | kTwoOrCovered | kNoSecondProperty;

// Whether the words required of word 0 (given apart, as the conditions and
// the status tolerance clear bits of it) and of words 1-5 are all in the
// case words.
bool MaskMatches(uint64_t need0, const RuleWords& need, const RuleWords& have) {
  if ((need0 & ~have[0]) != 0) return false;
  uint64_t missing = 0;
  for (std::size_t w = 1; w < need.size(); ++w) missing |= need[w] & ~have[w];
  return missing == 0;
}

// For the trace: the 1-based rule byte and the bit of the first required bit
// the case words lack.
void FirstMissingBit(uint64_t need0, const RuleWords& need, const RuleWords& have, int* ruleByte,
                     int* bit) {
  for (std::size_t w = 0; w < need.size(); ++w) {
    const uint64_t missing = (w == 0 ? need0 : need[w]) & ~have[w];
    if (missing == 0) continue;
    const int at = std::countr_zero(missing);
    *ruleByte = static_cast<int>(w) * 8 + at / 8 + 1;
    *bit = at % 8;
    return;
  }
  *ruleByte = 0;
  *bit = 0;
}

// Walks the rules of one MDC in order and returns how the walk ended. On
// kAccepted, `accepted` is the accepted rule and `value` its DRG value. With
// kTraced the trace hears of every rule, with its 1-based number in the rule
// table; the walk of a normal run is made without a test for it.
// With kLoaded the words made at load are read, else the same words are
// made here for each rule (a table that was not loaded). With kKeyed only the
// rules of `keyed` are walked: those whose key does not pass them over; with
// `word0` (word 0 of each of those rules, side by side) as well, a rule that
// word 0 alone rejects is passed over before its own words are read.
template <bool kTraced, bool kLoaded, bool kKeyed = false>
WalkEnd WalkRulesOf(GroupState& s, const std::span<const DrgRule> rules, std::size_t first,
                    int mdc, const DrgRule*& accepted, int& value,
                    std::span<const uint8_t> keyed = {}, const uint64_t* word0 = nullptr) {
  const WalkRule* walk = kLoaded ? &s.active.drgRules->walkRules[first] : nullptr;
  const RuleWords have = CaseWordsOf(s.caseMask);
  const uint8_t key = s.principalDrgKey;
  const uint8_t caseErrors = s.caseErrors;  // the walk leaves it alone
  // A rule without conditions is rejected by word 0 just when its bits
  // (less the ignored bit) are not all in the case's word 0; with a case
  // error the rule may stop the walk first, so none is passed over then.
  constexpr uint64_t kConditionWordBits =
      (uint64_t{kConditionsByte2} << kByte2Shift) | (uint64_t{kConditionsByte3} << kByte3Shift);
  const uint64_t quickHave =
      caseErrors == 0 ? have[0] | (uint64_t{kIgnoredBit} << kByte2Shift) : ~uint64_t{0};
  WalkRule made;
  auto tell = [&](std::size_t i, RuleOutcome outcome, RuleReason reason, int ruleByte = 0,
                  int bit = 0) {
    if constexpr (kTraced) {
      s.trace->RuleTried(static_cast<int>(first + i + 1), mdc, DrgValueOf(rules[i]), outcome,
                         reason, ruleByte, bit);
    }
  };

  const std::size_t steps = kKeyed ? keyed.size() : rules.size();
  for (std::size_t step = 0; step < steps; ++step) {
    if constexpr (kKeyed && !kTraced) {
      if (word0 != nullptr) {
        const uint64_t w0 = word0[step];
        if ((w0 & kConditionWordBits) == 0 && (w0 & ~quickHave) != 0) {
          s.secondOrProcedureIndex = -1;  // as for every rule tried
          continue;
        }
      }
    }
    const std::size_t i = kKeyed ? keyed[step] : step;
    const DrgRule& rule = rules[i];
    const uint8_t* r = rule.bytes.data();
    if (!kKeyed && r[0] != 0 && r[0] != key) {
      tell(i, RuleOutcome::kSkipped, RuleReason::kPrincipalKey);
      continue;
    }
    s.secondOrProcedureIndex = -1;
    if constexpr (!kLoaded) made = WalkRuleOf(rule);
    const WalkRule& w = kLoaded ? walk[i] : made;
    const RuleWords& need = w.words;
    uint64_t need0 = need[0];
    const unsigned conditions = w.conditions;
    if ((conditions & (kConditionsByte2 | kConditionsByte3 << 8)) != 0) {
      if (const RuleReason failure = ConditionFailure(s, r); failure != RuleReason::kNone) {
        tell(i, RuleOutcome::kRejected, failure);
        continue;
      }
      need0 &= ~ConditionBitsOf(conditions);
    } else {
      need0 &= ~(static_cast<uint64_t>(kIgnoredBit) << kByte2Shift);
    }

    if (caseErrors != 0) {
      const bool testsAge = (r[1] & kAdult) || (r[2] & kAge36);
      if (testsAge && (caseErrors & kAgeInvalid)) {
        s.groupStatus = kGroupAgeInvalid;
        tell(i, RuleOutcome::kStopped, RuleReason::kAgeInvalid);
        return WalkEnd::kStopped;
      }
      const bool testsSex = (r[1] & (kSex1 | kSex2)) != 0;
      if (testsSex && (caseErrors & kSexInvalid)) {
        s.groupStatus = kGroupSexInvalid;
        tell(i, RuleOutcome::kStopped, RuleReason::kSexInvalid);
        return WalkEnd::kStopped;
      }
      const bool testsStatus = (r[1] & kStatus4) || (r[2] & kStatusBitsByte2);
      if (testsStatus && (caseErrors & kStatusInvalid)) {
        // DRG values 1210-1230 tolerate an invalid status as long as the
        // rule does not otherwise match.
        const int v = DrgValueOf(rule);
        if (v < 1210 || v > 1230) {
          s.groupStatus = kGroupStatusInvalid;
          tell(i, RuleOutcome::kStopped, RuleReason::kStatusInvalid);
          return WalkEnd::kStopped;
        }
        need0 &= ~((static_cast<uint64_t>(kStatus4) << kByte1Shift) |
                   (static_cast<uint64_t>(kStatusBitsByte2) << kByte2Shift));
        if (MaskMatches(need0, need, have)) {
          s.groupStatus = kGroupStatusInvalid;
          tell(i, RuleOutcome::kStopped, RuleReason::kStatusInvalid);
          return WalkEnd::kStopped;
        }
        tell(i, RuleOutcome::kRejected, RuleReason::kStatusTolerated);
        continue;
      }
    }

    if (!MaskMatches(need0, need, have)) {
      if constexpr (kTraced) {
        int ruleByte = 0;
        int bit = 0;
        FirstMissingBit(need0, need, have, &ruleByte, &bit);
        tell(i, RuleOutcome::kRejected, RuleReason::kMaskBit, ruleByte, bit);
      }
      continue;
    }
    accepted = &rule;
    value = DrgValueOf(rule);
    tell(i, RuleOutcome::kAccepted, RuleReason::kNone);
    return WalkEnd::kAccepted;
  }
  return WalkEnd::kExhausted;
}

WalkEnd WalkRules(GroupState& s, int mdc, const DrgRule*& accepted, int& value) {
  const DrgRuleTable& table = *s.active.drgRules;
  const std::span<const DrgRule> rules = table.RulesOf(mdc);
  if (rules.empty()) return WalkEnd::kExhausted;
  const auto first = static_cast<std::size_t>(rules.data() - table.rules.data());
  const bool loaded = table.walkRules.size() == table.rules.size();
  if (kTraceCompiledIn && s.trace != nullptr) [[unlikely]] {
    return loaded ? WalkRulesOf<true, true>(s, rules, first, mdc, accepted, value)
                  : WalkRulesOf<true, false>(s, rules, first, mdc, accepted, value);
  }
  if (!loaded) return WalkRulesOf<false, false>(s, rules, first, mdc, accepted, value);
  if (table.keyedRunOf.empty()) return WalkRulesOf<false, true>(s, rules, first, mdc, accepted, value);
  const std::span<const uint8_t> keyed = table.KeyedRulesOf(mdc, s.principalDrgKey);
  const uint64_t* word0 =
      !keyed.empty() && table.keyedWord0.size() == table.keyedRules.size()
          ? table.keyedWord0.data() + (keyed.data() - table.keyedRules.data())
          : nullptr;
  return WalkRulesOf<false, true, true>(s, rules, first, mdc, accepted, value, keyed, word0);
}

// Records which procedures and diagnoses the accepted rule used.
void RecordCodesUsed(GroupState& s, const RuleBytes& rule) {
  // Operating-room procedures.
  if (rule[1] & kOrProcedure) {
    std::array<uint8_t, kProcMaskBytes> remaining{};
    std::memcpy(remaining.data(), &rule[kRuleProc], kProcMaskBytes);
    int demanded = 0;
    for (int i = 0, end = ProcedureSpanOf(s); i < end; ++i) {
      const ProcedureWorkEntry& p = s.procedureWork[i];
      if (!(p.workFlags & kWorkOr)) continue;
      if (AllZero(remaining)) {
        if (p.workFlags & kWorkPair) {
          s.orProcedureIndex = s.pairFirstIndex;
          s.secondOrProcedureIndex = s.pairSecondIndex;
        } else {
          s.orProcedureIndex = i;
        }
        break;
      }
      if (!ProcedureCovered(p, remaining.data())) continue;
      if (s.orProcedureIndex == -1) {
        s.orProcedureIndex = i;
      } else {
        s.secondOrProcedureIndex = i;
      }
      if (s.twoProceduresDemanded) {
        // The first of two demanded procedures leaves the mask whole.
        if (++demanded < 2) continue;
        s.twoProceduresDemanded = false;
      }
      for (int k = 0; k < kProcMaskBytes; ++k) remaining[k] &= static_cast<uint8_t>(~p.procMask[k]);
      if (AllZero(remaining)) break;
    }
  }

  // Non-operating-room procedures.
  std::array<uint8_t, 2> nonOr = {rule[kRuleNonOr], rule[kRuleNonOr + 1]};
  if (!AllZero(nonOr)) {
    for (int i = 0, end = ProcedureSpanOf(s); i < end; ++i) {
      const ProcedureWorkEntry& p = s.procedureWork[i];
      if ((p.workFlags & kWorkOr) || !SharesBit(nonOr.data(), p.nonOrMask)) continue;
      if (s.nonOrProcedureIndex != -1) {
        s.secondNonOrProcedureIndex = i;
        break;
      }
      s.nonOrProcedureIndex = i;
      for (int k = 0; k < 2; ++k) nonOr[k] &= static_cast<uint8_t>(~p.nonOrMask[k]);
      if (AllZero(nonOr)) break;
    }
  }

  // Secondary diagnoses.
  if (s.baseDrg == 3900) {
    // Without the first pass the requirement may be one it saved.
    if (s.firstPass == FirstPass::kLeftOut && !s.allDxRequirementSaved) {
      s.savedAllDxRequirement = s.firstPassAside->RunAside(false).savedAllDxRequirement;
      s.allDxRequirementSaved = true;
      s.firstPassReads |= kReadAllDxRequirement;
    }
    // A blank position is never covered: the whole count is searched.
    for (int i = 1; i < s.diagnosisCount; ++i) {
      if (!DiagnosisCovered(s.diagnosisWork[i], s.savedAllDxRequirement.data())) {
        s.secondaryIndex = i;
        break;
      }
    }
  } else if (s.baseDrg != 3910) {
    std::array<uint8_t, 5> dx{};
    for (int k = 0; k < 5; ++k) {
      dx[k] = static_cast<uint8_t>(rule[kRuleDxAll + k] | rule[kRuleDxSecondary + k]);
    }
    for (int i = 1, end = DiagnosisSpanOf(s); i < end && !AllZero(dx); ++i) {
      const DiagnosisWorkEntry& d = s.diagnosisWork[i];
      if (!SharesBit(dx.data(), d.dxMask)) continue;
      if (s.secondaryIndex != -1) {
        s.secondSecondaryIndex = i;
        break;
      }
      s.secondaryIndex = i;
      for (int k = 0; k < 5; ++k) dx[k] &= static_cast<uint8_t>(~d.dxMask[k]);
    }
  }

  if (!(rule[1] & kCc)) s.ccIndex = -1;
}

// to[k] |= from[k] for k < n, eight bytes at a time.
void OrBytes(uint8_t* to, const uint8_t* from, std::size_t n) {
  std::size_t k = 0;
  for (; k + 8 <= n; k += 8) {
    uint64_t a = 0;
    uint64_t b = 0;
    std::memcpy(&a, to + k, 8);
    std::memcpy(&b, from + k, 8);
    a |= b;
    std::memcpy(to + k, &a, 8);
  }
  for (; k < n; ++k) to[k] |= from[k];
}

// Adds the diagnoses to the case mask and takes the MDC from the principal.
// False when the principal diagnosis is unusable and the decision stops.
bool AddDiagnoses(GroupState& s) {
  auto& mask = s.caseMask;
  // The principal position is read even when blank.
  const int span = std::max(DiagnosisSpanOf(s), std::min(s.diagnosisCount, 1));
  for (int i = 0; i < span; ++i) {
    const int e = s.diagnosisEntry[i];
    if (e < 0) {
      if (i == 0) {
        TALLOW_TRACE(s, PrincipalTaken(e, s.mdc, 0));
        return false;
      }
      continue;
    }
    const DiagnosisClass& c = DiagnosisClassOf(s, e);
    if (i == 0) {
      s.mdc = c.mdc;
      TALLOW_TRACE(s, PrincipalTaken(e, c.mdc, c.drgKey));
      if (s.mdc == 0) return false;
      s.principalDrgKey = c.drgKey;
      std::memcpy(&mask[3], c.dxMask.data(), c.dxMask.size());
    } else {
      OrBytes(&mask[8], c.dxMask.data(), 5);
      if (c.ccFlag == 1) {
        const bool excluded = IsCcExcluded(s, e, i) != 0;
        TALLOW_TRACE(s, CcTested(i, excluded));
        if (!excluded) {
          mask[0] |= kCc;
          if (s.ccIndex == -1) s.ccIndex = i;
        }
      }
    }
    s.diagnosisWork[i].dxMask = c.dxMask;
    s.classedDiagnoses = static_cast<uint16_t>(s.classedDiagnoses | (1u << i));
  }
  for (int k = 0; k < 5; ++k) mask[13 + k] = static_cast<uint8_t>(mask[3 + k] | mask[8 + k]);
  return true;
}

// Adds the procedures to the case mask and marks operating-room procedures
// and procedure pairs in the work entries.
void AddProcedures(GroupState& s) {
  auto& mask = s.caseMask;
  uint8_t pairA = 0;
  uint8_t pairB = 0;
  unsigned orProcedure = 0;
  unsigned bit1 = 0;
  const bool beforeDatedTables = DateBefore(s.caseDate, "20020101");
  for (int i = 0, end = ProcedureSpanOf(s); i < end; ++i) {
    const int e = s.procedureEntry[i];
    if (e < 0) continue;
    const ProcedureClass& p = ProcedureClassOf(s, e, beforeDatedTables);
    ProcedureWorkEntry& w = s.procedureWork[i];
    // Class byte 0 bit 0: an operating-room procedure; bit 1: the bit-1
    // procedure. Taken without a branch: they vary from code to code in no
    // order a predictor could learn.
    static_assert(kWorkOr == 0x01);
    const uint8_t flags = p.bytes[0];
    w.workFlags = static_cast<uint8_t>(w.workFlags | (flags & 0x01));
    orProcedure |= flags & 0x01;
    bit1 |= flags & 0x02;
    s.classedProcedures |= uint32_t{1} << i;
    // Copies of a size known here, made in place rather than by a call.
    static_assert(sizeof w.procMask == kProcMaskBytes && sizeof w.nonOrMask == 2);
    std::memcpy(w.procMask.data(), &p.bytes[kProcMaskOffset], kProcMaskBytes);
    std::memcpy(w.nonOrMask.data(), &p.bytes[kNonOrMaskOffset], 2);
    OrBytes(&mask[18], &p.bytes[1], 25);
    pairA |= w.procMask[18];
    pairB |= w.procMask[19];
  }
  mask[0] = static_cast<uint8_t>(mask[0] | (orProcedure != 0 ? kOrProcedure : 0));
  s.bit1ProcedurePresent = s.bit1ProcedurePresent || bit1 != 0;

  // A procedure pair: one procedure with a bit in procMask byte 18 and
  // another with the same bit in byte 19 count as an operating-room
  // procedure together.
  const auto pair = static_cast<uint8_t>(pairA & pairB);
  if (pair == 0) return;
  mask[0] |= kOrProcedure;
  // Entries without a class have zero masks and take no part.
  for (uint32_t m = s.classedProcedures; m != 0; m &= m - 1) {
    const int i = std::countr_zero(m);
    ProcedureWorkEntry& w = s.procedureWork[static_cast<std::size_t>(i)];
    w.procMask[18] &= pair;
    if (w.procMask[18] != 0) {
      s.pairFirstIndex = i;
      w.workFlags |= kWorkOr | kWorkPair;
      continue;
    }
    w.procMask[19] &= pair;
    if (w.procMask[19] != 0) {
      s.pairSecondIndex = i;
      w.workFlags |= kWorkOr | kWorkPair;
    }
  }
}

}  // namespace

void ResetDecision(GroupState& s) {
  s.ccIndex = -1;
  s.secondNonOrProcedureIndex = -1;
  s.nonOrProcedureIndex = -1;
  s.secondOrProcedureIndex = -1;
  s.secondSecondaryIndex = -1;
  s.secondaryIndex = -1;
  s.orProcedureIndex = -1;

  s.principalDrgKey = 0;
  s.caseMask.fill(0);
  s.baseDrg = kUngroupableDrg;
  s.groupStatus = kGroupPrincipalUnusable;
  s.mdc = kResetMdc;

  // The demographic bits, made without a branch on the case's values (which
  // vary from case to case in no order a predictor could learn).
  auto bit = [](bool on, uint8_t b) { return static_cast<uint8_t>(-static_cast<int>(on) & b); };
  const bool ageValid = s.age >= 0 && s.age <= 124;
  const bool status4 = s.dischargeStatus == 4;
  const bool statusValid = s.dischargeStatus >= 0;
  s.caseMask[0] = static_cast<uint8_t>(bit(ageValid && s.age >= 18, kAdult) | bit(s.sex == 1, kSex1) |
                                       bit(s.sex == 2, kSex2) | bit(status4, kStatus4));
  s.caseMask[1] = static_cast<uint8_t>(bit(ageValid && s.age >= 36, kAge36) |
                                       bit(statusValid && !status4, kStatusValidNot4));
  s.caseErrors = static_cast<uint8_t>(bit(!ageValid, kAgeInvalid) |
                                      bit(s.sex != 1 && s.sex != 2, kSexInvalid) |
                                      bit(!statusValid, kStatusInvalid));

  // Only filled entries need clearing.
  for (unsigned m = s.classedDiagnoses; m != 0; m &= m - 1) {
    s.diagnosisWork[static_cast<std::size_t>(std::countr_zero(m))].dxMask.fill(0);
  }
  s.classedDiagnoses = 0;
  for (uint32_t m = s.classedProcedures; m != 0; m &= m - 1) {
    ProcedureWorkEntry& w = s.procedureWork[static_cast<std::size_t>(std::countr_zero(m))];
    w.procMask.fill(0);
    w.nonOrMask.fill(0);
    w.workFlags = 0;
  }
  s.classedProcedures = 0;
}

namespace {

void Decide(GroupState& s) {
  s.bit1ProcedurePresent = false;
  s.twoProceduresDemanded = false;
  s.unrelatedRetry = false;

  if (!AddDiagnoses(s)) return;
  AddProcedures(s);
  TALLOW_TRACE(s, CaseMaskMade(s));

  const DrgRule* accepted = nullptr;
  int value = 0;
  TALLOW_TRACE(s, WalkStarted(s.mdc, false));
  WalkEnd end = WalkRules(s, s.mdc, accepted, value);
  if (end == WalkEnd::kAccepted && value == kUnrelatedOrDrg) {
    // DRG 468 (unrelated operating-room procedure): walk the MDC 30 rules
    // once and take what they give, 468 included.
    s.unrelatedRetry = true;
    s.savedMdc = s.mdc;
    s.mdc = kUnrelatedOrMdc;
    TALLOW_TRACE(s, WalkStarted(kUnrelatedOrMdc, true));
    end = WalkRules(s, kUnrelatedOrMdc, accepted, value);
    if (end == WalkEnd::kAccepted) s.mdc = s.savedMdc;
  }
  if (end == WalkEnd::kExhausted) {
    s.groupStatus = kGroupNoRuleMatched;
    return;
  }
  if (end == WalkEnd::kStopped) return;

  s.baseDrg = value;
  s.groupStatus = value == kUngroupableDrg ? kGroupRuleUngroupable : kGroupGrouped;
  RecordCodesUsed(s, accepted->bytes);
}

}  // namespace

void DecideDrg(GroupState& s) {
  Decide(s);
  TALLOW_TRACE(s, Decided(s));
}

namespace {

// FindCcRow(table, key) where key is the key of `entry` of the active
// diagnosis table into `table`: the row made at load when the active tables
// are those it was made for, else the search.
int CcRowOf(const GroupState& s, const CcExclusionTable& table, int key, int entry) {
  const TableSet& tables = *s.tables;
  const DiagnosisTable& dx = *s.active.diagnosis;
  const Edition edition = s.active.edition;
  if (!dx.entryFacts.empty() && &dx == &tables.diagnosis[static_cast<std::size_t>(edition)] &&
      &CcExclusionTableOf(tables, edition) == &table) {
    const int row = dx.entryFacts[static_cast<std::size_t>(entry)].ccExclusionRow;
    if (row != kCcRowSearch) return row;
  }
  return FindCcRow(table, key);
}

// The CCTAB key of an entry of the active diagnosis table.
int CcKeyOf(const DiagnosisTable& dx, int entry) {
  const auto at = static_cast<std::size_t>(entry);
  return dx.entryFacts.empty() ? dx.entryCcRow[at] : dx.entryFacts[at].ccKey;
}

// The first entry of the work code at a position: remembered while the memo
// is enabled (the principal's serves every secondary).
int FirstEntryAt(const GroupState& s, int position) {
  CcMemo& memo = s.ccMemo;
  const char* code = s.diagnosisWork[static_cast<std::size_t>(position)].code;
  if (!memo.enabled || position < 0 || position >= kMaxDiagnoses) return FindDiagnosisEntry(s, code);
  int16_t& known = memo.firstEntry[static_cast<std::size_t>(position)];
  if (known == CcMemo::kUnknown) known = static_cast<int16_t>(FindDiagnosisEntry(s, code));
  return known;
}

// IsCcExcluded without the memo (but for the principal's entry).
int SearchCcExclusion(const GroupState& s, int entry, int position) {
  const TableSet& tables = *s.tables;
  if (DateBefore(s.caseDate, "20020101")) {
    // CCTAB: keyed by the principal's CC row, listing secondaries' CC rows.
    const int principal = s.diagnosisEntry[0];
    if (entry < 0 || principal < 0) return 0;
    const DiagnosisTable& dx = *s.active.diagnosis;
    const int row = CcRowOf(s, tables.ccRange, CcKeyOf(dx, principal), principal);
    if (row < 0) return 0;
    return InExclusionList(tables.ccRange, row, CcKeyOf(dx, entry)) ? 1 : 0;
  }
  // CCTAB0 / CCTAB1: keyed by the secondary's first entry, listing the
  // first entries of principals.
  const CcExclusionTable& table = tables.ccEntry[DateBefore(s.caseDate, "20030101") ? 0 : 1];
  const int secondary = FirstEntryAt(s, position);
  const int principal = FirstEntryAt(s, 0);
  if (secondary < 0 || principal < 0) return 0;
  const int row = CcRowOf(s, table, secondary, secondary);
  if (row < 0) return 0;
  return InExclusionList(table, row, principal) ? 1 : 0;
}

}  // namespace

int IsCcExcluded(const GroupState& s, int entry, int position) {
  CcMemo& memo = s.ccMemo;
  const bool memoised = memo.enabled && position >= 0 && position < kMaxDiagnoses &&
                        entry == s.diagnosisEntry[position];
  if (memoised && memo.excluded[position] >= 0) return memo.excluded[position];
  const int excluded = SearchCcExclusion(s, entry, position);
  if (memoised) memo.excluded[position] = static_cast<int8_t>(excluded);
  return excluded;
}

}  // namespace tallow

// The six-digit refined group code.
//
// Layout before the adjustments by delivery rules, lists and procedures:
//   from case date "20020101": DRG value (4 digits), age digit, level digit;
//   before it:                 DRG value with the age digit added to its last
//                              digit (4), level digit, a final digit (0).
// The age digit is 1 for an age-split DRG and a patient under 18. A code is
// kept only when it is one of the accepted codes of its date window.
#include "refine/refined_code.h"

#include <algorithm>
#include <cstring>

#include "grouper/lookup.h"
#include "grouper/values.h"
#include "refine/finalise.h"
#include "refine/fixed_lists.h"
#include "refine/procedure_splits.h"
#include "refine/refine.h"
#include "tables/codes.h"

namespace tallow {
namespace {

constexpr char kSpecialIdentifier[] = "11100010";

bool CodeIs(const char* code, const char* text) { return PackCode(code) == PackCode(text); }

// Five-character text order (bytes as unsigned values).
int CompareCode(const char* code, const char* text) {
  const uint64_t a = PackCode(code);
  const uint64_t b = PackCode(text);
  return a < b ? -1 : (a > b ? 1 : 0);
}

bool CodeBetween(const char* code, const char* first, const char* last) {
  return CompareCode(code, first) >= 0 && CompareCode(code, last) <= 0;
}

bool AnyWorkProcedureIs(const GroupState& s, const char* text) {
  const int count = ProcedureSpanOf(s);
  for (int i = 0; i < count; ++i)
    if (CodeIs(s.procedureWork[i].code, text)) return true;
  return false;
}

bool AnyRequestProcedureIs(const GroupState& s, const char* text) {
  const int count = ProcedureSpanOf(s);
  for (int i = 0; i < count; ++i)
    if (CodeIs(RequestProcedureCode(s, i), text)) return true;
  return false;
}

bool AnyRequestProcedureIn(const GroupState& s, CodeList list) {
  const int count = ProcedureSpanOf(s);
  for (int i = 0; i < count; ++i)
    if (InCodeList(list, RequestProcedureCode(s, i))) return true;
  return false;
}

// The request's diagnosis code at a position, five blanks for a null code.
const char* RequestDiagnosisCode(const GroupState& s, int position) {
  const char* code = s.request != nullptr ? s.request->diagnosisCodes[position] : nullptr;
  return code != nullptr ? code : kBlankCode;
}

bool AnyRequestDiagnosisIn(const GroupState& s, CodeList list) {
  const int count = DiagnosisSpanOf(s);
  for (int i = 0; i < count; ++i)
    if (InCodeList(list, RequestDiagnosisCode(s, i))) return true;
  return false;
}

bool IdentifierIs(const GroupState& s, const char* text) {
  return s.caseIdentifier != nullptr && std::memcmp(s.caseIdentifier, text, 8) == 0;
}

// 1 when the DRG (with its split digit cleared) is age-split and the patient
// is under 18; DRG value 410 never is.
int AgeDigit(const GroupState& s, int d) {
  if (d < 1 || d > kHighestDrg || d == 410) return 0;
  if (s.age < 0 || s.age >= 18) return 0;
  return RefinedDrgSlotOf(s, d / 10 * 10).ageSplit ? 1 : 0;
}

// The delivery DRGs keep their code only for the principal diagnoses of a
// delivery; "R4380" marks the code of DRGs 3720..3730.
int32_t ApplyDeliveryRules(const GroupState& s, int32_t code, int d, const char* principal) {
  const char* date = CaseDateOf(s);
  const bool isNew = !DateBefore(date, "20020101");
  if (d == 3700) {
    if (!isNew) {
      if (!CodeBetween(principal, "O820 ", "O829 ") && !CodeIs(principal, "O842 ")) code = 0;
    } else {
      const bool below = CompareCode(principal, "O820 ") < 0;
      const bool gap = CompareCode(principal, "O829 ") > 0 && CompareCode(principal, "O848 ") < 0 &&
                       !CodeIs(principal, "O842 ");
      const bool above = CompareCode(principal, "O849 ") > 0;
      if (below || gap || above) code = 0;
    }
  }
  if (d >= 3720 && d <= 3750) {
    const bool keep = CodeBetween(principal, "O800 ", "O849 ") &&
                      !CodeBetween(principal, "O820 ", "O829 ") && !CodeIs(principal, "O842 ");
    if (!keep) code = 0;
  }
  if (d >= 3720 && d <= 3730 && code > 0 && AnyWorkProcedureIs(s, "R4380")) {
    if (isNew) {
      code += 100;
    } else if (!DateBefore(date, "20000201")) {
      code += 1;
    }
  }
  return code;
}

AcceptedCodeList AcceptedListFor(const GroupState& s) {
  const char* date = CaseDateOf(s);
  const bool special = IdentifierIs(s, kSpecialIdentifier);
  if (!DateBefore(date, "20030901")) return AcceptedCodeList::kL8;
  if (!DateBefore(date, "20020101")) return AcceptedCodeList::kL7;
  if (!DateBefore(date, "20001106")) return AcceptedCodeList::kL6;
  if (!DateBefore(date, "20000701")) return special ? AcceptedCodeList::kL5 : AcceptedCodeList::kL6;
  if (!DateBefore(date, "19990901")) return special ? AcceptedCodeList::kL3 : AcceptedCodeList::kL4;
  if (!DateBefore(date, "19990524")) return special ? AcceptedCodeList::kL3 : AcceptedCodeList::kL2;
  if (!DateBefore(date, "19990201")) return AcceptedCodeList::kL2;
  return AcceptedCodeList::kL1;
}

}  // namespace

bool ModifiersContain(const GroupState& s, char upper) {
  if (s.surgeryModifiers == nullptr) return false;
  const char lower = static_cast<char>(upper - 'A' + 'a');
  for (int i = 0; i < 5; ++i) {
    const char c = s.surgeryModifiers[i];
    if (c == '\0') return false;
    if (c == upper || c == lower) return true;
  }
  return false;
}

int Drg390ProcedureClass(const GroupState& s) {
  const char* date = CaseDateOf(s);
  const bool before1999 = DateBefore(date, "19990201");
  const int count = ProcedureSpanOf(s);
  for (int i = 0; i < count; ++i) {
    const char* code = s.procedureWork[i].code;
    if (CodeIs(code, "S5113") || (before1999 && CodeIs(code, "S5114"))) return 1;
  }
  if (DateBefore(date, "19980401")) return 0;
  for (int i = 0; i < count; ++i) {
    const char* code = s.procedureWork[i].code;
    if (CodeIs(code, "S5121") || CodeIs(code, "S5060")) return 2;
  }
  return 0;
}

int Drg390ProcedureFlags(const GroupState& s, int byteIndex, int mask) {
  int f10 = 0;
  int f1 = 0;
  const int count = ProcedureSpanOf(s);
  for (int i = 0; i < count; ++i) {
    if (CodeIs(s.procedureWork[i].code, "S5112")) {
      f10 = 1;
      continue;
    }
    const int entry = s.procedureEntry[i];
    if (entry >= 0 && (ProcedureClassOf(s, entry).bytes[byteIndex] & mask) != 0) f1 = 1;
  }
  return 10 * f10 + f1;
}

int SplitDrg390(GroupState& s) {
  if (AnyProcedureHasBit(s, 8, 0x08) != 0) {
    s.finalDrg = 370;
    return 0;
  }
  const int flags = Drg390ProcedureFlags(s, 5, 0x20);
  if (flags == 10) {
    s.finalDrg = 396;
    return 0;
  }
  const bool sLetter = ModifiersContain(s, 'S');
  const bool bLetter = ModifiersContain(s, 'B');
  const bool before2003 = DateBefore(CaseDateOf(s), "20030101");
  s.finalDrg = sLetter ? (bLetter ? 393 : 391) : 392;
  if (s.finalDrg == 393 && before2003 && flags == 11) {
    s.finalDrg = 391;
    return 0;
  }
  if (s.finalDrg == 392 && bLetter) s.finalDrg = 394;
  if (s.finalDrg == 394 && before2003 && flags == 11) s.finalDrg = 392;
  return 0;
}

int SplitDrg358(GroupState& s) {
  if (!ModifiersContain(s, 'L')) return 0;
  if (s.finalDrg == 3581) {
    s.finalDrg = 3582;
  } else if (s.finalDrg == 3583) {
    const bool keeps = (AnyRequestProcedureIs(s, "R4125") || AnyRequestProcedureIs(s, "R4126")) &&
                       !AnyRequestProcedureIn(s, CodeList::kDrg358);
    if (!keeps) s.finalDrg = 3584;
  }
  return 0;
}

namespace {

constexpr const char* kListNames[] = {"L1", "L2", "L3", "L4", "L5", "L6", "L7", "L8"};

// A step that changed the code, for a trace.
void TellChange(GroupState& s, const char* step, int32_t before, int32_t after) {
  if (before != after) TALLOW_TRACE(s, RefinedStep(step, after));
}

}  // namespace

int32_t MakeRefinedCode(GroupState& s) {
  const char* date = CaseDateOf(s);
  const bool isNew = !DateBefore(date, "20020101");

  if (s.mdc == kNewbornMdc && s.dischargeStatus == 999 && s.lengthOfStay >= 0 &&
      s.lengthOfStay <= 4) {
    TALLOW_TRACE(s, CodeJudged(kNewbornShortStayGroupCode, CodeVerdict::kSpecial,
                               "newborn with discharge status 999 and a stay of 0 to 4 days"));
    return kNewbornShortStayGroupCode;
  }
  if (s.severityLevel == 'L') {
    TALLOW_TRACE(s, CodeJudged(kShortStayGroupCodeBase + 1000 * s.mdc, CodeVerdict::kSpecial,
                               "level L: 8MM000"));
    return kShortStayGroupCodeBase + 1000 * s.mdc;
  }
  if (s.severityLevel == '4') {
    TALLOW_TRACE(s, CodeJudged(kUngroupableGroupCode, CodeVerdict::kSpecial, "level 4: 470000"));
    return kUngroupableGroupCode;
  }

  const int before = s.finalDrg;
  if (!isNew) {
    if (s.finalDrg == 390) {
      const int r = Drg390ProcedureClass(s);
      if (r == 2) {
        s.finalDrg = 420;
      } else if (r == 1) {
        s.finalDrg = DateBefore(date, "19990201") ? 395 : 410;
      }
    }
  } else {
    if (s.finalDrg == 390) SplitDrg390(s);
    if (s.finalDrg == 1610) {
      s.finalDrg = ModifiersContain(s, 'B') ? 1613 : 1612;
    } else if (s.finalDrg == 3581 || s.finalDrg == 3583) {
      SplitDrg358(s);
    }
  }

  const int d = s.finalDrg;
  const int v = static_cast<signed char>(s.severityLevel) - '0';
  const int a = AgeDigit(s, d);
  int32_t code = isNew ? d * 100 + a * 10 + v : d * 100 + v * 10 + a * 100;
  if (kTraceCompiledIn && s.trace != nullptr) {
    if (d != before) TALLOW_TRACE(s, RefinedStep("drg split", d));
    TALLOW_TRACE(s, RefinedStep("drg", d));
    TALLOW_TRACE(s, RefinedStep("age digit", a));
    TALLOW_TRACE(s, RefinedStep("level", v));
    TALLOW_TRACE(s, RefinedStep(isNew ? "code (from 2002: drg, age digit, level)"
                                      : "code (before 2002: drg + age digit, level, 0)",
                                code));
  }

  if (DateBefore(date, "19980201")) {
    TALLOW_TRACE(s, CodeJudged(code, CodeVerdict::kBefore1998, ""));
    return 0;
  }

  const char* principal = s.diagnosisCount >= 1 ? RequestDiagnosisCode(s, 0) : kBlankCode;
  int32_t was = code;
  code = ApplyDeliveryRules(s, code, d, principal);
  TellChange(s, "delivery rules", was, code);

  if (isNew) {
    was = code;
    if (d == 4150 && InCodeList(CodeList::kB20B24, principal)) code += 73000;
    if (d == 4210 && InCodeList(CodeList::kB20B24, principal)) code += 68000;
    TellChange(s, "principal diagnosis B20-B24", was, code);
    if (SexRuleMatches(s.mdc, s.sex, principal)) {
      code = kUngroupableGroupCode;
      TALLOW_TRACE(s, RefinedStep(kSexRuleStep, code));
    }
  }

  was = code;
  code = ApplyProcedureSplits(s, code);
  TellChange(s, "procedure list splits", was, code);
  // Only odd level characters (below '0') can make a code negative; such a
  // code has no six-digit text and is no group code.
  if (code < 0) {
    TALLOW_TRACE(s, CodeJudged(code, CodeVerdict::kNegative, ""));
    return 0;
  }

  if (IsExemptIdentifier(s.caseIdentifier)) {
    TALLOW_TRACE(s, CodeJudged(code, CodeVerdict::kExempt, ""));
    return code;
  }
  if (!DateBefore(date, "20030901") && AnyRequestDiagnosisIn(s, CodeList::kExclusion2003)) {
    TALLOW_TRACE(s, CodeJudged(code, CodeVerdict::kShortList, "from 2003-09-01"));
    return 0;
  }
  // The six-digit text of the code against the list: the code modulo 10^6.
  const AcceptedCodeList list = AcceptedListFor(s);
  const bool found = InAcceptedCodeList(list, code % 1000000);
  TALLOW_TRACE(s, CodeJudged(code, found ? CodeVerdict::kFound : CodeVerdict::kNotFound,
                             kListNames[static_cast<int>(list)]));
  return found ? code : 0;
}

}  // namespace tallow

#include "engine/explain.h"

#include <fmt/format.h>

#include <algorithm>
#include <iterator>
#include <string_view>

#include "grouper/group_state.h"
#include "grouper/values.h"

namespace tallow {
namespace {

using Json = JsonTrace::Json;

// Five code characters as text, trailing blanks and NULs dropped; bytes
// outside printable ASCII as \xNN so the JSON stays valid.
std::string CodeText(const char* code) {
  if (code == nullptr) return "";
  std::string text;
  for (int i = 0; i < 5; ++i) {
    const auto c = static_cast<unsigned char>(code[i]);
    if (c >= 0x20 && c < 0x7F) {
      text.push_back(static_cast<char>(c));
    } else {
      text += fmt::format("\\x{:02x}", c);
    }
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  while (text.size() >= 4 && text.compare(text.size() - 4, 4, "\\x00") == 0) {
    text.resize(text.size() - 4);
  }
  return text;
}

std::string FieldText(const char* field, int n) {
  std::string text;
  if (field == nullptr) return text;
  for (int i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(field[i]);
    text += c >= 0x20 && c < 0x7F ? std::string(1, static_cast<char>(c))
                                  : fmt::format("\\x{:02x}", c);
  }
  return text;
}

std::string LevelText(char level) {
  const auto c = static_cast<unsigned char>(level);
  return c >= 0x20 && c < 0x7F ? std::string(1, level) : fmt::format("\\x{:02x}", c);
}

constexpr const char* kEditionNames[] = {"8", "9", "0", "1"};
constexpr const char* kEditionSpans[] = {
    "before 1999-02-01", "1999-02-01 to 2001-12-31", "2002-01-01 to 2002-12-31",
    "2003-01-01 and later"};

std::string DateText(const std::string& date) {
  if (date.size() != 8) return date;
  return date.substr(0, 4) + "-" + date.substr(4, 2) + "-" + date.substr(6, 2);
}

const char* KindName(CodeKind kind) {
  return kind == CodeKind::kDiagnosis ? "diagnosis" : "procedure";
}


// Why the decision gave no DRG, by its groupStatus.
std::string DecisionText(int groupStatus, int mdc) {
  switch (groupStatus) {
    case kGroupPrincipalUnusable:
      return "the principal diagnosis cannot be used";
    case kGroupNoRuleMatched:
      return fmt::format("no rule of MDC {} matched", mdc);
    case kGroupAgeInvalid:
      return "a rule tests the age and the age is invalid";
    case kGroupSexInvalid:
      return "a rule tests the sex and the sex is invalid";
    case kGroupStatusInvalid:
      return "a rule tests the discharge status and it is invalid";
    case kGroupRuleUngroupable:
      return "the accepted rule gives DRG 470";
    default:
      return fmt::format("groupStatus {}", groupStatus);
  }
}

}  // namespace

const char* PassName(TracePass pass) {
  switch (pass) {
    case TracePass::kFirst:
      return "first";
    case TracePass::kReal:
      return "real";
    case TracePass::kSecondReal:
      return "second real";
  }
  return "";
}

const char* OutcomeName(RuleOutcome outcome) {
  switch (outcome) {
    case RuleOutcome::kAccepted:
      return "accepted";
    case RuleOutcome::kRejected:
      return "rejected";
    case RuleOutcome::kSkipped:
      return "skipped";
    case RuleOutcome::kStopped:
      return "stopped";
  }
  return "";
}

std::string CaseMaskBitName(int byte, int bit) {
  if (byte == 0) {
    static constexpr const char* kNames[8] = {
        "sex 1", "sex 2", "discharge status 4", "operating-room procedure", "CC",
        "byte 0 bit 5", "byte 0 bit 6", "age 18 or more"};
    return kNames[bit];
  }
  if (byte == 1 && bit == 5) return "age 36 or more";
  if (byte == 1 && bit == 7) return "discharge status valid, not 4";
  if (byte >= 3 && byte <= 7) return fmt::format("principal diagnosis bit {}", (byte - 3) * 8 + bit);
  if (byte >= 8 && byte <= 12) return fmt::format("secondary diagnosis bit {}", (byte - 8) * 8 + bit);
  if (byte >= 13 && byte <= 17) return fmt::format("any diagnosis bit {}", (byte - 13) * 8 + bit);
  if (byte >= 18 && byte <= 37) return fmt::format("procedure bit {}", (byte - 18) * 8 + bit);
  if (byte >= 38 && byte <= 39) return fmt::format("non-OR procedure bit {}", (byte - 38) * 8 + bit);
  return fmt::format("byte {} bit {}", byte, bit);
}

std::string RuleReasonText(RuleReason reason, int ruleByte, int bit) {
  switch (reason) {
    case RuleReason::kNone:
      return "";
    case RuleReason::kPrincipalKey:
      return "for another principal DRG key";
    case RuleReason::kEveryOrCovered:
      return "not every operating-room procedure is covered";
    case RuleReason::kSomeOrUncovered:
      return "no operating-room procedure is left uncovered";
    case RuleReason::kEveryDxCovered:
      return "a diagnosis is not covered by the every-diagnosis mask";
    case RuleReason::kTwoOrCovered:
      return "fewer than two operating-room procedures are covered";
    case RuleReason::kNoSecondProperty:
      return "a procedure with the second property is present";
    case RuleReason::kMaskBit:
      return fmt::format("caseMask byte {} bit {} ({}) is not set", ruleByte - 1, bit,
                         CaseMaskBitName(ruleByte - 1, bit));
    case RuleReason::kStatusTolerated:
      return "invalid discharge status, tolerated, and the rule does not match otherwise";
    case RuleReason::kAgeInvalid:
      return "the rule tests the age and the age is invalid";
    case RuleReason::kSexInvalid:
      return "the rule tests the sex and the sex is invalid";
    case RuleReason::kStatusInvalid:
      return "the rule tests the discharge status and it is invalid";
  }
  return "";
}

const char* LevelReasonText(LevelReason reason) {
  switch (reason) {
    case LevelReason::kMatrix:
      return "level matrix";
    case LevelReason::kTwoCountsAsOne:
      return "level matrix, 2 counted as 1";
    case LevelReason::kNotFound:
      return "code not found";
    case LevelReason::kObstetric:
      return "O990/O994 give no level to this DRG";
    case LevelReason::kPrincipalBlocks:
      return "the principal diagnosis blocks every level of DRG 121";
    case LevelReason::kNoCcRow:
      return "no refined CC row fits (or it is excluded by the principal)";
    case LevelReason::kFirstPassDrg:
      return "its row names the first pass's DRG";
    case LevelReason::kPrincipalRow:
      return "circulatory principal whose row names DRG 1210";
    case LevelReason::kNewbornMark:
      return "newborn mark";
  }
  return "";
}

const char* VerdictName(CodeVerdict verdict) {
  switch (verdict) {
    case CodeVerdict::kFound:
      return "found";
    case CodeVerdict::kNotFound:
      return "not found";
    case CodeVerdict::kExempt:
      return "exempt identifier";
    case CodeVerdict::kShortList:
      return "short-list diagnosis present";
    case CodeVerdict::kBefore1998:
      return "no list before 1998-02-01";
    case CodeVerdict::kSpecial:
      return "special code";
    case CodeVerdict::kNegative:
      return "negative code";
  }
  return "";
}

// --- ReasonTrace ---

void ReasonTrace::Clear() {
  acceptedRule_ = 0;
  std::fill(std::begin(caseDate_), std::end(caseDate_), ' ');
  std::fill(std::begin(principal_), std::end(principal_), ' ');
  principalEntry_ = 0;
  principalMdc_ = 0;
  lastGroupStatus_ = 0;
  lastFinaliseStatus_ = 0;
  stayLevel_ = '0';
  judgedCode_ = 0;
  verdict_ = CodeVerdict::kFound;
  verdictList_ = "";
  sexRule_ = false;
  editionName_ = '8';
}

void ReasonTrace::CaseStarted(const GroupState& s) {
  editionName_ = kEditionNames[static_cast<int>(s.active.edition)][0];
  if (s.caseDate != nullptr) std::copy_n(s.caseDate, 8, caseDate_);
}

void ReasonTrace::CodeLookedUp(CodeKind kind, int position, const char* code, int entry) {
  if (kind != CodeKind::kDiagnosis || position != 0) return;
  if (code != nullptr) std::copy_n(code, 5, principal_);
  principalEntry_ = entry;
}

void ReasonTrace::PrincipalTaken(int, int mdc, int) { principalMdc_ = mdc; }

void ReasonTrace::RuleTried(int number, int, int, RuleOutcome outcome, RuleReason, int, int) {
  if (outcome == RuleOutcome::kAccepted) acceptedRule_ = number;
}

void ReasonTrace::Decided(const GroupState& s) { lastGroupStatus_ = s.groupStatus; }

void ReasonTrace::StayLevel(char level) { stayLevel_ = level; }

void ReasonTrace::Finalised(const GroupState&, int finaliseStatus) {
  lastFinaliseStatus_ = finaliseStatus;
}

void ReasonTrace::RefinedStep(const char* step, int) {
  if (std::string_view(step) == kSexRuleStep) sexRule_ = true;
}

void ReasonTrace::CodeJudged(int32_t code, CodeVerdict verdict, const char* list) {
  judgedCode_ = code;
  verdict_ = verdict;
  verdictList_ = list;
}

std::string ReasonTrace::Reason(int mdc, int32_t groupCode) const {
  const std::string date = DateText(FieldText(caseDate_, 8));
  const std::string principal = CodeText(principal_);
  const std::string edition = fmt::format("table edition {}", editionName_);
  if (mdc == 24) {
    if (principalEntry_ == -1) {
      return fmt::format("principal diagnosis {} not in {} (case date {})", principal, edition,
                         date);
    }
    if (principalEntry_ == -2) return "no principal diagnosis";
    if (principalMdc_ == 0) {
      return fmt::format("principal diagnosis {} has no MDC in {}", principal, edition);
    }
    return fmt::format("no DRG decided (groupStatus {}, finaliseStatus {})", lastGroupStatus_,
                       lastFinaliseStatus_);
  }
  if (groupCode == 470000) {
    if (stayLevel_ == '4') return "level 4: the length of stay is unreadable";
    if (lastGroupStatus_ != kGroupGrouped) return DecisionText(lastGroupStatus_, principalMdc_);
    if (sexRule_) return fmt::format("the sex does not fit principal diagnosis {}", principal);
    if (lastFinaliseStatus_ != 0) {
      return fmt::format("finalisation ended with finaliseStatus {}", lastFinaliseStatus_);
    }
    return "level 4 in the tables";
  }
  if (groupCode == 0 || groupCode == 470000) {
    if (lastGroupStatus_ != kGroupGrouped) return DecisionText(lastGroupStatus_, principalMdc_);
  }
  if (groupCode == 0 && sexRule_) {
    return fmt::format("the sex does not fit principal diagnosis {}: 470000, which no list "
                       "accepts",
                       principal);
  }
  if (groupCode == 0) {
    switch (verdict_) {
      case CodeVerdict::kNotFound:
        return fmt::format("code {:06d} not among the codes accepted for {} (list {})",
                           judgedCode_ % 1000000, date, verdictList_);
      case CodeVerdict::kShortList:
        return fmt::format("code {:06d} withheld: a diagnosis of the short list ({}) is present",
                           judgedCode_ % 1000000, verdictList_);
      case CodeVerdict::kBefore1998:
        return fmt::format("no group codes are accepted before 1998-02-01 (case date {})", date);
      case CodeVerdict::kNegative:
        return "the level character gives no six-digit code";
      default:
        return "group code 000000";
    }
  }
  return "";
}

// --- JsonTrace ---

namespace {

// An ordered object keeps its members in a vector of (const key, value)
// pairs, which copies every value whole when it grows. The objects that
// collect steps therefore get room for all their keys when they are made.
constexpr std::size_t kTraceKeys = 6;         // edition, case, conversions, passes, refinedCode
constexpr std::size_t kPassKeys = 10;         // name, lookups, cc, walks, rules, principal, ...
constexpr std::size_t kFinalisationKeys = 8;  // refinedDrg, levels, stayLevel, newborn, ...

JsonTrace::Json& Reserved(JsonTrace::Json& object, std::size_t keys) {
  object.get_ref<JsonTrace::Json::object_t&>().reserve(keys);
  return object;
}

}  // namespace

void JsonTrace::Clear() {
  ReasonTrace::Clear();
  trace_ = Json::object();
  Reserved(trace_, kTraceKeys);
  principal_.clear();
}

JsonTrace::Json JsonTrace::Release() {
  Json released = std::move(trace_);
  trace_ = Json::object();
  Reserved(trace_, kTraceKeys);
  return released;
}

Json& JsonTrace::Pass() {
  Json& passes = trace_["passes"];
  if (passes.empty()) Reserved(passes.emplace_back(Json::object()), kPassKeys)["name"] = "first";
  return passes.back();
}

Json& JsonTrace::Finalisation() {
  Json& pass = Pass();
  if (!pass.contains("finalisation")) {
    Reserved(pass["finalisation"] = Json::object(), kFinalisationKeys);
  }
  return pass["finalisation"];
}

void JsonTrace::CaseStarted(const GroupState& s) {
  ReasonTrace::CaseStarted(s);
  const int edition = static_cast<int>(s.active.edition);
  const std::string caseDate = FieldText(s.caseDate, 8);
  trace_["edition"] = kEditionNames[edition];
  trace_["case"] = {
      {"caseIdentifier", FieldText(s.caseIdentifier, 8)},
      {"caseDate", caseDate},
      {"age", s.age},
      {"sex", s.sex},
      {"lengthOfStay", s.lengthOfStay},
      {"dischargeStatus", s.dischargeStatus},
      {"birthWeight", s.request != nullptr ? s.request->birthWeight : s.birthWeight},
      {"edition", kEditionNames[edition]},
      {"editionReason", fmt::format("case date {} is {}", caseDate, kEditionSpans[edition])},
  };
  trace_["conversions"] = Json::array();
  trace_["passes"] = Json::array();
}

void JsonTrace::CodeConverted(int position, const char* from, const char* to, const char* list) {
  trace_["conversions"].push_back(
      {{"position", position}, {"from", CodeText(from)}, {"to", CodeText(to)}, {"list", list}});
}

void JsonTrace::PassStarted(TracePass pass) {
  Json& started = Reserved(trace_["passes"].emplace_back(Json::object()), kPassKeys);
  started["name"] = PassName(pass);
  for (const char* key : {"lookups", "cc", "walks", "rules"}) started[key] = Json::array();
}

void JsonTrace::CodeLookedUp(CodeKind kind, int position, const char* code, int entry) {
  ReasonTrace::CodeLookedUp(kind, position, code, entry);
  if (kind == CodeKind::kDiagnosis && position == 0) principal_ = CodeText(code);
  if (entry == -2 && CodeText(code).empty()) return;  // a blank position
  Pass()["lookups"].push_back({{"kind", KindName(kind)},
                               {"position", position},
                               {"code", CodeText(code)},
                               {"entry", entry}});
}

void JsonTrace::PrincipalTaken(int entry, int mdc, int drgKey) {
  ReasonTrace::PrincipalTaken(entry, mdc, drgKey);
  const std::string code = principal_.empty() ? "(blank)" : principal_;
  std::string why;
  if (entry < 0) {
    why = fmt::format("principal diagnosis {} {}", code,
                      entry == -1 ? "is not in the tables" : "is blank");
  } else if (mdc == 0) {
    why = fmt::format("the class of principal diagnosis {} has MDC 0", code);
  } else {
    why = fmt::format("the MDC of principal diagnosis {}", code);
  }
  Pass()["principal"] = {
      {"code", principal_}, {"entry", entry}, {"mdc", mdc}, {"drgKey", drgKey}, {"why", why}};
}

void JsonTrace::CcTested(int position, bool excluded) {
  Pass()["cc"].push_back({{"position", position}, {"outcome", excluded ? "excluded" : "counted"}});
}

void JsonTrace::CaseMaskMade(const GroupState& s) {
  std::string hex;
  Json bits = Json::array();
  for (int b = 0; b < kCaseMaskBytes; ++b) {
    const uint8_t v = s.caseMask[static_cast<std::size_t>(b)];
    hex += fmt::format("{:02x}", v);
    for (int bit = 0; bit < 8; ++bit) {
      if ((v >> bit) & 1) bits.push_back(CaseMaskBitName(b, bit));
    }
  }
  Json errors = Json::array();
  if (s.caseErrors & kAgeInvalid) errors.push_back("age invalid");
  if (s.caseErrors & kSexInvalid) errors.push_back("sex invalid");
  if (s.caseErrors & kStatusInvalid) errors.push_back("discharge status invalid");
  Pass()["caseMask"] = {{"hex", hex}, {"bits", bits}, {"caseErrors", errors}};
}

void JsonTrace::WalkStarted(int mdc, bool rewalk) {
  Pass()["walks"].push_back({{"mdc", mdc}, {"rewalk", rewalk}});
}

void JsonTrace::RuleTried(int number, int mdc, int drg, RuleOutcome outcome, RuleReason reason,
                          int ruleByte, int bit) {
  ReasonTrace::RuleTried(number, mdc, drg, outcome, reason, ruleByte, bit);
  Pass()["rules"].push_back({{"rule", number},
                             {"mdc", mdc},
                             {"drg", drg},
                             {"outcome", OutcomeName(outcome)},
                             {"reason", RuleReasonText(reason, ruleByte, bit)}});
}

void JsonTrace::Decided(const GroupState& s) {
  ReasonTrace::Decided(s);
  Pass()["decision"] = {
      {"mdc", s.mdc},
      {"baseDrg", s.baseDrg},
      {"groupStatus", s.groupStatus},
      {"orProcedureIndex", s.orProcedureIndex},
      {"secondaryIndex", s.secondaryIndex},
      {"secondSecondaryIndex", s.secondSecondaryIndex},
      {"secondOrProcedureIndex", s.secondOrProcedureIndex},
      {"nonOrProcedureIndex", s.nonOrProcedureIndex},
      {"secondNonOrProcedureIndex", s.secondNonOrProcedureIndex},
      {"ccIndex", s.ccIndex},
  };
}

void JsonTrace::RefinedDrgTaken(int decidedDrg, int remappedDrg, int refinedDrg, int levelColumn,
                                char drgType) {
  Finalisation()["refinedDrg"] = {{"decidedDrg", decidedDrg},
                                  {"remappedDrg", remappedDrg},
                                  {"refinedDrg", refinedDrg},
                                  {"levelColumn", levelColumn},
                                  {"drgType", LevelText(drgType)}};
}

void JsonTrace::LevelGiven(int position, char level, LevelReason reason) {
  Finalisation()["levels"].push_back({{"position", position},
                                      {"level", LevelText(level)},
                                      {"reason", LevelReasonText(reason)}});
}

void JsonTrace::StayLevel(char level) {
  ReasonTrace::StayLevel(level);
  Finalisation()["stayLevel"] = {
      {"level", LevelText(level)},
      {"reason", level == '4' ? "the length of stay is unreadable"
                              : "discharge status 4 after a stay of up to two days"}};
}

void JsonTrace::NewbornTaken(int birthWeight, int drg) {
  Finalisation()["newborn"] = {{"birthWeight", birthWeight}, {"drg", drg}};
}

void JsonTrace::Finalised(const GroupState& s, int finaliseStatus) {
  ReasonTrace::Finalised(s, finaliseStatus);
  Json& f = Finalisation();
  f["finalDrg"] = s.finalDrg;
  f["severityLevel"] = LevelText(s.severityLevel);
  f["levelSourceIndex"] = s.levelSourceIndex;
  f["finaliseStatus"] = finaliseStatus;
}

void JsonTrace::RefinedStep(const char* step, int value) {
  ReasonTrace::RefinedStep(step, value);
  Json& refined = trace_["refinedCode"];
  if (!refined.contains("steps")) refined["steps"] = Json::array();
  refined["steps"].push_back({{"step", step}, {"value", value}});
}

void JsonTrace::CodeJudged(int32_t code, CodeVerdict verdict, const char* list) {
  ReasonTrace::CodeJudged(code, verdict, list);
  Json& refined = trace_["refinedCode"];
  refined["code"] = code;
  refined["verdict"] = VerdictName(verdict);
  refined["list"] = list;
}

}  // namespace tallow

// The trace of one grouping as a JSON object.
//
// A JsonTrace attached to a Grouper records every step the grouping reports
// (see grouper/trace.h) and gives them as one object:
//
//   edition        table edition of the case date ("8", "9", "0", "1")
//   case           the case as the grouper sees it, with the edition's reason
//   conversions    procedure codes converted or withdrawn before the lookups
//   passes         per pass: name, lookups, principal, cc, caseMask, walks,
//                  rules ({rule, mdc, drg, outcome, reason}), decision,
//                  finalisation
//   acceptedRule   1-based number in the rule table of the last rule accepted
//                  in the case, 0 when none was
//   refinedCode    the steps of the group code and the accepted-code verdict
//
// docs/explain.md describes every field. Recording allocates; it is meant
// for explaining cases, not for grouping millions of them.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "grouper/trace.h"

namespace tallow {

// The few facts of a grouping that say why a case got no usable code, kept
// without allocating, so that `tallow group --why` can ask for them on any
// case.
class ReasonTrace : public GroupTrace {
 public:
  // Forgets the last case; called before each grouping.
  virtual void Clear();
  // A short sentence for a case whose group code is 000000 or 470000, or
  // that could not be grouped (MDC 24); "" for any other case.
  std::string Reason(int mdc, int32_t groupCode) const;
  int acceptedRule() const { return acceptedRule_; }

  void CaseStarted(const GroupState& s) override;
  void CodeConverted(int, const char*, const char*, const char*) override {}
  void PassStarted(TracePass) override {}
  void CodeLookedUp(CodeKind kind, int position, const char* code, int entry) override;
  void PrincipalTaken(int entry, int mdc, int drgKey) override;
  void CcTested(int, bool) override {}
  void CaseMaskMade(const GroupState&) override {}
  void WalkStarted(int, bool) override {}
  void RuleTried(int number, int mdc, int drg, RuleOutcome outcome, RuleReason reason,
                 int ruleByte, int bit) override;
  void Decided(const GroupState& s) override;
  void RefinedDrgTaken(int, int, int, int, char) override {}
  void LevelGiven(int, char, LevelReason) override {}
  void StayLevel(char level) override;
  void NewbornTaken(int, int) override {}
  void Finalised(const GroupState& s, int finaliseStatus) override;
  void RefinedStep(const char* step, int value) override;
  void CodeJudged(int32_t code, CodeVerdict verdict, const char* list) override;

 private:
  int acceptedRule_ = 0;
  char caseDate_[8] = {};
  char principal_[5] = {};
  int principalEntry_ = 0;
  int principalMdc_ = 0;
  int lastGroupStatus_ = 0;
  int lastFinaliseStatus_ = 0;
  char stayLevel_ = '0';
  int32_t judgedCode_ = 0;
  CodeVerdict verdict_ = CodeVerdict::kFound;
  const char* verdictList_ = "";
  bool sexRule_ = false;
  char editionName_ = '8';
};

// Every step, as one JSON object (see the top of this file).
class JsonTrace : public ReasonTrace {
 public:
  using Json = nlohmann::ordered_json;

  void Clear() override;
  // The trace of the last case.
  const Json& trace() const { return trace_; }
  // The steps of the last case, moved out; trace() is then an empty object.
  Json Release();

  void CaseStarted(const GroupState& s) override;
  void CodeConverted(int position, const char* from, const char* to, const char* list) override;
  void PassStarted(TracePass pass) override;
  void CodeLookedUp(CodeKind kind, int position, const char* code, int entry) override;
  void PrincipalTaken(int entry, int mdc, int drgKey) override;
  void CcTested(int position, bool excluded) override;
  void CaseMaskMade(const GroupState& s) override;
  void WalkStarted(int mdc, bool rewalk) override;
  void RuleTried(int number, int mdc, int drg, RuleOutcome outcome, RuleReason reason,
                 int ruleByte, int bit) override;
  void Decided(const GroupState& s) override;
  void RefinedDrgTaken(int decidedDrg, int remappedDrg, int refinedDrg, int levelColumn,
                       char drgType) override;
  void LevelGiven(int position, char level, LevelReason reason) override;
  void StayLevel(char level) override;
  void NewbornTaken(int birthWeight, int drg) override;
  void Finalised(const GroupState& s, int finaliseStatus) override;
  void RefinedStep(const char* step, int value) override;
  void CodeJudged(int32_t code, CodeVerdict verdict, const char* list) override;

 private:
  Json& Pass();
  Json& Finalisation();

  Json trace_ = Json::object();
  std::string principal_;
};

// Names of the values the trace carries, as the JSON writes them.
const char* PassName(TracePass pass);
const char* OutcomeName(RuleOutcome outcome);
std::string RuleReasonText(RuleReason reason, int ruleByte, int bit);
const char* LevelReasonText(LevelReason reason);
const char* VerdictName(CodeVerdict verdict);
// "sex 1", "principal diagnosis class bit 12", ...: the meaning of bit `bit`
// (0-7) of caseMask byte `byte`.
std::string CaseMaskBitName(int byte, int bit);

}  // namespace tallow

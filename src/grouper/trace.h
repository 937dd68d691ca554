// Why a case grouped as it did: the grouping reports its steps to a trace.
//
// A GroupState may carry a GroupTrace. The grouping code itself tells it each
// step as it decides: the edition, each code conversion, each lookup, the
// case mask, the MDC, every CC test, every rule tried with its outcome, the
// levels, the refined code and the accepted-code verdict. Without a trace
// (the normal run) every report is one test of a null pointer; a build with
// TALLOW_TRACE off compiles the reports out altogether.
//
// The calls come in the order of the decision; the numbers and codes they
// carry are the grouping's own (DRG values, 1-based rule numbers in the rule
// table, 0-based code positions).
#pragma once

#include <cstdint>

namespace tallow {

struct GroupState;

#if defined(TALLOW_NO_TRACE)
// The report stays checked by the compiler but is never reached.
#define TALLOW_TRACE(state, call)            \
  do {                                       \
    if constexpr (false) (state).trace->call; \
  } while (false)
#else
// Reports one step to the state's trace, when it has one.
#define TALLOW_TRACE(state, call)                                \
  do {                                                           \
    if ((state).trace != nullptr) [[unlikely]] (state).trace->call; \
  } while (false)
#endif

#if defined(TALLOW_NO_TRACE)
inline constexpr bool kTraceCompiledIn = false;
#else
inline constexpr bool kTraceCompiledIn = true;
#endif

// The same inside a loop, with the test of the trace pointer taken once
// before it: `traced` is (state).trace != nullptr.
#define TALLOW_TRACE_WHEN(traced, state, call)                  \
  do {                                                          \
    if (kTraceCompiledIn && (traced)) [[unlikely]] (state).trace->call; \
  } while (false)

enum class TracePass : uint8_t {
  kFirst,       ///< every procedure ignored
  kReal,        ///< with the procedures
  kSecondReal,  ///< again, after MDC 14 with DRG 4680
};

enum class CodeKind : uint8_t { kDiagnosis, kProcedure };

// How a rule of the walk ended.
enum class RuleOutcome : uint8_t {
  kAccepted,  ///< the walk ends here with the rule's DRG
  kRejected,  ///< a condition or a mask bit did not fit; the walk goes on
  kSkipped,   ///< the rule is for another principal DRG key
  kStopped,   ///< a validity check ended the decision (groupStatus set)
};

// The first reason a rule was not accepted.
enum class RuleReason : uint8_t {
  kNone,
  kPrincipalKey,       ///< rule byte 0 names another principal DRG key (skipped)
  kEveryOrCovered,     ///< not every operating-room procedure is covered (or there is none)
  kSomeOrUncovered,    ///< no operating-room procedure is left uncovered (or there is none)
  kEveryDxCovered,     ///< a diagnosis is not covered by the every-diagnosis mask
  kTwoOrCovered,       ///< fewer than two operating-room procedures are covered
  kNoSecondProperty,   ///< a procedure with the second property is present
  kMaskBit,            ///< a required bit is missing from caseMask (byte and bit given)
  kStatusTolerated,    ///< an invalid discharge status, tolerated by DRGs 121-123, and no match
  kAgeInvalid,         ///< stopped: the rule tests the age and the age is invalid
  kSexInvalid,         ///< stopped: the rule tests the sex and the sex is invalid
  kStatusInvalid,      ///< stopped: the rule tests the discharge status and it is invalid
};

// Why a diagnosis gave the level it did, or none.
enum class LevelReason : uint8_t {
  kMatrix,           ///< the level matrix at the diagnosis's row and the DRG's column
  kTwoCountsAsOne,   ///< level 2 counted as 1 for DRGs 57, 59 and 161
  kNotFound,         ///< the code has no entry
  kObstetric,        ///< O990/O994 give no level to DRGs 370, 372, 373
  kPrincipalBlocks,  ///< DRG 121 with a principal that blocks every level
  kNoCcRow,          ///< no refined CC row fits the code, sex and status (or it is excluded)
  kFirstPassDrg,     ///< its row names the first pass's DRG (1998-07-01 to 2001)
  kPrincipalRow,     ///< circulatory principal whose row names DRG 1210
  kNewbornMark,      ///< the newborn mark of the diagnosis's entry
};

// The accepted-code list verdict on a refined code.
enum class CodeVerdict : uint8_t {
  kFound,            ///< the code is in the list of the case date
  kNotFound,         ///< not in the list: 000000
  kExempt,           ///< an exempt identifier keeps any code
  kShortList,        ///< a diagnosis of the 2003-09-01 short list is present: 000000
  kBefore1998,       ///< no codes are accepted before 1998-02-01: 000000
  kSpecial,          ///< a special code (8MM000, 470000, 815001) given before any list
  kNegative,         ///< a negative code has no six-digit text: 000000
};

// The refined-code step of a sex that does not fit the principal diagnosis
// (the code becomes 470000).
inline constexpr char kSexRuleStep[] = "sex does not fit the principal diagnosis";

class GroupTrace {
 public:
  virtual ~GroupTrace() = default;

  // The state holds the case values and the edition chosen for the case date.
  virtual void CaseStarted(const GroupState& s) = 0;
  // A procedure code replaced by a conversion list ("" for a withdrawn code).
  virtual void CodeConverted(int position, const char* from, const char* to,
                             const char* list) = 0;
  virtual void PassStarted(TracePass pass) = 0;
  // Entry index: -1 malformed or absent from the tables, -2 blank or ignored.
  virtual void CodeLookedUp(CodeKind kind, int position, const char* code, int entry) = 0;
  // The principal diagnosis: its MDC and DRG key, or why it cannot be used
  // (entry -1, or a class with MDC 0).
  virtual void PrincipalTaken(int entry, int mdc, int drgKey) = 0;
  // A secondary diagnosis with the CC flag: counted as a CC, or excluded by
  // the principal.
  virtual void CcTested(int position, bool excluded) = 0;
  // The case mask is complete (s.caseMask, s.caseErrors).
  virtual void CaseMaskMade(const GroupState& s) = 0;
  // A walk over the rules of `mdc` begins; `rewalk` for the MDC 30 walk after
  // DRG 4680.
  virtual void WalkStarted(int mdc, bool rewalk) = 0;
  // One rule: its 1-based number in the rule table, its DRG value, how it
  // ended and why; for kMaskBit the 1-based rule byte and the bit (0-7).
  virtual void RuleTried(int number, int mdc, int drg, RuleOutcome outcome, RuleReason reason,
                         int ruleByte, int bit) = 0;
  // The decision is over (groupStatus, baseDrg and the recorded indexes).
  virtual void Decided(const GroupState& s) = 0;
  // The decided DRG after its fixed re-mappings, and the refined DRG slot.
  virtual void RefinedDrgTaken(int decidedDrg, int remappedDrg, int refinedDrg, int levelColumn,
                               char drgType) = 0;
  // The level a diagnosis gave ('0' none) and why.
  virtual void LevelGiven(int position, char level, LevelReason reason) = 0;
  // The level decided by the stay alone: 'L' or '4'.
  virtual void StayLevel(char level) = 0;
  // The newborn path: the DRG from the birth weight.
  virtual void NewbornTaken(int birthWeight, int drg) = 0;
  // Finalisation is over (finalDrg, severityLevel, levelSourceIndex).
  virtual void Finalised(const GroupState& s, int finaliseStatus) = 0;
  // One step of the refined code: the DRG after its splits, the age digit,
  // the level digit, the code in the layout of the date; a rule that changed
  // the code names itself.
  virtual void RefinedStep(const char* step, int value) = 0;
  virtual void CodeJudged(int32_t code, CodeVerdict verdict, const char* list) = 0;
};

}  // namespace tallow

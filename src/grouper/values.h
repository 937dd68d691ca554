// Values with a meaning of their own: the DRG values and MDCs the grouping
// compares with, and the status codes of the decision and of finalisation.
//
// A DRG value is the DRG number × 10 plus its final digit (DRG 470 is 4700).
#pragma once

namespace tallow {

// --- DRG values ---
inline constexpr int kUngroupableDrg = 4700;  ///< DRG 470: reset value of every DRG field
inline constexpr int kUnrelatedOrDrg = 4680;  ///< DRG 468: unrelated operating-room procedure
inline constexpr int kHighestDrg = 4770;      ///< finalisation takes base DRG values 1..4770

// --- group codes ---
inline constexpr int kUngroupableGroupCode = 470000;    ///< level '4': invalid length of stay
inline constexpr int kShortStayGroupCodeBase = 800000;  ///< level 'L': plus 1000 × MDC
inline constexpr int kNewbornShortStayGroupCode = 815001;  ///< newborn, status 999, stay 0..4 days

// --- MDCs ---
inline constexpr int kResetMdc = 24;          ///< MDC of a case before and without a decision
inline constexpr int kUnrelatedOrMdc = 30;    ///< the rules walked once after DRG 468
inline constexpr int kRepeatPassMdc = 14;     ///< with DRG 468 a second real pass follows
inline constexpr int kCirculatoryMdc = 5;     ///< the principal may set the level
inline constexpr int kNewbornMdc = 15;        ///< grouped by birth weight

// --- groupStatus: how the decision ended ---
inline constexpr int kGroupGrouped = 0;            ///< a rule was accepted
inline constexpr int kGroupPrincipalUnusable = 1;  ///< principal blank, malformed, absent or MDC 0
inline constexpr int kGroupNoRuleMatched = 2;      ///< the rule list ended without a match
inline constexpr int kGroupAgeInvalid = 3;         ///< a rule testing age met an invalid age
inline constexpr int kGroupSexInvalid = 4;         ///< a rule testing sex met an invalid sex
inline constexpr int kGroupStatusInvalid = 5;      ///< a rule testing discharge status met an invalid one
inline constexpr int kGroupRuleUngroupable = 6;    ///< the accepted rule gave DRG value 4700

// --- finaliseStatus: the result of finalisation ---
inline constexpr int kFinaliseDone = 0;                 ///< finalised
inline constexpr int kFinaliseDrgOutOfRange = 1;        ///< base DRG outside 1..4770
inline constexpr int kFinaliseNoPrincipal = 2;          ///< no diagnosis, or the principal has no entry
inline constexpr int kFinaliseNoLevelColumn = 3;        ///< the DRG has no level column
inline constexpr int kFinaliseStayInvalid = 4;          ///< invalid length of stay
inline constexpr int kFinaliseBirthWeightInvalid = 5;   ///< newborn with an invalid birth weight

}  // namespace tallow

// The record through which one case enters and leaves GroupCase.
#pragma once

#include <cstdint>

namespace tallow {

inline constexpr int kMaxDiagnoses = 15;
inline constexpr int kMaxProcedures = 20;

// Flags of GroupCase.
inline constexpr int GroupFlagDecide = 1;    ///< decide MDC and base DRG in every real pass
inline constexpr int GroupFlagFinalise = 2;  ///< finalise and build the refined group code

inline constexpr char VersionDate[] = "20050801";

struct GroupRequest {
  // In. Each points at five characters (no terminator needed); null is blank.
  const char* diagnosisCodes[kMaxDiagnoses] = {};  ///< 0 is the principal diagnosis
  const char* procedureCodes[kMaxProcedures] = {};
  int16_t procedureCount = 0;   ///< 0..20
  int16_t diagnosisCount = 0;   ///< 0..15
  int16_t age = 0;              ///< whole years
  int16_t sexDigit = 0;         ///< sex-and-century digit 0..9
  int16_t dischargeStatus = 0;  ///< negative: invalid
  int16_t lengthOfStay = 0;     ///< days; negative: absent
  int16_t birthWeight = -2;     ///< grams; -2: absent

  // Out (baseDrg is in when GroupFlagDecide is clear).
  int16_t baseDrg = 0;
  int16_t mdc = 0;
  int16_t groupStatus = 0;
  int16_t orProcedureIndex = -1;
  int16_t secondaryIndex = -1;
  int16_t secondSecondaryIndex = -1;
  int16_t secondOrProcedureIndex = -1;
  int16_t nonOrProcedureIndex = -1;
  int16_t secondNonOrProcedureIndex = -1;
  int16_t ccIndex = -1;
  int16_t finalDrg = 0;
  int32_t groupCode = 0;
  int16_t finaliseStatus = 0;
  int16_t levelSourceIndex = -1;
  int16_t underEighteen = 0;

  // Optional destination for VersionDate: written when the NUL-terminated
  // text there is at least eight characters long.
  char* versionDateOut = nullptr;
};

}  // namespace tallow

// The working state of one grouping.
//
// Every step of grouping a case (code preparation, lookups, the decision,
// finalisation, the newborn path and the refined code) reads and writes one
// GroupState, owned by one Grouper. The fields keep the names the grouping
// rules use. Nothing carries from one case to the next: GroupCase resets
// what the passes of one case share (savedAllDxRequirement, the pair indexes,
// firstPassDrg).
#pragma once

#include <array>
#include <cstdint>

#include "grouper/group_request.h"
#include "grouper/trace.h"
#include "grouper/values.h"
#include "tables/table_set.h"

namespace tallow {

inline constexpr int kCaseMaskBytes = 43;

struct DiagnosisWorkEntry {
  char code[6] = {' ', ' ', ' ', ' ', ' ', '\0'};  ///< five characters and a NUL
  std::array<uint8_t, 5> dxMask{};
};

struct ProcedureWorkEntry {
  char code[6] = {' ', ' ', ' ', ' ', ' ', '\0'};
  std::array<uint8_t, 20> procMask{};
  std::array<uint8_t, 2> nonOrMask{};
  uint8_t workFlags = 0;  ///< bit 0 operating-room procedure, bit 1 member of a procedure pair
};

// What the CC searches found for the diagnosis positions of one case. Within
// one GroupCase nothing they read changes once the codes are looked up (the
// codes, entries, sex, discharge status and case date), so each pass may take
// the first answer. Read and filled only while `enabled`: GroupCase enables
// and empties it for every case; a state set up by other hands searches anew
// every time.
struct CcMemo {
  static constexpr int16_t kUnknown = -3;
  bool enabled = false;
  std::array<int8_t, kMaxDiagnoses> excluded{};  ///< IsCcExcluded; -1 not yet known
  std::array<int16_t, kMaxDiagnoses> ccEntry{};  ///< FindCcEntry; kUnknown not yet known

  CcMemo() { Clear(); }
  void Clear() {
    excluded.fill(-1);
    ccEntry.fill(kUnknown);
  }
};

// Whether the first pass of a case ran, and when GroupCase left it out and
// then ran it after all, what made it. The first pass leaves three things
// for the real passes (firstPassDrg, savedAllDxRequirement and, when no real
// pass counts levels, diagnosisLevels); GroupCase leaves it out when neither
// flag asks for less than the whole grouping and no trace listens, and the
// steps that would read one of them note it in `wanted`, upon which GroupCase
// groups the case again from the first pass.
enum class FirstPass : uint8_t {
  kRan,               ///< the first pass ran first, as always before
  kLeftOut,           ///< nothing read what it leaves: the real passes alone
  kRerunForDrg,       ///< a level count in the dated window compared firstPassDrg
  kRerunForDxRequirement,  ///< DRG 390 read an every-diagnosis requirement the real passes had not saved
  kRerunForLevels,    ///< no real pass counted levels, so the first pass's would have stayed
};

// caseErrors bits
inline constexpr uint8_t kAgeInvalid = 0x01;
inline constexpr uint8_t kSexInvalid = 0x02;
inline constexpr uint8_t kStatusInvalid = 0x04;

struct GroupState {
  // --- where the case comes from (set by the Grouper) ---
  const TableSet* tables = nullptr;
  EditionView active;                     ///< the edition chosen for the case date
  const char* caseIdentifier = nullptr;   ///< 8 characters of the case line
  const char* caseDate = nullptr;         ///< 8 characters, YYYYMMDD
  const char* surgeryModifiers = nullptr; ///< 5 characters
  GroupRequest* request = nullptr;
  GroupTrace* trace = nullptr;  ///< told every step when set (tallow explain)

  // --- case values ---
  int diagnosisCount = 0;
  int procedureCount = 0;
  int age = 0;
  int16_t sex = 1;  ///< 2 for sex digits 0, 2, 4, 6, 8; else 1
  int dischargeStatus = 0;
  int lengthOfStay = 0;
  int birthWeight = -2;

  std::array<DiagnosisWorkEntry, kMaxDiagnoses> diagnosisWork{};
  std::array<ProcedureWorkEntry, kMaxProcedures> procedureWork{};
  std::array<int, kMaxDiagnoses> diagnosisEntry{};  ///< -1 malformed/absent, -2 blank
  std::array<int, kMaxProcedures> procedureEntry{}; ///< -1 malformed/absent, -2 blank/ignored
  // Work entries whose masks the decision filled (bit i: position i); the
  // masks, flags and pair marks of every other entry are zero.
  uint16_t classedDiagnoses = 0;
  uint32_t classedProcedures = 0;

  // --- decision ---
  int mdc = kResetMdc;
  int baseDrg = kUngroupableDrg;
  int groupStatus = kGroupPrincipalUnusable;
  int orProcedureIndex = -1;
  int secondaryIndex = -1;
  int secondSecondaryIndex = -1;
  int secondOrProcedureIndex = -1;
  int nonOrProcedureIndex = -1;
  int secondNonOrProcedureIndex = -1;
  int ccIndex = -1;

  std::array<uint8_t, kCaseMaskBytes> caseMask{};
  uint8_t caseErrors = 0;
  uint8_t principalDrgKey = 0;
  bool bit1ProcedurePresent = false;
  int pairFirstIndex = 0;   ///< not reset between passes; read only for pair members
  int pairSecondIndex = 0;
  bool twoProceduresDemanded = false;
  bool unrelatedRetry = false;
  int savedMdc = 0;
  std::array<uint8_t, 5> savedAllDxRequirement{};  ///< not reset between passes
  bool allDxRequirementSaved = false;  ///< savedAllDxRequirement written since the first pass

  // --- finalisation ---
  int finalDrg = kUngroupableDrg;
  int firstPassDrg = 0;
  int finaliseStatus = 0;
  int levelSourceIndex = -1;
  char severityLevel = '0';
  std::array<char, kMaxDiagnoses> diagnosisLevels{
      '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0'};

  // --- the first pass left out (see FirstPass) ---
  FirstPass firstPass = FirstPass::kRan;
  FirstPass firstPassWanted = FirstPass::kRan;  ///< kRan: nothing has read what it leaves
  bool levelsCounted = false;                   ///< a real pass filled diagnosisLevels

  // --- per-case memo of the const CC searches ---
  mutable CcMemo ccMemo;
};

}  // namespace tallow

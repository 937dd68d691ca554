// The working state of one grouping.
//
// Every step of grouping a case (code preparation, lookups, the decision,
// finalisation, the newborn path and the refined code) reads and writes one
// GroupState, owned by one Grouper. The fields keep the names the grouping
// rules use. Nothing carries from one case to the next: GroupCase resets
// what the passes of one case share (savedAllDxRequirement, the pair indexes,
// firstPassDrg).
#pragma once

#include <algorithm>
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
  // FindDiagnosisEntry of the work code at each position; kUnknown not yet
  // known. The lookups of GroupCase fill it as they find the entries.
  std::array<int16_t, kMaxDiagnoses> firstEntry{};

  CcMemo() { Clear(); }
  void Clear() {
    excluded.fill(-1);
    ccEntry.fill(kUnknown);
    firstEntry.fill(kUnknown);
  }
};

// The code references of the request as code preparation last read them,
// and how many of the diagnosis and procedure references from the front lie
// one after another, five characters apart (as in the case line). Made again
// whenever a reference differs; only the layout is kept, never a character.
// A request bound to the state (BindCodeLayout) is taken as it was bound,
// without comparing its references.
struct CodeLayoutMemo {
  std::array<const char*, kMaxDiagnoses + kMaxProcedures> codes{};
  const void* boundRequest = nullptr;
  int8_t diagnosisRun = 0;
  int8_t procedureRun = 0;
};

// How the first pass of a case ran. It leaves three things for the real
// passes: firstPassDrg (compared by the level count of cases dated
// 1998-07-01 to 2001), savedAllDxRequirement (read for DRG 390 when the real
// passes saved none) and diagnosisLevels (kept when no real pass counts
// levels). When the whole grouping runs untraced, GroupCase leaves the first
// pass out, and a step that comes to read one of the three has the first
// pass run on a copy of the state (FirstPassAside) and takes what it left.
enum class FirstPass : uint8_t {
  kRan,      ///< the first pass ran before the real passes
  kLeftOut,  ///< the real passes ran alone; firstPassReads says what was taken from the side
};

// Bits of GroupState::firstPassReads: what the real passes took from the
// first pass run on the side.
inline constexpr uint8_t kReadFirstPassDrg = 0x01;
inline constexpr uint8_t kReadAllDxRequirement = 0x02;
inline constexpr uint8_t kReadDiagnosisLevels = 0x04;

struct GroupState;
class CodeConversions;
class FirstPassFinals;

// Runs the first pass of the case being grouped on a copy of the state, so
// that a real pass that went without it can take what it left. `withLevels`
// false may leave out its level count (diagnosisLevels then means nothing).
class FirstPassAside {
 public:
  virtual const GroupState& RunAside(bool withLevels) = 0;

 protected:
  ~FirstPassAside() = default;
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
  // The conversions of case codes by code, made for the tables; null: the
  // lists are searched one by one.
  const CodeConversions* conversions = nullptr;

  // --- case values ---
  int diagnosisCount = 0;
  int procedureCount = 0;
  // Positions from the front that may hold a code. Past them every request
  // code is blank or null, every work code five blanks, every entry -2 and
  // every mask zero, so the loops that skip blank positions stop there.
  // PrepareCaseCodes sets them; in a state set up without it they cover
  // every position.
  int diagnosisSpan = kMaxDiagnoses;
  int procedureSpan = kMaxProcedures;
  // Positions from which every work code is five blanks: code preparation,
  // the only step that writes work codes, blanks only the positions below
  // them. A hand that writes a work code at or past one raises it.
  int diagnosisWorkBlankFrom = 0;
  int procedureWorkBlankFrom = 0;
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
  bool allDxRequirementSaved = false;  ///< savedAllDxRequirement holds what the full passes would

  // --- finalisation ---
  int finalDrg = kUngroupableDrg;
  int firstPassDrg = 0;  ///< first pass left out: 0 unless a level count took it from the side
  int finaliseStatus = 0;
  int levelSourceIndex = -1;
  char severityLevel = '0';
  std::array<char, kMaxDiagnoses> diagnosisLevels{
      '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0'};

  // --- the first pass left out (see FirstPass) ---
  FirstPass firstPass = FirstPass::kRan;
  uint8_t firstPassReads = 0;   ///< kRead* bits
  bool levelsCounted = false;   ///< a real pass filled diagnosisLevels
  bool countLevels = true;      ///< clear: finalisation stops before the level count
  FirstPassAside* firstPassAside = nullptr;  ///< set while firstPass is kLeftOut
  // The final DRGs a first pass may give (refine/finalise.h); null: any.
  const FirstPassFinals* firstPassFinals = nullptr;

  // --- the layout of the request's code references (PrepareCaseCodes) ---
  CodeLayoutMemo codeLayout;

  // --- per-case memo of the const CC searches ---
  mutable CcMemo ccMemo;

  // --- the case date as a number (CaseDateNumber) ---
  mutable uint64_t dateNumberOf = 0;  ///< PackDate of the date it was made for
  mutable int dateNumber = -1;        ///< ParseDigits of eight NULs
};

// The diagnosis and procedure positions a loop that skips blank positions
// needs to visit: the count, cut at the span.
inline int DiagnosisSpanOf(const GroupState& s) {
  return std::clamp(std::min(s.diagnosisCount, s.diagnosisSpan), 0, kMaxDiagnoses);
}
inline int ProcedureSpanOf(const GroupState& s) {
  return std::clamp(std::min(s.procedureCount, s.procedureSpan), 0, kMaxProcedures);
}

// ParseDigits of the eight characters of the case date, made once for each
// date the state meets.
inline int CaseDateNumber(const GroupState& s) {
  const uint64_t packed = PackDate(s.caseDate);
  if (packed != s.dateNumberOf) {
    s.dateNumberOf = packed;
    s.dateNumber = ParseDigits(s.caseDate, 8);
  }
  return s.dateNumber;
}

}  // namespace tallow

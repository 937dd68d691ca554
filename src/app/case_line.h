// The case line: one hospital case as one fixed-width text line.
//
// Layout (0-based character positions):
//
//   pos  width  field             dir  content
//     0      8  caseIdentifier    in   compared as a whole by the refined-code rules
//     8      6  birthDate         in   YYMMDD
//    14      1  sexDigit          in   sex and century of the birth date
//    15      6  -                      passed through
//    21      8  caseDate          in   YYYYMMDD
//    29      3  lengthOfStay      in   days, decimal, blanks allowed
//    32      1  dischargeStatus   in   one digit
//    33  10x5   diagnosisCodes    in   principal first, blank-padded ("O800 ")
//    83  20x5   procedureCodes    in   ("Q2950")
//   183      5  surgeryModifiers  in   marker letters
//   188      2  mdc               out  two digits
//   190      6  groupCode         out  six digits
//   196      8  versionStamp      out  "20050801"
//   204     10  diagnosisLevels   out  one level character per diagnosis
//   214   rest  -                      passed through
//
// A CaseLine holds the first 214 characters of a line, the part the grouper
// reads and writes, in a fixed buffer whose address never changes, so a
// GroupRequest can be bound to it once. Characters after a short line read
// as NUL. The rest of a longer line is passed through by the batch.
#pragma once

#include <array>
#include <cstdint>
#include <cstddef>

#include "grouper/group_request.h"

namespace tallow::app {

// Field positions and widths of the case line.
inline constexpr int kCaseIdentifierPos = 0;
inline constexpr int kBirthDatePos = 8;
inline constexpr int kSexDigitPos = 14;
inline constexpr int kCaseDatePos = 21;
inline constexpr int kLengthOfStayPos = 29;
inline constexpr int kLengthOfStayWidth = 3;
inline constexpr int kDischargeStatusPos = 32;
inline constexpr int kDiagnosisCodesPos = 33;
inline constexpr int kLineDiagnoses = 10;
inline constexpr int kProcedureCodesPos = 83;
inline constexpr int kLineProcedures = 20;
inline constexpr int kSurgeryModifiersPos = 183;
inline constexpr int kMdcPos = 188;
inline constexpr int kGroupCodePos = 190;
inline constexpr int kVersionStampPos = 196;
inline constexpr int kDiagnosisLevelsPos = 204;
inline constexpr int kResultsEnd = 214;

// A line needs this many characters to be grouped: its input fields.
inline constexpr int kGroupedLineMinimum = kMdcPos;

class CaseLine {
 public:
  CaseLine() { text_.fill('\0'); }
  CaseLine(const CaseLine&) = delete;  // requests point into the buffer
  CaseLine& operator=(const CaseLine&) = delete;

  // Takes the first 214 characters of a line of `length` characters; a
  // shorter line reads as NUL after its end, or as blanks up to position 188
  // when `pad` is set.
  void Assign(const char* text, std::size_t length, bool pad);

  char* data() { return text_.data(); }
  const char* data() const { return text_.data(); }

 private:
  std::array<char, kResultsEnd + 2> text_;
};

// Age in completed years at the case date. The sex digit gives the century
// of the two-digit birth year: '9' and '0' the 1800s, '1' and '2' the 1900s,
// '3' and '4' the 2000s; '5' to '8' the 1900s when the case date begins with
// "19" or the birth year YY is greater (as text) than the case date's year
// within its century, else the 2000s; any other character the 1900s. Nothing
// is validated: unreadable numbers take part as -1, and a birth after the
// case date gives a negative age.
int AgeInYears(const char* birthDate, const char* caseDate, char sexDigit);
// The four-digit birth year the age is counted from (the century as above).
int BirthYear(const char* birthDate, const char* caseDate, char sexDigit);

// Binds a request to a line once: ten diagnosis and twenty procedure code
// references into the buffer, diagnosisCount 10, procedureCount 20.
void BindRequest(GroupRequest& request, const CaseLine& line);

// Sets age, sexDigit, dischargeStatus, lengthOfStay and birthWeight (-2, the
// line holds no weight) of the request from the current line.
void PrepareRequest(GroupRequest& request, const CaseLine& line);

// Writes the results of the last grouping into the line according to the
// grouping flags: with GroupFlagDecide the MDC, with GroupFlagFinalise the
// group code, the MDC again and the version date.
void StoreResults(const GroupRequest& request, int flags, CaseLine& line);

// Copies the first ten level characters into the line's diagnosisLevels.
void StoreLevels(const char* levels, CaseLine& line);

}  // namespace tallow::app

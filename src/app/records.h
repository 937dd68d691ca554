// The records of one case for analysts: a JSON Lines object or a CSV row,
// and the data-quality flags that say what is wrong with a case.
//
// Both forms carry the same values: "line" (counted from 1),
// "caseIdentifier" and "caseDate" as the line holds them, every output field
// of the grouping under its own name, "groupCode" as its six digits with
// their leading zeros, and the ten level characters. docs/fields.md
// describes every field and value. The records are written with fmt into a
// reused buffer: nothing is allocated per case.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include <fmt/format.h>

#include "engine/grouper.h"
#include "grouper/group_request.h"

namespace tallow::app {

// What is wrong with a case, found without changing its grouping.
enum DataFlag : uint8_t {
  kInvalidBirthDate,       ///< birth month or day impossible, or not digits
  kInvalidCaseDate,        ///< case date not a calendar date
  kBirthAfterCaseDate,     ///< the birth date lies after the case date
  kAgeOutOfRange,          ///< age outside 0-124 (the grouper takes it as invalid)
  kUnknownSexDigit,        ///< the sex digit is not a digit
  kInvalidDischargeStatus, ///< the discharge status is not a digit
  kInvalidLengthOfStay,    ///< characters other than digits and blanks in the stay
  kMalformedCode,          ///< a code that is not a letter followed by digits and letters
  kDiagnosisNotInEdition,  ///< a well-formed diagnosis the case's table edition lacks
  kProcedureNotInEdition,  ///< a well-formed procedure the case's table edition lacks
  kMissingPrincipal,       ///< the principal diagnosis is blank
  kRepeatedCode,           ///< the same diagnosis or procedure code twice
  kDataFlagCount,
};

// The flags' names as the records and the summary write them.
const char* DataFlagName(DataFlag flag);

// The flags of a grouped case: `fields` is the case line's first 214
// characters, `state` the grouper's state after GroupCase.
uint32_t DataFlagsOf(const char* fields, const GroupState& state);

enum class RecordFormat : uint8_t { kJsonl, kCsv };

// One case: `request` null for a case without results, which has `error`.
struct CaseRecord {
  int64_t line = 0;
  const char* fields = nullptr;  ///< 214 characters, or the shorter line itself
  std::size_t length = 0;        ///< characters of the line in `fields`
  const GroupRequest* request = nullptr;
  const char* levels = nullptr;  ///< ten level characters
  std::string_view reason;       ///< with --why
  bool withFlags = false;        ///< with --flags
  uint32_t flags = 0;
  std::string_view error;
};

// The error of a case line too short to be grouped, written into `buffer`
// (no allocation): "a line of N characters, shorter than 188: written
// without results".
struct ShortLineError {
  explicit ShortLineError(std::size_t length);
  std::string_view text() const { return {buffer, size}; }
  char buffer[96];
  std::size_t size = 0;
};

// The CSV header row: the columns of AppendCsvRecord, CRLF at its end.
void AppendCsvHeader(fmt::memory_buffer& out, bool withReason, bool withFlags);

// One record with its line end ("\n" for jsonl, CRLF for csv).
void AppendRecord(fmt::memory_buffer& out, RecordFormat format, const CaseRecord& record,
                  bool withReason);

// Appends text as the inside of a JSON string: quotes and backslashes
// escaped, bytes outside printable ASCII as \u00XX (the code point of the
// same number, as Latin-1 reads the byte).
void AppendJsonEscaped(fmt::memory_buffer& out, std::string_view text);

}  // namespace tallow::app

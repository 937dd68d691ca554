#include "app/records.h"

#include <cstring>
#include <iterator>

#include "app/case_line.h"
#include "tables/codes.h"

namespace tallow::app {
namespace {

constexpr const char* kFlagNames[kDataFlagCount] = {
    "invalidBirthDate",        "invalidCaseDate",        "birthAfterCaseDate",
    "ageOutOfRange",           "unknownSexDigit",        "invalidDischargeStatus",
    "invalidLengthOfStay",     "malformedCode",          "diagnosisNotInEdition",
    "procedureNotInEdition",   "missingPrincipal",       "repeatedCode"};

// The result fields after "line", "caseIdentifier" and "caseDate", in order.
constexpr const char* kResultNames[] = {
    "mdc",           "baseDrg",        "groupStatus",         "orProcedureIndex",
    "secondaryIndex", "secondSecondaryIndex", "secondOrProcedureIndex", "nonOrProcedureIndex",
    "secondNonOrProcedureIndex", "ccIndex", "finalDrg", "groupCode", "finaliseStatus",
    "levelSourceIndex", "underEighteen", "diagnosisLevels"};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }

bool AllDigits(const char* text, int n) {
  for (int i = 0; i < n; ++i) {
    if (!IsDigit(text[i])) return false;
  }
  return true;
}

int DaysIn(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

bool ValidDate(int year, int month, int day) {
  return month >= 1 && month <= 12 && day >= 1 && day <= DaysIn(year, month);
}

bool Blank(const char* code) { return std::memcmp(code, "     ", 5) == 0; }

// A letter, then digits and letters, then trailing blanks; three characters
// at least.
bool WellFormed(const char* code) {
  if (!IsUpper(code[0])) return false;
  int end = 5;
  while (end > 1 && code[end - 1] == ' ') --end;
  if (end < 3) return false;
  for (int i = 1; i < end; ++i) {
    if (!IsDigit(code[i]) && !IsUpper(code[i])) return false;
  }
  return true;
}

void AppendText(fmt::memory_buffer& out, std::string_view text) { out.append(text); }

// A CSV field: quoted when it holds a comma, a quote or a line break.
void AppendCsvField(fmt::memory_buffer& out, std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    out.append(text);
    return;
  }
  out.push_back('"');
  for (char c : text) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

void AppendFlagsJson(fmt::memory_buffer& out, uint32_t flags) {
  out.append(std::string_view(",\"flags\":["));
  bool first = true;
  for (int f = 0; f < kDataFlagCount; ++f) {
    if (!(flags & (1u << f))) continue;
    if (!first) out.push_back(',');
    first = false;
    out.push_back('"');
    out.append(std::string_view(kFlagNames[f]));
    out.push_back('"');
  }
  out.push_back(']');
}

void AppendFlagsCsv(fmt::memory_buffer& out, uint32_t flags) {
  bool first = true;
  for (int f = 0; f < kDataFlagCount; ++f) {
    if (!(flags & (1u << f))) continue;
    if (!first) out.push_back(';');
    first = false;
    out.append(std::string_view(kFlagNames[f]));
  }
}

std::string_view Field(const CaseRecord& r, int pos, int width) {
  if (r.fields == nullptr || r.length <= static_cast<std::size_t>(pos)) return {};
  const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(width), r.length - pos);
  return {r.fields + pos, n};
}

void AppendJson(fmt::memory_buffer& out, const CaseRecord& r, bool withReason) {
  fmt::format_to(std::back_inserter(out), "{{\"line\":{},\"caseIdentifier\":\"", r.line);
  AppendJsonEscaped(out, Field(r, kCaseIdentifierPos, 8));
  out.append(std::string_view("\",\"caseDate\":\""));
  AppendJsonEscaped(out, Field(r, kCaseDatePos, 8));
  out.push_back('"');
  if (r.request == nullptr) {
    out.append(std::string_view(",\"error\":\""));
    AppendJsonEscaped(out, r.error);
    out.append(std::string_view("\"}\n"));
    return;
  }
  const GroupRequest& q = *r.request;
  fmt::format_to(std::back_inserter(out),
                 ",\"mdc\":{},\"baseDrg\":{},\"groupStatus\":{},\"orProcedureIndex\":{},"
                 "\"secondaryIndex\":{},\"secondSecondaryIndex\":{},"
                 "\"secondOrProcedureIndex\":{},\"nonOrProcedureIndex\":{},"
                 "\"secondNonOrProcedureIndex\":{},\"ccIndex\":{},\"finalDrg\":{},"
                 "\"groupCode\":\"{:06d}\",\"finaliseStatus\":{},\"levelSourceIndex\":{},"
                 "\"underEighteen\":{},\"diagnosisLevels\":\"",
                 q.mdc, q.baseDrg, q.groupStatus, q.orProcedureIndex, q.secondaryIndex,
                 q.secondSecondaryIndex, q.secondOrProcedureIndex, q.nonOrProcedureIndex,
                 q.secondNonOrProcedureIndex, q.ccIndex, q.finalDrg, q.groupCode % 1000000,
                 q.finaliseStatus, q.levelSourceIndex, q.underEighteen);
  AppendJsonEscaped(out, std::string_view(r.levels, 10));
  out.push_back('"');
  if (withReason && !r.reason.empty()) {
    out.append(std::string_view(",\"reason\":\""));
    AppendJsonEscaped(out, r.reason);
    out.push_back('"');
  }
  if (r.withFlags) AppendFlagsJson(out, r.flags);
  out.append(std::string_view("}\n"));
}

void AppendCsv(fmt::memory_buffer& out, const CaseRecord& r, bool withReason) {
  fmt::format_to(std::back_inserter(out), "{},", r.line);
  AppendCsvField(out, Field(r, kCaseIdentifierPos, 8));
  out.push_back(',');
  AppendCsvField(out, Field(r, kCaseDatePos, 8));
  if (r.request != nullptr) {
    const GroupRequest& q = *r.request;
    fmt::format_to(std::back_inserter(out), ",{},{},{},{},{},{},{},{},{},{},{},{:06d},{},{},{},",
                   q.mdc, q.baseDrg, q.groupStatus, q.orProcedureIndex, q.secondaryIndex,
                   q.secondSecondaryIndex, q.secondOrProcedureIndex, q.nonOrProcedureIndex,
                   q.secondNonOrProcedureIndex, q.ccIndex, q.finalDrg, q.groupCode % 1000000,
                   q.finaliseStatus, q.levelSourceIndex, q.underEighteen);
    AppendCsvField(out, std::string_view(r.levels, 10));
  } else {
    // The result columns stay empty.
    for (std::size_t i = 0; i < std::size(kResultNames); ++i) out.push_back(',');
  }
  if (withReason) {
    out.push_back(',');
    AppendCsvField(out, r.reason);
  }
  if (r.withFlags) {
    out.push_back(',');
    AppendFlagsCsv(out, r.flags);
  }
  out.push_back(',');
  AppendCsvField(out, r.error);
  out.append(std::string_view("\r\n"));
}

}  // namespace

const char* DataFlagName(DataFlag flag) { return kFlagNames[flag]; }

ShortLineError::ShortLineError(std::size_t length) {
  const auto end = fmt::format_to_n(buffer, sizeof buffer,
                                    "a line of {} characters, shorter than {}: written without "
                                    "results",
                                    length, kGroupedLineMinimum);
  size = static_cast<std::size_t>(end.out - buffer);
}

uint32_t DataFlagsOf(const char* f, const GroupState& s) {
  uint32_t flags = 0;
  auto set = [&flags](DataFlag flag) { flags |= 1u << flag; };
  const char* birth = f + kBirthDatePos;
  const char* date = f + kCaseDatePos;
  const char sex = f[kSexDigitPos];

  const bool caseDateOk = AllDigits(date, 8) &&
                          ValidDate(ParseDigits(date, 4), ParseDigits(date + 4, 2),
                                    ParseDigits(date + 6, 2));
  if (!caseDateOk) set(kInvalidCaseDate);
  const int birthYear = BirthYear(birth, date, sex);
  const bool birthOk = AllDigits(birth, 6) &&
                       ValidDate(birthYear, ParseDigits(birth + 2, 2), ParseDigits(birth + 4, 2));
  if (!birthOk) set(kInvalidBirthDate);
  if (birthOk && caseDateOk) {
    const long born = birthYear * 10000L + ParseDigits(birth + 2, 4);
    const long on = ParseDigits(date, 4) * 10000L + ParseDigits(date + 4, 4);
    if (born > on) set(kBirthAfterCaseDate);
  }
  if (s.age < 0 || s.age > 124) set(kAgeOutOfRange);
  if (!IsDigit(sex)) set(kUnknownSexDigit);
  if (!IsDigit(f[kDischargeStatusPos])) set(kInvalidDischargeStatus);
  if (ParseDigits(f + kLengthOfStayPos, kLengthOfStayWidth) < 0) set(kInvalidLengthOfStay);

  const char* dx = f + kDiagnosisCodesPos;
  const char* px = f + kProcedureCodesPos;
  if (Blank(dx)) set(kMissingPrincipal);
  for (int i = 0; i < kLineDiagnoses; ++i) {
    const char* code = dx + 5 * i;
    if (Blank(code)) continue;
    if (!WellFormed(code)) {
      set(kMalformedCode);
    } else if (s.diagnosisEntry[static_cast<std::size_t>(i)] == -1) {
      set(kDiagnosisNotInEdition);
    }
    for (int k = 0; k < i; ++k) {
      if (std::memcmp(code, dx + 5 * k, 5) == 0) set(kRepeatedCode);
    }
  }
  for (int j = 0; j < kLineProcedures; ++j) {
    const char* code = px + 5 * j;
    if (Blank(code)) continue;
    if (!WellFormed(code)) {
      set(kMalformedCode);
    } else if (s.procedureEntry[static_cast<std::size_t>(j)] == -1) {
      set(kProcedureNotInEdition);
    }
    for (int k = 0; k < j; ++k) {
      if (std::memcmp(code, px + 5 * k, 5) == 0) set(kRepeatedCode);
    }
  }
  return flags;
}

void AppendCsvHeader(fmt::memory_buffer& out, bool withReason, bool withFlags) {
  out.append(std::string_view("line,caseIdentifier,caseDate"));
  for (const char* name : kResultNames) {
    out.push_back(',');
    AppendText(out, name);
  }
  if (withReason) out.append(std::string_view(",reason"));
  if (withFlags) out.append(std::string_view(",flags"));
  out.append(std::string_view(",error\r\n"));
}

void AppendRecord(fmt::memory_buffer& out, RecordFormat format, const CaseRecord& record,
                  bool withReason) {
  if (format == RecordFormat::kJsonl) {
    AppendJson(out, record, withReason);
  } else {
    AppendCsv(out, record, withReason);
  }
}

void AppendJsonEscaped(fmt::memory_buffer& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c < 0x20 || c >= 0x7F) {
      const char escape[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
      out.append(escape, escape + 6);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
}

}  // namespace tallow::app

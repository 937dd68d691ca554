#include "app/case_line.h"

#include <bit>
#include <cstdint>
#include <cstring>

#include "tables/codes.h"

namespace tallow::app {

void CaseLine::Assign(const char* text, std::size_t length, bool pad) {
  if (length >= kResultsEnd) {  // the usual line: copies of sizes known here
    std::memcpy(text_.data(), text, kResultsEnd);
    std::memset(text_.data() + kResultsEnd, 0, text_.size() - kResultsEnd);
    return;
  }
  const std::size_t n = length;
  std::memcpy(text_.data(), text, n);
  std::size_t filled = n;
  if (pad && filled < kGroupedLineMinimum) {
    std::memset(text_.data() + filled, ' ', kGroupedLineMinimum - filled);
    filled = kGroupedLineMinimum;
  }
  std::memset(text_.data() + filled, 0, text_.size() - filled);
}

int BirthYear(const char* birthDate, const char* caseDate, char sexDigit) {
  const int yy = ParseDigits(birthDate, 2);
  int century = 1900;
  switch (sexDigit) {
    case '9':
    case '0':
      century = 1800;
      break;
    case '1':
    case '2':
      century = 1900;
      break;
    case '3':
    case '4':
      century = 2000;
      break;
    case '5':
    case '6':
    case '7':
    case '8':
      // The two year characters compare as unsigned bytes and stop at a NUL.
      if (caseDate[0] == '1' && caseDate[1] == '9') {
        century = 1900;
      } else if (std::strncmp(birthDate, caseDate + 2, 2) > 0) {
        century = 1900;
      } else {
        century = 2000;
      }
      break;
    default:
      century = 1900;
      break;
  }
  return century + yy;
}

namespace {

// Whether the n characters (n <= 8) are all digits, eight bytes tested at
// once.
bool AllDigits(const char* text, int n) {
  uint64_t v = 0;
  std::memcpy(&v, text, static_cast<std::size_t>(n));
  const uint64_t used = n == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * n)) - 1;
  if constexpr (std::endian::native != std::endian::little) {
    return ParseDigits(text, n) >= 0 && std::memchr(text, ' ', static_cast<std::size_t>(n)) == nullptr;
  }
  // A byte below '0' borrows into its high bit; one above '9' carries.
  constexpr uint64_t kZeros = 0x3030303030303030;
  constexpr uint64_t kAboveNine = 0x4646464646464646;  // 0x7F - '9'
  constexpr uint64_t kHighs = 0x8080808080808080;
  const uint64_t bytes = (v & used) | (kZeros & ~used);
  return (((bytes - kZeros) | (bytes + kAboveNine) | bytes) & kHighs) == 0;
}

int TwoDigits(const char* text) { return (text[0] - '0') * 10 + (text[1] - '0'); }

// Four characters as one number that orders like the texts.
uint32_t FourCharacters(const char* text) {
  uint32_t v = 0;
  std::memcpy(&v, text, sizeof v);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap32(v);
  return v;
}

}  // namespace

int AgeInYears(const char* birthDate, const char* caseDate, char sexDigit) {
  const int birthYear = BirthYear(birthDate, caseDate, sexDigit);
  if (AllDigits(birthDate + 2, 4) && AllDigits(caseDate, 8)) {
    // Months and days of two digits each order as their four characters.
    int age = TwoDigits(caseDate) * 100 + TwoDigits(caseDate + 2) - birthYear;
    if (FourCharacters(caseDate + 4) < FourCharacters(birthDate + 2)) --age;
    return age;
  }
  const int birthMonth = ParseDigits(birthDate + 2, 2);
  const int birthDay = ParseDigits(birthDate + 4, 2);
  const int caseYear = ParseDigits(caseDate, 4);
  const int caseMonth = ParseDigits(caseDate + 4, 2);
  const int caseDay = ParseDigits(caseDate + 6, 2);
  int age = caseYear - birthYear;
  if (caseMonth < birthMonth || (caseMonth == birthMonth && caseDay < birthDay)) --age;
  return age;
}

void BindRequest(GroupRequest& request, const CaseLine& line) {
  const char* text = line.data();
  for (int i = 0; i < kMaxDiagnoses; ++i) {
    request.diagnosisCodes[i] = i < kLineDiagnoses ? text + kDiagnosisCodesPos + 5 * i : nullptr;
  }
  for (int j = 0; j < kMaxProcedures; ++j) {
    request.procedureCodes[j] = j < kLineProcedures ? text + kProcedureCodesPos + 5 * j : nullptr;
  }
  request.diagnosisCount = kLineDiagnoses;
  request.procedureCount = kLineProcedures;
  request.versionDateOut = nullptr;
}

void PrepareRequest(GroupRequest& request, const CaseLine& line) {
  const char* text = line.data();
  const char sexDigit = text[kSexDigitPos];
  request.age = static_cast<int16_t>(
      AgeInYears(text + kBirthDatePos, text + kCaseDatePos, sexDigit));
  request.sexDigit = static_cast<int16_t>(sexDigit - '0');
  request.dischargeStatus = static_cast<int16_t>(ParseDigits(text + kDischargeStatusPos, 1));
  request.lengthOfStay =
      static_cast<int16_t>(ParseDigits(text + kLengthOfStayPos, kLengthOfStayWidth));
  request.birthWeight = -2;
}

void StoreResults(const GroupRequest& request, int flags, CaseLine& line) {
  char* text = line.data();
  if ((flags & (GroupFlagDecide | GroupFlagFinalise)) != 0) {
    FormatDigits(request.mdc, text + kMdcPos, 2);
  }
  if ((flags & GroupFlagFinalise) != 0) {
    FormatDigits(request.groupCode, text + kGroupCodePos, 6);
    std::memcpy(text + kVersionStampPos, VersionDate, 8);
  }
}

void StoreLevels(const char* levels, CaseLine& line) {
  std::memcpy(line.data() + kDiagnosisLevelsPos, levels, kLineDiagnoses);
}

}  // namespace tallow::app

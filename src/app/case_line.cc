#include "app/case_line.h"

#include <cstring>

#include "tables/codes.h"

namespace tallow::app {

void CaseLine::Assign(const char* text, std::size_t length, bool pad) {
  const std::size_t n = length < kResultsEnd ? length : kResultsEnd;
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

int AgeInYears(const char* birthDate, const char* caseDate, char sexDigit) {
  const int birthYear = BirthYear(birthDate, caseDate, sexDigit);
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

#include "app/case_line.h"

#include <cerrno>
#include <cstring>

#include "tables/codes.h"

namespace tallow::app {

void CaseLine::Clear() {
  // Only the part that may have been written needs clearing: the characters
  // read and the result fields, which a short line gets behind its end.
  const int64_t used = length_ > kResultsEnd ? length_ : kResultsEnd;
  const size_t n = static_cast<size_t>(used < kLineBufferSize ? used : kLineBufferSize);
  std::memset(text_.data(), 0, n);
  tail_.clear();
  length_ = 0;
  firstNul_ = -1;
  ending_ = LineEnding::kNone;
}

void CaseLine::Push(char c) {
  if (c == '\0' && firstNul_ < 0) firstNul_ = length_;
  if (length_ < kLineBufferSize) {
    text_[static_cast<size_t>(length_)] = c;
  } else {
    tail_.push_back(c);
  }
  ++length_;
}

void CaseLine::PopBack() {
  if (length_ == 0) return;
  --length_;
  if (length_ < kLineBufferSize) {
    text_[static_cast<size_t>(length_)] = '\0';
  } else {
    tail_.pop_back();
  }
  if (firstNul_ == length_) firstNul_ = -1;
}

int64_t CaseLine::OutputLength() const {
  const void* nul = std::memchr(text_.data(), '\0', text_.size());
  if (nul != nullptr) return static_cast<const char*>(nul) - text_.data();
  const size_t tailNul = tail_.find('\0');
  return kLineBufferSize +
         static_cast<int64_t>(tailNul == std::string::npos ? tail_.size() : tailNul);
}

bool CaseLine::Write(std::FILE* out) const {
  const int64_t n = OutputLength();
  const size_t head = static_cast<size_t>(n < kLineBufferSize ? n : kLineBufferSize);
  if (std::fwrite(text_.data(), 1, head, out) != head) return false;
  if (n > kLineBufferSize) {
    const size_t rest = static_cast<size_t>(n - kLineBufferSize);
    if (std::fwrite(tail_.data(), 1, rest, out) != rest) return false;
  }
  if (ending_ == LineEnding::kCrLf) return std::fputs("\r\n", out) >= 0;
  return std::fputc('\n', out) != EOF;
}

LineReader::Status LineReader::ReadCaseLine(CaseLine& line) {
  line.Clear();
  bool any = false;
  for (;;) {
    int c = getc_unlocked(in_);
    if (c == EOF) {
      if (std::ferror(in_)) {
        errorNumber_ = errno != 0 ? errno : EIO;
        return Status::kError;
      }
      line.set_ending(LineEnding::kNone);
      return any ? Status::kLine : Status::kEnd;
    }
    any = true;
    ++bytesRead_;
    if (c == '\n') {
      line.set_ending(LineEnding::kLf);
      return Status::kLine;
    }
    if (c == '\r') {
      const int next = getc_unlocked(in_);
      if (next == '\n') {
        ++bytesRead_;
        line.set_ending(LineEnding::kCrLf);
        return Status::kLine;
      }
      if (next != EOF) {
        ungetc(next, in_);
      } else if (std::ferror(in_)) {
        errorNumber_ = errno != 0 ? errno : EIO;
        return Status::kError;
      }
    }
    line.Push(static_cast<char>(c));
  }
}

int AgeInYears(const char* birthDate, const char* caseDate, char sexDigit) {
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
  const int birthYear = century + yy;
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
  if ((flags & GroupFlagDecide) != 0) FormatDigits(request.mdc, text + kMdcPos, 2);
  if ((flags & GroupFlagFinalise) != 0) {
    FormatDigits(request.groupCode, text + kGroupCodePos, 6);
    FormatDigits(request.mdc, text + kMdcPos, 2);
    std::memcpy(text + kVersionStampPos, VersionDate, 8);
  }
}

void StoreLevels(const char* levels, CaseLine& line) {
  std::memcpy(line.data() + kDiagnosisLevelsPos, levels, kLineDiagnoses);
}

}  // namespace tallow::app

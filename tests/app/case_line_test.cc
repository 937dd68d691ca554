#include "app/case_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tables/codes.h"

namespace tallow::app {
namespace {

// Takes a line into the buffer as the batch does.
void Load(const std::string& text, CaseLine& line) { line.Assign(text.data(), text.size(), false); }

TEST(CaseLineTest, AssignKeepsTheFieldsAndFillsPastTheEnd) {
  CaseLine line;
  const std::string full(300, 'x');
  Load(full, line);
  EXPECT_EQ(std::string(line.data(), kResultsEnd), full.substr(0, kResultsEnd));

  // A shorter line reads as NUL after its end, whatever the line before held.
  Load("short", line);
  EXPECT_EQ(std::string(line.data(), 5), "short");
  for (int i = 5; i < kResultsEnd; ++i) ASSERT_EQ(line.data()[i], '\0') << i;

  // Padded: blanks up to the results, NUL behind them.
  line.Assign("short", 5, true);
  EXPECT_EQ(std::string(line.data(), kMdcPos), "short" + std::string(kMdcPos - 5, ' '));
  EXPECT_EQ(line.data()[kMdcPos], '\0');
}

TEST(ParseDigitsTest, BlanksSkippedOtherCharactersInvalid) {
  struct Case {
    const char* text;
    int expected;
  };
  const Case cases[] = {{"  7", 7}, {"7  ", 7}, {" 7 ", 7}, {"   ", 0}, {"1 2", 12},
                        {"7A ", -1}, {"\0\0\0", -1}, {"123", 123}};
  for (const Case& c : cases) {
    EXPECT_EQ(ParseDigits(c.text, 3), c.expected) << '"' << c.text << '"';
  }
}

TEST(AgeInYearsTest, CenturyFromSexDigitAndBirthday) {
  struct Case {
    const char* name;
    const char* birthDate;
    const char* caseDate;
    char sexDigit;
    int age;
  };
  const Case cases[] = {
      {"day before the birthday", "850301", "20050228", '1', 19},
      {"on the birthday", "850301", "20050301", '1', 20},
      {"same month, later day", "850301", "20050315", '2', 20},
      {"2000s digit", "020615", "20040101", '3', 1},
      {"5: 02 not above 04 gives 2002", "020615", "20040101", '5', 1},
      {"5: 05 above 04 gives 1905", "050615", "20040101", '6', 98},
      {"5: equal years give 2004", "040101", "20040101", '7', 0},
      {"8: case date in the 1900s", "020615", "19990101", '8', 96},
      {"0: 1800s", "990101", "20000101", '0', 101},
      {"9: 1800s", "990101", "20000101", '9', 101},
      {"other character: 1900s", "500101", "20000101", 'X', 50},
      {"birth after the case date", "100101", "20050101", '3', -5},
      {"unreadable birth month counts as -1", "85AA01", "20050101", '1', 20},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AgeInYears(c.birthDate, c.caseDate, c.sexDigit), c.age) << c.name;
  }
}

TEST(AgeInYearsTest, BirthYearComparedAsUnsignedBytesUpToNul) {
  // A byte above 0x7F sorts above every digit, so the birth is in the 1900s.
  EXPECT_EQ(AgeInYears("\xB0" "00101", "20040101", '5'), 105);
  // A NUL in both year texts ends the comparison as equal (2000s), whatever
  // follows it.
  const char birthDate[6] = {'\0', '9', '0', '1', '0', '1'};
  const char caseDate[8] = {'2', '0', '\0', '0', '0', '1', '0', '1'};
  EXPECT_EQ(AgeInYears(birthDate, caseDate, '5'), -1 - 1999);
}

// Dates of digits only are read at once; a blank in place of a leading zero
// reads the same digits field by field (blanks are skipped), and a byte that
// is no digit, even one beside the digits, makes its field unreadable.
TEST(AgeInYearsTest, DigitDatesReadAtOnceAgreeWithTheFieldByFieldReading) {
  uint64_t state = 99;
  auto below = [&state](int n) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    return static_cast<int>((state >> 33) % static_cast<uint64_t>(n));
  };
  int compared = 0;
  for (int k = 0; k < 20000; ++k) {
    char birth[7] = {};
    char date[9] = {};
    FormatDigits(below(100) * 10000 + (1 + below(12)) * 100 + 1 + below(31), birth, 6);
    FormatDigits((1990 + below(20)) * 10000L + (1 + below(12)) * 100 + 1 + below(31), date, 8);
    const char sex = static_cast<char>('0' + below(10));
    const int fast = AgeInYears(birth, date, sex);
    char slowBirth[7];
    char slowDate[9];
    std::memcpy(slowBirth, birth, 7);
    std::memcpy(slowDate, date, 9);
    for (char* field : {slowBirth + 2, slowBirth + 4, slowDate + 4, slowDate + 6}) {
      if (field[0] == '0') field[0] = ' ';
    }
    if (std::memcmp(slowBirth, birth, 6) == 0 && std::memcmp(slowDate, date, 8) == 0) continue;
    ASSERT_EQ(AgeInYears(slowBirth, slowDate, sex), fast) << birth << " " << date << " " << sex;
    ++compared;
    // An unreadable month or day is below every month or day, as "00" is.
    for (const char odd : {'A', '/', ':', '\xB0'}) {
      const int at = 4 + below(4);
      char oddDate[9];
      char zeroDate[9];
      std::memcpy(oddDate, date, 9);
      std::memcpy(zeroDate, date, 9);
      oddDate[at] = odd;
      std::memcpy(zeroDate + (at < 6 ? 4 : 6), "00", 2);
      ASSERT_EQ(AgeInYears(birth, oddDate, sex), AgeInYears(birth, zeroDate, sex)) << oddDate;
    }
  }
  EXPECT_GT(compared, 10000);
}

// A case line with the input fields given and blanks elsewhere.
std::string MakeLine(const char* birthDate, char sexDigit, const char* caseDate,
                     const char* stay, char status) {
  std::string s(188, ' ');
  s.replace(0, 8, "ID000001");
  s.replace(kBirthDatePos, 6, birthDate);
  s[kSexDigitPos] = sexDigit;
  s.replace(kCaseDatePos, 8, caseDate);
  s.replace(kLengthOfStayPos, 3, stay);
  s[kDischargeStatusPos] = status;
  s.replace(kDiagnosisCodesPos, 5, "I219 ");
  s.replace(kDiagnosisCodesPos + 45, 5, "E119 ");
  s.replace(kProcedureCodesPos, 5, "Q2950");
  s.replace(kProcedureCodesPos + 95, 5, "M0010");
  return s;
}

TEST(PrepareRequestTest, DemographicValuesFromTheLine) {
  struct Case {
    const char* name;
    std::string text;
    int age, sexDigit, dischargeStatus, lengthOfStay;
  };
  const Case cases[] = {
      {"plain", MakeLine("850301", '1', "20050301", " 12", '1'), 20, 1, 1, 12},
      {"blank stay and status", MakeLine("850301", '2', "20050301", "   ", ' '), 20, 2, 0, 0},
      {"letter in stay", MakeLine("850301", '2', "20050301", "1A ", '9'), 20, 2, 9, -1},
      {"blank sex digit", MakeLine("850301", ' ', "20050301", "  3", '1'), 20, ' ' - '0', 1, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CaseLine line;
    Load(c.text, line);
    GroupRequest request;
    request.birthWeight = 1234;
    PrepareRequest(request, line);
    EXPECT_EQ(request.age, c.age);
    EXPECT_EQ(request.sexDigit, c.sexDigit);
    EXPECT_EQ(request.dischargeStatus, c.dischargeStatus);
    EXPECT_EQ(request.lengthOfStay, c.lengthOfStay);
    EXPECT_EQ(request.birthWeight, -2);
  }
}

TEST(BindRequestTest, CodeReferencesFollowEveryNewLine) {
  CaseLine line;
  GroupRequest request;
  BindRequest(request, line);
  EXPECT_EQ(request.diagnosisCount, 10);
  EXPECT_EQ(request.procedureCount, 20);
  EXPECT_EQ(request.diagnosisCodes[10], nullptr);
  EXPECT_EQ(request.diagnosisCodes[14], nullptr);

  Load(MakeLine("850301", '1', "20050301", "  1", '1'), line);
  EXPECT_EQ(std::string(request.diagnosisCodes[0], 5), "I219 ");
  EXPECT_EQ(std::string(request.diagnosisCodes[9], 5), "E119 ");
  EXPECT_EQ(std::string(request.procedureCodes[0], 5), "Q2950");
  EXPECT_EQ(std::string(request.procedureCodes[19], 5), "M0010");
  // The next, short line: the same references now read NUL characters.
  Load("short", line);
  EXPECT_EQ(request.diagnosisCodes[0][0], '\0');
  EXPECT_EQ(request.procedureCodes[19][4], '\0');
}

TEST(StoreResultsTest, FieldsWrittenByFlags) {
  GroupRequest r;
  r.mdc = 7;
  r.groupCode = 1234567;  // only its last six digits fit
  struct Case {
    int flags;
    const char* expected;  // positions 188-203
  };
  const Case cases[] = {
      {0, "................"},
      {GroupFlagDecide, "07.............."},
      {GroupFlagFinalise, "0723456720050801"},
      {GroupFlagDecide | GroupFlagFinalise, "0723456720050801"},
  };
  for (const Case& c : cases) {
    CaseLine line;
    Load(std::string(220, '.'), line);
    StoreResults(r, c.flags, line);
    EXPECT_EQ(std::string(line.data() + kMdcPos, 16), c.expected) << "flags " << c.flags;
    EXPECT_EQ(line.data()[kMdcPos - 1], '.');
    EXPECT_EQ(line.data()[kDiagnosisLevelsPos], '.');
  }
}

}  // namespace
}  // namespace tallow::app

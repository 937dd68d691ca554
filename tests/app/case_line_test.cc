#include "app/case_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tables/codes.h"

namespace tallow::app {
namespace {

// A stream holding exactly these bytes, read from the start.
std::FILE* StreamOf(const std::string& bytes) {
  std::FILE* f = std::tmpfile();
  if (f == nullptr) return nullptr;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::rewind(f);
  return f;
}

struct ReadLine {
  std::string text;
  LineEnding ending;
};

std::vector<ReadLine> ReadAll(const std::string& bytes) {
  std::FILE* f = StreamOf(bytes);
  EXPECT_NE(f, nullptr);
  std::vector<ReadLine> lines;
  if (f == nullptr) return lines;
  LineReader reader(f);
  CaseLine line;
  while (reader.ReadCaseLine(line) == LineReader::Status::kLine) {
    const auto n = static_cast<size_t>(line.length());
    std::string text(line.data(), n < kLineBufferSize ? n : kLineBufferSize);
    lines.push_back({text, line.ending()});
  }
  std::fclose(f);
  return lines;
}

// The output of one line after the results were stored into it.
std::string Written(const CaseLine& line) {
  char* buffer = nullptr;
  size_t size = 0;
  std::FILE* f = open_memstream(&buffer, &size);
  EXPECT_TRUE(line.Write(f));
  std::fclose(f);
  std::string out(buffer, size);
  std::free(buffer);
  return out;
}

// Reads the first line of `bytes` into `line`.
void Load(const std::string& bytes, CaseLine& line) {
  std::FILE* f = StreamOf(bytes);
  ASSERT_NE(f, nullptr);
  LineReader reader(f);
  ASSERT_EQ(reader.ReadCaseLine(line), LineReader::Status::kLine);
  std::fclose(f);
}

// A result record that shows in every output field.
GroupRequest Results() {
  GroupRequest r;
  r.mdc = 5;
  r.groupCode = 121345;
  return r;
}

void FillResults(CaseLine& line) {
  StoreResults(Results(), GroupFlagDecide | GroupFlagFinalise, line);
  StoreLevels("0123456789", line);
}

constexpr char kResults[] = "05121345200508010123456789";  // positions 188-213

std::string Pattern(size_t n) {
  std::string s(n, ' ');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 26);
  return s;
}

TEST(LineReaderTest, LineEndsAndDataBytes) {
  struct Case {
    const char* name;
    std::string input;
    std::vector<ReadLine> lines;
  };
  const std::vector<Case> cases = {
      {"empty input", "", {}},
      {"lf", "ab\ncd\n", {{"ab", LineEnding::kLf}, {"cd", LineEnding::kLf}}},
      {"crlf", "ab\r\ncd\r\n", {{"ab", LineEnding::kCrLf}, {"cd", LineEnding::kCrLf}}},
      {"mixed endings", "ab\r\ncd\n", {{"ab", LineEnding::kCrLf}, {"cd", LineEnding::kLf}}},
      {"lone cr is data", "a\rb\n", {{"a\rb", LineEnding::kLf}}},
      {"cr before crlf", "ab\r\r\n", {{"ab\r", LineEnding::kCrLf}}},
      {"cr at end of input", "ab\r", {{"ab\r", LineEnding::kNone}}},
      {"last line without newline", "ab\ncd", {{"ab", LineEnding::kLf}, {"cd", LineEnding::kNone}}},
      {"empty lines", "\n\r\nx\n",
       {{"", LineEnding::kLf}, {"", LineEnding::kCrLf}, {"x", LineEnding::kLf}}},
      {"ctrl-z and nul are data", std::string("a\x1a\0b\n", 5),
       {{std::string("a\x1a\0b", 4), LineEnding::kLf}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<ReadLine> got = ReadAll(c.input);
    ASSERT_EQ(got.size(), c.lines.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].text, c.lines[i].text) << "line " << i;
      EXPECT_EQ(got[i].ending, c.lines[i].ending) << "line " << i;
    }
  }
}

TEST(LineReaderTest, ReadErrorEndsReadingInsteadOfLooping) {
  // Reading a directory fails on this platform without reaching end of file.
  std::FILE* f = std::fopen("/", "rb");
  ASSERT_NE(f, nullptr);
  LineReader reader(f);
  CaseLine line;
  EXPECT_EQ(reader.ReadCaseLine(line), LineReader::Status::kError);
  EXPECT_NE(reader.errorNumber(), 0);
  std::fclose(f);
}

TEST(CaseLineTest, WrittenBackWithResults) {
  const std::string long300 = Pattern(300);
  struct Case {
    const char* name;
    std::string input;
    std::string expected;
  };
  const std::vector<Case> cases = {
      // Results land behind the NULs after a short line and are not written.
      {"shorter than 188", Pattern(100) + "\n", Pattern(100) + "\n"},
      {"exactly 188", Pattern(188) + "\n", Pattern(188) + kResults + "\n"},
      {"between 188 and 213", Pattern(200) + "\n", Pattern(188) + kResults + "\n"},
      {"exactly 214", Pattern(214) + "\n", Pattern(188) + kResults + "\n"},
      {"tail kept", long300 + "\n", Pattern(188) + kResults + long300.substr(214) + "\n"},
      {"crlf kept", Pattern(214) + "\r\n", Pattern(188) + kResults + "\r\n"},
      {"no newline gets one", Pattern(214), Pattern(188) + kResults + "\n"},
      {"lone cr stays in the tail", long300 + "\r", Pattern(188) + kResults +
                                                         long300.substr(214) + "\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CaseLine line;
    Load(c.input, line);
    FillResults(line);
    EXPECT_EQ(Written(line), c.expected);
  }
}

TEST(CaseLineTest, LinesOfThreeThousandCharactersAndMoreKeepTheirTail) {
  for (size_t n : {2999u, 3000u, 3001u, 7777u}) {
    SCOPED_TRACE(n);
    const std::string text = Pattern(n);
    CaseLine line;
    Load(text + "\r\n", line);
    EXPECT_EQ(line.length(), static_cast<int64_t>(n));
    FillResults(line);
    std::string expected = text;
    expected.replace(188, 26, kResults);
    EXPECT_EQ(Written(line), expected + "\r\n");
  }
}

TEST(CaseLineTest, NulCutsTheOutputUnlessResultsCoverIt) {
  CaseLine line;
  std::string text = Pattern(300);
  text[100] = '\0';
  Load(text + "\n", line);
  EXPECT_EQ(line.firstNul(), 100);
  FillResults(line);
  EXPECT_EQ(Written(line), Pattern(100) + "\n");

  text = Pattern(300);
  text[200] = '\0';  // inside the result fields: overwritten
  Load(text + "\n", line);
  FillResults(line);
  EXPECT_EQ(line.OutputLength(), 300);

  text = Pattern(3500);
  text[3200] = '\0';  // in the tail beyond the fixed buffer
  Load(text + "\n", line);
  EXPECT_EQ(line.firstNul(), 3200);
  EXPECT_EQ(line.OutputLength(), 3200);
}

TEST(CaseLineTest, ReusedBufferKeepsNothingOfEarlierLines) {
  std::FILE* f = StreamOf(Pattern(5000) + "\n" + "short\n" + Pattern(150) + "\n");
  ASSERT_NE(f, nullptr);
  LineReader reader(f);
  CaseLine line;
  ASSERT_EQ(reader.ReadCaseLine(line), LineReader::Status::kLine);
  FillResults(line);
  ASSERT_EQ(reader.ReadCaseLine(line), LineReader::Status::kLine);
  EXPECT_EQ(line.length(), 5);
  EXPECT_EQ(Written(line), "short\n");
  // The fields past the end read as NUL again, results included.
  for (int i = 5; i < kLineBufferSize; ++i) ASSERT_EQ(line.data()[i], '\0') << i;
  FillResults(line);
  ASSERT_EQ(reader.ReadCaseLine(line), LineReader::Status::kLine);
  EXPECT_EQ(Written(line), Pattern(150) + "\n");
  EXPECT_EQ(reader.ReadCaseLine(line), LineReader::Status::kEnd);
  std::fclose(f);
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
    Load(c.text + "\n", line);
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
  std::FILE* f = StreamOf(MakeLine("850301", '1', "20050301", "  1", '1') + "\nshort\n");
  ASSERT_NE(f, nullptr);
  LineReader reader(f);
  CaseLine line;
  GroupRequest request;
  BindRequest(request, line);
  EXPECT_EQ(request.diagnosisCount, 10);
  EXPECT_EQ(request.procedureCount, 20);
  EXPECT_EQ(request.diagnosisCodes[10], nullptr);
  EXPECT_EQ(request.diagnosisCodes[14], nullptr);

  ASSERT_EQ(reader.ReadCaseLine(line), LineReader::Status::kLine);
  EXPECT_EQ(std::string(request.diagnosisCodes[0], 5), "I219 ");
  EXPECT_EQ(std::string(request.diagnosisCodes[9], 5), "E119 ");
  EXPECT_EQ(std::string(request.procedureCodes[0], 5), "Q2950");
  EXPECT_EQ(std::string(request.procedureCodes[19], 5), "M0010");
  // The next, short line: the same references now read NUL characters.
  ASSERT_EQ(reader.ReadCaseLine(line), LineReader::Status::kLine);
  EXPECT_EQ(request.diagnosisCodes[0][0], '\0');
  EXPECT_EQ(request.procedureCodes[19][4], '\0');
  std::fclose(f);
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
    Load(std::string(220, '.') + "\n", line);
    StoreResults(r, c.flags, line);
    EXPECT_EQ(std::string(line.data() + kMdcPos, 16), c.expected) << "flags " << c.flags;
    EXPECT_EQ(line.data()[kMdcPos - 1], '.');
    EXPECT_EQ(line.data()[kDiagnosisLevelsPos], '.');
  }
}

}  // namespace
}  // namespace tallow::app

// The batch end to end: files in a temporary directory, a small table set,
// exit statuses, messages and what the output holds afterwards.
#include "app/batch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/output_file.h"
#include "app_files.h"
#include "support/table_fixture.h"

namespace tallow::app {
namespace {

using testing::CapturedStream;
using testing::ReadFile;
using testing::TempDir;

// One rule: every case in MDC 6 gets DRG 161 (age-split, no level). From
// 2002 the refined code splits it to 1612, so a 2003 adult gets 161200.
const std::map<std::string, std::string> kSources = {
    {"DXTAB1", "class 1 6 0 0 0400000000\nentry K409 1\n"},
    {"DGTAB0", "rule 6 1610 0 -\n"},
    {"RDRGDRG", "1610 1610 1 5 -\n"},
};

// A 188-character case line dated 2003-03-15 with the principal diagnosis
// given; `tag` fills the identifier so that lines can be told apart.
std::string CaseLine(const std::string& tag, const std::string& principal = "K409") {
  std::string line = (tag + "        ").substr(0, 8);
  line += "600101" "1" "000000" "20030315" "  3" "1";
  line += (principal + "     ").substr(0, 5);
  line.resize(188, ' ');
  return line;
}

// The output fields of a grouped line: MDC 6, 161200, version, levels.
const std::string kResults = "06161200200508010000000000";

class BatchTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_.WriteTables(tallow::testing::BuildImages(kSources)); }

  BatchOptions Options(OutputFormat format = OutputFormat::kLines) {
    BatchOptions options;
    options.tablesDirectory = dir_.Path();
    options.inputPath = dir_.Path("tallow.in");
    options.outputPath = dir_.Path("tallow.out");
    options.format = format;
    options.err = err_.get();
    return options;
  }

  int Run(const std::string& input, OutputFormat format = OutputFormat::kLines) {
    dir_.Write("tallow.in", input);
    return RunBatch(Options(format));
  }

  std::string Output() { return ReadFile(dir_.Path("tallow.out")).value_or("<missing>"); }

  // The names in the directory other than the tables, sorted.
  std::vector<std::string> Files() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.Path())) {
      const std::string name = entry.path().filename().string();
      if (name.find_first_of("abcdefghijklmnopqrstuvwxyz") != std::string::npos) {
        names.push_back(name);
      }
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  TempDir dir_;
  CapturedStream err_;
};

TEST_F(BatchTest, EveryLineGroupedAndWrittenWithItsOwnEnding) {
  const std::string a = CaseLine("A"), b = CaseLine("B"), c = CaseLine("C");
  EXPECT_EQ(Run(a + "\n" + b + "\r\n" + c), kExitOk);
  // The last line, without an ending, ends like the line before it.
  EXPECT_EQ(Output(), a + kResults + "\n" + b + kResults + "\r\n" + c + kResults + "\r\n");
  EXPECT_EQ(err_.Text(), "");
}

TEST_F(BatchTest, EmptyInputGivesEmptyOutput) {
  EXPECT_EQ(Run(""), kExitOk);
  EXPECT_EQ(Output(), "");
}

TEST_F(BatchTest, EmptyLineEndsTheInput) {
  struct Case {
    const char* name;
    std::string input;
    int status;
    const char* ending;   // of the one line written
    const char* message;  // expected in the messages, "" for none
  };
  const std::string a = CaseLine("A");
  const std::vector<Case> cases = {
      {"trailing empty lines only", a + "\n\n\r\n\n", kExitOk, "\n", ""},
      {"lines after the end mark", a + "\n\n" + CaseLine("B") + "\n\n" + CaseLine("C") + "\n",
       kExitUngrouped, "\n", "line 2 is empty and ends the input; 2 non-empty lines after it"},
      {"crlf end mark", a + "\r\n\r\nx\r\n", kExitUngrouped, "\r\n",
       "1 non-empty line after it was"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CapturedStream err;
    dir_.Write("tallow.in", c.input);
    BatchOptions options = Options();
    options.err = err.get();
    EXPECT_EQ(RunBatch(options), c.status);
    EXPECT_EQ(Output(), a + kResults + c.ending);
    if (*c.message == '\0') {
      EXPECT_EQ(err.Text(), "");
    } else {
      EXPECT_NE(err.Text().find(c.message), std::string::npos) << err.Text();
    }
  }
}

TEST_F(BatchTest, MissingInputLeavesAnEarlierOutputUntouched) {
  dir_.Write("tallow.out", "from an earlier run\n");
  BatchOptions options = Options();
  options.classicMessages = true;
  EXPECT_EQ(RunBatch(options), kExitInput);
  EXPECT_EQ(Output(), "from an earlier run\n");
  const std::string text = err_.Text();
  EXPECT_EQ(text.rfind("input file 오류: tallow.in파일을 찾을 수 없읍니다\ntallow: there is no "
                       "tallow.in in ",
                       0),
            0u)
      << text;
}

TEST_F(BatchTest, InputThatCannotBeReadAsAFileCreatesNoOutput) {
  ASSERT_EQ(::mkdir(dir_.Path("tallow.in").c_str(), 0700), 0);
  EXPECT_EQ(RunBatch(Options()), kExitInput);
  EXPECT_FALSE(ReadFile(dir_.Path("tallow.out")).has_value());
  EXPECT_NE(err_.Text().find("cannot open"), std::string::npos) << err_.Text();
}

TEST_F(BatchTest, TableLoadFailureLeavesTheOutputAsItWas) {
  TempDir noTables;
  dir_.Write("tallow.in", CaseLine("A") + "\n");
  dir_.Write("tallow.out", "from an earlier run\n");
  BatchOptions options = Options();
  options.tablesDirectory = noTables.Path();
  options.classicMessages = true;
  EXPECT_EQ(RunBatch(options), kExitTables);
  EXPECT_EQ(Output(), "from an earlier run\n");
  EXPECT_EQ(Files(), (std::vector<std::string>{"tallow.in", "tallow.out"}));
  // The fixed message, then the loader's own reason, which names the file.
  const std::string text = err_.Text();
  EXPECT_EQ(text.rfind("환경 오류: 초기화 실패\ntallow: the tables in ", 0), 0u) << text;
  EXPECT_NE(text.find("DXTAB8"), std::string::npos) << text;
  EXPECT_NE(text.find("tallow.out was left as it was"), std::string::npos) << text;

  options.tablesDirectory = noTables.Path("missing");
  EXPECT_EQ(RunBatch(options), kExitTables);
  EXPECT_NE(err_.Text().find("missing does not exist or is not a directory"), std::string::npos);
}

TEST_F(BatchTest, OutputThatCannotBeOpened) {
  dir_.Write("tallow.in", CaseLine("A") + "\n");
  BatchOptions options = Options();
  options.outputPath = dir_.Path("no-such-directory/tallow.out");
  EXPECT_EQ(RunBatch(options), kExitOutput);
  EXPECT_NE(err_.Text().find("no-such-directory/tallow.out"), std::string::npos);
}

TEST_F(BatchTest, OutputThatIsTheInputIsRefusedAndKept) {
  const std::string cases = CaseLine("A") + "\n";
  dir_.Write("tallow.in", cases);
  ASSERT_EQ(::symlink(dir_.Path("tallow.in").c_str(), dir_.Path("alias").c_str()), 0);
  for (const std::string& out : {dir_.Path("tallow.in"), dir_.Path("alias")}) {
    BatchOptions options = Options();
    options.outputPath = out;
    EXPECT_EQ(RunBatch(options), kExitOutput) << out;
    EXPECT_EQ(ReadFile(dir_.Path("tallow.in")), cases) << out;
  }
  EXPECT_NE(err_.Text().find("is the input file"), std::string::npos) << err_.Text();
}

// The space reserved ahead of the writes is given back: the replaced file
// holds exactly the bytes written and no more space than they need, whether
// the writes end just past a reserved step or far inside one.
TEST(OutputFileTest, ReplacedFileHoldsTheBytesWrittenAndOnlyTheirSpace) {
  testing::TempDir dir;
  for (const uint64_t total : {kReserveStep + 1, kReserveStep / 2 + 4097}) {
    const std::string path = dir.Path("out");
    dir.Write("out", "earlier content");
    OutputFile out;
    std::string error;
    ASSERT_TRUE(out.Open(path, &error)) << error;
    std::string chunk(256 * 1024, ' ');
    std::string expected;
    for (uint64_t at = 0; at < total; at += chunk.size()) {
      for (std::size_t i = 0; i < chunk.size(); i += 4096) {
        chunk[i] = static_cast<char>('a' + (at / 4096 + i / 4096) % 26);
      }
      const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(chunk.size(), total - at));
      ASSERT_TRUE(out.Write(chunk.data(), n));
      expected.append(chunk, 0, n);
    }
    EXPECT_EQ(ReadFile(path), "earlier content");  // replaced only at the end
    ASSERT_TRUE(out.Commit());
    EXPECT_TRUE(ReadFile(path) == expected) << "total " << total;
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(static_cast<uint64_t>(info.st_size), total);
    EXPECT_LE(static_cast<uint64_t>(info.st_blocks) * 512, total + 64 * 1024) << "total " << total;
  }
}

TEST_F(BatchTest, WriteErrorIsNotReportedAsSuccess) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full here";
  dir_.Write("tallow.in", CaseLine("A") + "\n");
  for (int jobs : {1, 2}) {
    BatchOptions options = Options();
    options.outputPath = "/dev/full";
    options.jobs = jobs;
    EXPECT_EQ(RunBatch(options), kExitWrite);
  }
  EXPECT_NE(err_.Text().find("write error on /dev/full at line 1"), std::string::npos)
      << err_.Text();
}

TEST_F(BatchTest, RefusedCaseStopsTheBatchAndSaysWhere) {
  for (auto [format, jobs] : {std::pair{OutputFormat::kLines, 1}, std::pair{OutputFormat::kJsonl, 1},
                              std::pair{OutputFormat::kLines, 3}, std::pair{OutputFormat::kJsonl, 3}}) {
    CapturedStream in, out, err;
    const std::string input = CaseLine("A") + "\n" + CaseLine("B") + "\n";
    std::fwrite(input.data(), 1, input.size(), in.get());
    std::rewind(in.get());
    BatchOptions options = Options(format);
    options.err = err.get();
    options.jobs = jobs;
    // Without tables the grouper refuses every case.
    EXPECT_EQ(GroupStream(nullptr, in.get(), out.get(), options), kExitGrouping);
    EXPECT_EQ(out.Text(), format == OutputFormat::kJsonl
                              ? "{\"line\":1,\"caseIdentifier\":\"A       \",\"caseDate\":"
                                "\"20030315\",\"error\":\"the tables are not loaded\"}\n"
                              : "");
    EXPECT_NE(err.Text().find("line 1: the grouper refused the case (-2: the tables are not "
                              "loaded)"),
              std::string::npos)
        << err.Text();
  }
}

TEST_F(BatchTest, ReadErrorEndsTheRun) {
  // Reading a directory fails on this platform without reaching end of file.
  for (int jobs : {1, 2}) {
    std::FILE* in = std::fopen("/", "rb");
    ASSERT_NE(in, nullptr);
    CapturedStream out;
    BatchOptions options = Options();
    options.jobs = jobs;
    EXPECT_EQ(GroupStream(tallow::testing::BuildTables(kSources), in, out.get(), options),
              kExitRead);
    EXPECT_EQ(out.Text(), "");
    std::fclose(in);
  }
  EXPECT_NE(err_.Text().find("read error in"), std::string::npos) << err_.Text();
}

TEST_F(BatchTest, LinesAreWrittenBackWholeWithTheirResults) {
  const std::string grouped = CaseLine("A");  // 188 characters
  const std::string tail = "tail of the line, kept";
  struct Case {
    const char* name;
    std::string input;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"188 characters", grouped + "\n", grouped + kResults + "\n"},
      {"between 188 and 213: nothing of 188 on survives", grouped + "0123456789\n",
       grouped + kResults + "\n"},
      {"a tail after 214 is kept", grouped + std::string(26, '.') + tail + "\r\n",
       grouped + kResults + tail + "\r\n"},
      {"no ending after crlf lines gets crlf", grouped + "\r\n" + grouped,
       grouped + kResults + "\r\n" + grouped + kResults + "\r\n"},
      {"a lone carriage return stays data", grouped + std::string(26, '.') + "\r",
       grouped + kResults + "\r\n"},
      {"a line of 10 000 characters", grouped + std::string(26, '.') + std::string(9786, 'z') +
       "\n", grouped + kResults + std::string(9786, 'z') + "\n"},
  };
  for (const std::size_t blockBytes : {std::size_t{0}, std::size_t{1000}}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + ", block " + std::to_string(blockBytes));
      dir_.Write("tallow.in", c.input);
      BatchOptions options = Options();
      options.blockBytes = blockBytes;
      EXPECT_EQ(RunBatch(options), kExitOk);
      EXPECT_EQ(Output(), c.expected);
    }
  }
}

TEST_F(BatchTest, ShortLinesAreWrittenBackAndReported) {
  const std::string a = CaseLine("A"), trimmed = CaseLine("B").substr(0, 60);
  const std::string input = a + "\n" + trimmed + "\n" + a + "\r\n" + trimmed + "\r\n";
  EXPECT_EQ(Run(input), kExitWithoutResults);
  EXPECT_EQ(Output(), a + kResults + "\n" + trimmed + "\n" + a + kResults + "\r\n" + trimmed +
                          "\r\n");
  EXPECT_NE(err_.Text().find("2 lines shorter than 188 characters were written without results "
                             "(lines 2, 4); --pad groups them"),
            std::string::npos)
      << err_.Text();

  // Padded, they are grouped like the full line (blanks after the principal).
  BatchOptions options = Options();
  options.pad = true;
  EXPECT_EQ(RunBatch(options), kExitOk);
  const std::string padded = trimmed + std::string(188 - 60, ' ');
  EXPECT_EQ(Output(), a + kResults + "\n" + padded + kResults + "\n" + a + kResults + "\r\n" +
                          padded + kResults + "\r\n");

  EXPECT_EQ(Run(trimmed + "\n", OutputFormat::kJsonl), kExitWithoutResults);
  EXPECT_EQ(Output(), "{\"line\":1,\"caseIdentifier\":\"B       \",\"caseDate\":\"20030315\","
                      "\"error\":\"a line of 60 characters, shorter than 188: "
                      "written without results\"}\n");
}

TEST_F(BatchTest, ManyShortLinesAreCountedNotEachShown) {
  std::string input;
  for (int i = 0; i < 500; ++i) input += "short\n";
  CapturedStream err;
  dir_.Write("tallow.in", input);
  BatchOptions options = Options();
  options.err = err.get();
  EXPECT_EQ(RunBatch(options), kExitWithoutResults);
  EXPECT_NE(err.Text().find("500 lines shorter than 188 characters were written without results "
                            "(lines 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, "
                            "18, 19, 20, ...)"),
            std::string::npos)
      << err.Text();
}

TEST_F(BatchTest, NulLinesAreWrittenWholeWithTheirResults) {
  std::string line = CaseLine("A") + std::string(26, '.') + "tail";
  line[150] = '\0';
  line[220] = '\0';
  std::string expected = CaseLine("A") + kResults + "tail";
  expected[150] = '\0';
  std::string input, output;
  for (int i = 0; i < 25; ++i) {
    input += line + "\n";
    output += expected + "\n";
  }
  EXPECT_EQ(Run(input), kExitWithoutResults);
  EXPECT_EQ(Output(), output);
  const std::string text = err_.Text();
  EXPECT_NE(text.find("line 1: a NUL byte at position 150; the line is grouped as read and "
                      "written whole"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("line 20: a NUL byte"), std::string::npos);
  EXPECT_EQ(text.find("line 21: a NUL byte"), std::string::npos);
  EXPECT_NE(text.find("... and 5 more lines with NUL bytes"), std::string::npos) << text;
}

// The first NUL of every line is reported at its place, whatever NULs the
// lines before it held, in blocks of several lines and across blocks.
TEST_F(BatchTest, EachLineReportsItsOwnFirstNul) {
  struct Line {
    int firstNul;   // -1: none
    int secondNul;  // -1: none
  };
  const Line kLines[] = {{-1, -1}, {5, 9}, {-1, -1}, {-1, -1}, {0, -1},  {213, 214},
                         {214, -1}, {-1, -1}, {187, -1}, {40, 41}, {-1, -1}, {150, 220}};
  std::string input;
  std::string expected;
  int64_t number = 0;
  for (int round = 0; round < 2; ++round) {
    for (const Line& l : kLines) {
      std::string line = CaseLine("N") + std::string(30, '.');
      if (l.firstNul >= 0) line[static_cast<std::size_t>(l.firstNul)] = '\0';
      if (l.secondNul >= 0) line[static_cast<std::size_t>(l.secondNul)] = '\0';
      input += line + "\n";
      ++number;
      if (l.firstNul >= 0 && expected.size() < 2000) {
        expected += "line " + std::to_string(number) + ": a NUL byte at position " +
                    std::to_string(l.firstNul) + ";";
      }
    }
  }
  for (std::size_t block : {std::size_t{0}, std::size_t{600}}) {
    SCOPED_TRACE(block);
    dir_.Write("tallow.in", input);
    CapturedStream err;
    BatchOptions options = Options();
    options.err = err.get();
    options.blockBytes = block;
    EXPECT_EQ(RunBatch(options), kExitWithoutResults);
    std::string found;
    const std::string text = err.Text();
    const std::regex note("line [0-9]+: a NUL byte at position [0-9]+;");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), note); it != std::sregex_iterator();
         ++it) {
      found += it->str();
    }
    EXPECT_EQ(found, expected) << text;
  }
}

TEST_F(BatchTest, ByteOrderMarkIsPassedThroughAndNotPartOfTheFirstCase) {
  const std::string a = CaseLine("A");
  EXPECT_EQ(Run("\xEF\xBB\xBF" + a + "\n" + a + "\n"), kExitOk);
  EXPECT_EQ(Output(), "\xEF\xBB\xBF" + a + kResults + "\n" + a + kResults + "\n");
  EXPECT_EQ(Run("\xEF\xBB\xBF" + a + "\n", OutputFormat::kJsonl), kExitOk);
  EXPECT_EQ(Output().rfind("{\"line\":1,\"caseIdentifier\":\"A       \",\"caseDate\":\"20030315\","
                           "\"mdc\":6,",
                           0),
            0u)
      << Output();
}

TEST_F(BatchTest, CarriageReturnsWithoutLineFeedsGetAWarning) {
  const std::string a = CaseLine("A");
  EXPECT_EQ(Run(a + "\r" + a + "\r"), kExitOk);
  EXPECT_NE(err_.Text().find("has carriage returns but no line feed in its first 64 KiB: it is "
                             "read as one line"),
            std::string::npos)
      << err_.Text();
}

TEST_F(BatchTest, LinesLeftAfterTheEndMarkOutrankShortLines) {
  const std::string a = CaseLine("A");
  EXPECT_EQ(Run("short\n" + a + "\n\n" + a + "\n"), kExitUngrouped);
  EXPECT_EQ(Output(), "short\n" + a + kResults + "\n");
}

TEST_F(BatchTest, SummaryCountsWhatTheRunDid) {
  const std::string a = CaseLine("A"), unknown = CaseLine("U", "R999");
  std::string old = a;
  old.replace(21, 8, "19980315");  // the first edition
  dir_.Write("tallow.in", a + "\n" + unknown + "\n" + old + "\nshort\n\n" + a + "\n");
  BatchOptions options = Options();
  options.summaryJsonPath = dir_.Path("summary.json");
  EXPECT_EQ(RunBatch(options), kExitUngrouped);
  const std::string json = ReadFile(dir_.Path("summary.json")).value_or("");
  for (const char* field :
       {"\"lines\":4,", "\"grouped\":3,", "\"withoutResults\":1,", "\"ungroupable\":2,",
        "\"groupCodeZero\":2,", "\"byEdition\":{\"8\":1,\"9\":0,\"0\":0,\"1\":2}",
        "\"endMarkLine\":5,", "\"linesAfterEndMark\":1,", "\"exitStatus\":9,",
        "\"tablesDigest\":\""}) {
    EXPECT_NE(json.find(field), std::string::npos) << field << " in " << json;
  }
  EXPECT_EQ(json.find("\"tablesDigest\":\"\""), std::string::npos) << json;
}

TEST_F(BatchTest, JobsGiveTheSameBytesAsOneWorker) {
  // Many small blocks, with every kind of line among them.
  std::string input = "\xEF\xBB\xBF";
  for (int i = 0; i < 400; ++i) {
    std::string line = CaseLine(std::to_string(i), i % 7 == 0 ? "R999" : "K409");
    if (i % 11 == 0) line = line.substr(0, 100);
    if (i % 13 == 0) line += std::string(static_cast<std::size_t>(i * 7), 'z');
    if (i % 17 == 0) line[40] = '\0';
    input += line + (i % 2 ? "\r\n" : "\n");
  }
  for (const std::string& ending : {std::string(), std::string("\n") + CaseLine("X") + "\n"}) {
    dir_.Write("tallow.in", input + ending);
    for (OutputFormat format : {OutputFormat::kLines, OutputFormat::kJsonl}) {
      std::string first;
      for (int jobs : {1, 2, 3}) {
        SCOPED_TRACE(jobs);
        BatchOptions options = Options(format);
        options.jobs = jobs;
        options.blockBytes = 2048;
        EXPECT_EQ(RunBatch(options), ending.empty() ? kExitWithoutResults : kExitUngrouped);
        if (jobs == 1) first = Output();
        EXPECT_EQ(Output(), first);
      }
    }
  }
}

TEST_F(BatchTest, JsonlAndCsvHaveOneRecordPerCase) {
  const std::string input = CaseLine("A") + "\n" + CaseLine("B,\"x", "R999") + "\nshort\n";
  EXPECT_EQ(Run(input, OutputFormat::kJsonl), kExitWithoutResults);
  EXPECT_EQ(Output(),
            "{\"line\":1,\"caseIdentifier\":\"A       \",\"caseDate\":\"20030315\",\"mdc\":6,"
            "\"baseDrg\":1610,\"groupStatus\":0,\"orProcedureIndex\":-1,"
            "\"secondaryIndex\":-1,\"secondSecondaryIndex\":-1,\"secondOrProcedureIndex\":-1,"
            "\"nonOrProcedureIndex\":-1,\"secondNonOrProcedureIndex\":-1,\"ccIndex\":-1,"
            "\"finalDrg\":1610,\"groupCode\":\"161200\",\"finaliseStatus\":0,"
            "\"levelSourceIndex\":-1,\"underEighteen\":0,\"diagnosisLevels\":\"0000000000\"}\n"
            "{\"line\":2,\"caseIdentifier\":\"B,\\\"x    \",\"caseDate\":\"20030315\",\"mdc\":24,"
            "\"baseDrg\":4700,\"groupStatus\":1,\"orProcedureIndex\":-1,"
            "\"secondaryIndex\":-1,\"secondSecondaryIndex\":-1,\"secondOrProcedureIndex\":-1,"
            "\"nonOrProcedureIndex\":-1,\"secondNonOrProcedureIndex\":-1,\"ccIndex\":-1,"
            "\"finalDrg\":4700,\"groupCode\":\"000000\",\"finaliseStatus\":2,"
            "\"levelSourceIndex\":-1,\"underEighteen\":0,\"diagnosisLevels\":\"0000000000\"}\n"
            "{\"line\":3,\"caseIdentifier\":\"short\",\"caseDate\":\"\",\"error\":\"a line of 5 "
            "characters, shorter than 188: written without results\"}\n");

  EXPECT_EQ(Run(input, OutputFormat::kCsv), kExitWithoutResults);
  EXPECT_EQ(Output(),
            "line,caseIdentifier,caseDate,mdc,baseDrg,groupStatus,orProcedureIndex,"
            "secondaryIndex,secondSecondaryIndex,secondOrProcedureIndex,nonOrProcedureIndex,"
            "secondNonOrProcedureIndex,ccIndex,finalDrg,groupCode,finaliseStatus,"
            "levelSourceIndex,underEighteen,diagnosisLevels,error\r\n"
            "1,A       ,20030315,6,1610,0,-1,-1,-1,-1,-1,-1,-1,1610,161200,0,-1,0,0000000000,\r\n"
            "2,\"B,\"\"x    \",20030315,24,4700,1,-1,-1,-1,-1,-1,-1,-1,4700,000000,2,-1,0,"
            "0000000000,\r\n"
            "3,short,,,,,,,,,,,,,,,,,,\"a line of 5 characters, shorter than 188: written "
            "without results\"\r\n");
  // An empty input still has its header.
  EXPECT_EQ(Run("", OutputFormat::kCsv), kExitOk);
  EXPECT_EQ(Output().rfind("line,caseIdentifier,", 0), 0u);
}

TEST_F(BatchTest, FlagsNameWhatIsWrongWithACase) {
  struct Case {
    const char* name;
    std::string line;
    const char* flags;
  };
  auto with = [](std::size_t at, const std::string& text) {
    std::string line = CaseLine("A");
    line.replace(at, text.size(), text);
    return line;
  };
  const std::vector<Case> cases = {
      {"a sound case", CaseLine("A"), "[]"},
      {"birth month 13", with(8, "601301"), "[\"invalidBirthDate\"]"},
      {"30 February", with(21, "20030230"), "[\"invalidCaseDate\"]"},
      {"born after the case", with(8, "0401013"), "[\"birthAfterCaseDate\",\"ageOutOfRange\"]"},
      {"130 years old", with(8, "7301010"), "[\"ageOutOfRange\"]"},
      {"sex digit X", with(14, "X"), "[\"unknownSexDigit\"]"},
      {"stay 1x", with(29, " 1x"), "[\"invalidLengthOfStay\"]"},
      {"status blank", with(32, " "), "[\"invalidDischargeStatus\"]"},
      {"malformed code", with(38, "1234 "), "[\"malformedCode\"]"},
      {"unknown diagnosis", with(38, "R999 "), "[\"diagnosisNotInEdition\"]"},
      {"no principal", with(33, "     K409 "), "[\"missingPrincipal\"]"},
      {"the same code twice", with(38, "K409 "), "[\"repeatedCode\"]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dir_.Write("tallow.in", c.line + "\n");
    BatchOptions options = Options(OutputFormat::kJsonl);
    options.flags = true;
    options.summaryJsonPath = dir_.Path("summary.json");
    RunBatch(options);
    const std::string out = Output();
    EXPECT_NE(out.find(std::string(",\"flags\":") + c.flags + "}"), std::string::npos) << out;
  }
  // The summary counts each flag.
  dir_.Write("tallow.in", with(14, "X") + "\n" + with(14, "X") + "\n" + with(32, " ") + "\n");
  BatchOptions options = Options(OutputFormat::kCsv);
  options.flags = true;
  options.summaryJsonPath = dir_.Path("summary.json");
  EXPECT_EQ(RunBatch(options), kExitOk);
  const std::string summary = ReadFile(dir_.Path("summary.json")).value_or("");
  EXPECT_NE(summary.find("\"unknownSexDigit\":2,"), std::string::npos) << summary;
  EXPECT_NE(summary.find("\"invalidDischargeStatus\":1,"), std::string::npos) << summary;
  EXPECT_NE(Output().find(",unknownSexDigit,\r\n"), std::string::npos) << Output();
}

TEST(JsonTest, TextIsEscaped) {
  fmt::memory_buffer out;
  AppendJsonEscaped(out, std::string_view("0\"\\\x01\xC8" "L4\0", 8));
  EXPECT_EQ(std::string(out.data(), out.size()), "0\\\"\\\\\\u0001\\u00c8L4\\u0000");
}

// tallow group: the options reach the batch.
TEST_F(BatchTest, GroupCommandTakesPathsAndFormat) {
  dir_.Write("cases.txt", CaseLine("A") + "\n");
  CLI::App app;
  int status = -1;
  AddGroupCommand(app, &status);
  app.parse("group --tables " + dir_.Path() + " --in " + dir_.Path("cases.txt") + " --out " +
            dir_.Path("out.jsonl") + " --format jsonl");
  EXPECT_EQ(status, kExitOk);
  EXPECT_EQ(ReadFile(dir_.Path("out.jsonl"))
                .value_or("")
                .rfind("{\"line\":1,\"caseIdentifier\":\"A       \",", 0),
            0u);

  CLI::App bad;
  AddGroupCommand(bad, &status);
  EXPECT_THROW(bad.parse("group --format xml"), CLI::ValidationError);
}

// tallow with no arguments works on the current directory.
TEST_F(BatchTest, ClassicBatchUsesTheCurrentDirectory) {
  dir_.Write("tallow.in", CaseLine("A") + "\n");
  char previous[4096];
  ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(::chdir(dir_.Path().c_str()), 0);
  const int status = RunClassicBatch();
  ASSERT_EQ(::chdir(previous), 0);
  EXPECT_EQ(status, kExitOk);
  EXPECT_EQ(Output(), CaseLine("A") + kResults + "\n");
}

}  // namespace
}  // namespace tallow::app

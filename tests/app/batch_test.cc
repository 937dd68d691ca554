// The batch end to end: files in a temporary directory, a small table set,
// exit statuses, messages and what the output holds afterwards.
#include "app/batch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "app/commands.h"
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

  TempDir dir_;
  CapturedStream err_;
};

TEST_F(BatchTest, EveryLineGroupedAndWrittenWithItsOwnEnding) {
  const std::string a = CaseLine("A"), b = CaseLine("B"), c = CaseLine("C");
  EXPECT_EQ(Run(a + "\n" + b + "\r\n" + c), kExitOk);
  EXPECT_EQ(Output(), a + kResults + "\n" + b + kResults + "\r\n" + c + kResults + "\n");
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
  EXPECT_EQ(err_.Text(), "input file 오류: tallow.in파일을 찾을 수 없읍니다\n");
}

TEST_F(BatchTest, InputThatCannotBeReadAsAFileCreatesNoOutput) {
  ASSERT_EQ(::mkdir(dir_.Path("tallow.in").c_str(), 0700), 0);
  EXPECT_EQ(RunBatch(Options()), kExitInput);
  EXPECT_FALSE(ReadFile(dir_.Path("tallow.out")).has_value());
  EXPECT_NE(err_.Text().find("cannot open"), std::string::npos) << err_.Text();
}

TEST_F(BatchTest, TableLoadFailureLeavesAnEmptyOutput) {
  TempDir noTables;
  dir_.Write("tallow.in", CaseLine("A") + "\n");
  dir_.Write("tallow.out", "from an earlier run\n");
  BatchOptions options = Options();
  options.tablesDirectory = noTables.Path();
  options.classicMessages = true;
  EXPECT_EQ(RunBatch(options), kExitTables);
  EXPECT_EQ(Output(), "");
  // The fixed message, then the loader's own reason, which names the file.
  const std::string text = err_.Text();
  EXPECT_EQ(text.rfind("환경 오류: 초기화 실패\n", 0), 0u) << text;
  EXPECT_NE(text.find("DXTAB8"), std::string::npos) << text;
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

TEST_F(BatchTest, WriteErrorIsNotReportedAsSuccess) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full here";
  dir_.Write("tallow.in", CaseLine("A") + "\n");
  BatchOptions options = Options();
  options.outputPath = "/dev/full";
  EXPECT_EQ(RunBatch(options), kExitWrite);
  EXPECT_NE(err_.Text().find("write error"), std::string::npos) << err_.Text();
}

TEST_F(BatchTest, RefusedCaseStopsTheBatchAndSaysWhere) {
  for (OutputFormat format : {OutputFormat::kLines, OutputFormat::kJsonl}) {
    CapturedStream in, out, err;
    const std::string input = CaseLine("A") + "\n" + CaseLine("B") + "\n";
    std::fwrite(input.data(), 1, input.size(), in.get());
    std::rewind(in.get());
    BatchOptions options = Options(format);
    options.err = err.get();
    // Without tables the grouper refuses every case.
    EXPECT_EQ(GroupStream(nullptr, in.get(), out.get(), options), kExitGrouping);
    EXPECT_EQ(out.Text(), format == OutputFormat::kJsonl
                              ? "{\"line\":1,\"error\":\"the tables are not loaded\"}\n"
                              : "");
    EXPECT_NE(err.Text().find("line 1: the grouper refused the case (-2: the tables are not "
                              "loaded)"),
              std::string::npos)
        << err.Text();
  }
}

TEST_F(BatchTest, ReadErrorEndsTheRun) {
  // Reading a directory fails on this platform without reaching end of file.
  std::FILE* in = std::fopen("/", "rb");
  ASSERT_NE(in, nullptr);
  CapturedStream out;
  EXPECT_EQ(GroupStream(tallow::testing::BuildTables(kSources), in, out.get(), Options()),
            kExitRead);
  std::fclose(in);
  EXPECT_NE(err_.Text().find("read error in"), std::string::npos) << err_.Text();
}

TEST_F(BatchTest, NulInALineCutsTheOutputWithAWarning) {
  std::string line = CaseLine("A");
  line[40] = '\0';
  EXPECT_EQ(Run(line + "\n"), kExitOk);
  EXPECT_EQ(Output(), line.substr(0, 40) + "\n");
  EXPECT_NE(err_.Text().find("line 1: a NUL character at position 40"), std::string::npos)
      << err_.Text();
}

TEST_F(BatchTest, JsonlHasOneRecordPerCase) {
  EXPECT_EQ(Run(CaseLine("A") + "\n" + CaseLine("B", "R999") + "\n", OutputFormat::kJsonl),
            kExitOk);
  EXPECT_EQ(Output(),
            "{\"line\":1,\"mdc\":6,\"baseDrg\":1610,\"groupStatus\":0,\"orProcedureIndex\":-1,"
            "\"secondaryIndex\":-1,\"secondSecondaryIndex\":-1,\"secondOrProcedureIndex\":-1,"
            "\"nonOrProcedureIndex\":-1,\"secondNonOrProcedureIndex\":-1,\"ccIndex\":-1,"
            "\"finalDrg\":1610,\"groupCode\":161200,\"finaliseStatus\":0,"
            "\"levelSourceIndex\":-1,\"underEighteen\":0,\"diagnosisLevels\":\"0000000000\"}\n"
            "{\"line\":2,\"mdc\":24,\"baseDrg\":4700,\"groupStatus\":1,\"orProcedureIndex\":-1,"
            "\"secondaryIndex\":-1,\"secondSecondaryIndex\":-1,\"secondOrProcedureIndex\":-1,"
            "\"nonOrProcedureIndex\":-1,\"secondNonOrProcedureIndex\":-1,\"ccIndex\":-1,"
            "\"finalDrg\":4700,\"groupCode\":0,\"finaliseStatus\":2,"
            "\"levelSourceIndex\":-1,\"underEighteen\":0,\"diagnosisLevels\":\"0000000000\"}\n");
}

TEST(JsonTest, LevelCharactersAreEscaped) {
  fmt::memory_buffer out;
  GroupRequest request;
  AppendJsonRecord(out, 7, request, "0\"\\\x01\xC8" "L4000");
  const std::string text(out.data(), out.size());
  EXPECT_NE(text.find("\"diagnosisLevels\":\"0\\\"\\\\\\u0001\\u00c8L4000\"}"),
            std::string::npos)
      << text;
  out.clear();
  AppendJsonError(out, 3, "say \"no\"");
  EXPECT_EQ(std::string(out.data(), out.size()), "{\"line\":3,\"error\":\"say \\\"no\\\"\"}");
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
  EXPECT_EQ(ReadFile(dir_.Path("out.jsonl")).value_or("").rfind("{\"line\":1,\"mdc\":6,", 0), 0u);

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

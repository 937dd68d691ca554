// The built tallow program as a user runs it: the command line, standard
// input and output, and exit statuses as the shell sees them.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/batch.h"
#include "app_files.h"
#include "tables/toolkit/toolkit.h"

namespace tallow::app {
namespace {

using testing::ReadFile;
using testing::TempDir;

const std::string kProgram = std::string(TALLOW_BINARY_DIR) + "/src/app/tallow";
const std::string kDemo = std::string(TALLOW_SOURCE_DIR) + "/data/demo";

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

// Runs `tallow ARGS` in `dir` with `input` on standard input.
Outcome RunProgram(const TempDir& dir, const std::string& args, const std::string& input) {
  dir.Write("stdin", input);
  const std::string command = "cd '" + dir.Path() + "' && '" + kProgram + "' " + args +
                              " <stdin >stdout 2>stderr";
  const int raw = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(raw)) << command;
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile(dir.Path("stdout")).value_or(""),
          ReadFile(dir.Path("stderr")).value_or("")};
}

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ReadFile(kProgram).has_value()) << kProgram << " is not built";
    Result<TableImages> images = BuildTableImages(testing::DemoSources());
    ASSERT_TRUE(images.ok()) << images.message();
    tables_.WriteTables(*images);
  }

  TempDir tables_;
  TempDir work_;
};

TEST_F(ProgramTest, GroupsStandardInputToStandardOutput) {
  const std::string demo = ReadFile(kDemo + "/tallow.in").value_or("");
  const std::string golden =
      ReadFile(std::string(TALLOW_SOURCE_DIR) + "/tests/data/demo.out").value_or("");
  const std::string lines = "group --tables '" + tables_.Path() + "' --in - --out -";

  Outcome run = RunProgram(work_, lines, demo);
  EXPECT_EQ(run.status, kExitOk) << run.err;
  EXPECT_EQ(run.out, golden);
  EXPECT_EQ(run.err, "");
  EXPECT_FALSE(ReadFile(work_.Path("tallow.out")).has_value());

  run = RunProgram(work_, lines + " --format jsonl", demo);
  EXPECT_EQ(run.status, kExitOk) << run.err;
  EXPECT_EQ(run.out,
            ReadFile(std::string(TALLOW_SOURCE_DIR) + "/tests/data/demo.jsonl").value_or(""));

  // The end mark with cases after it: the cases before it are on standard
  // output, the status says that lines were left.
  const std::string first = demo.substr(0, demo.find('\n') + 1);
  run = RunProgram(work_, lines, first + "\n" + first);
  EXPECT_EQ(run.status, kExitUngrouped);
  EXPECT_EQ(run.out, golden.substr(0, golden.find('\n') + 1));
  EXPECT_NE(run.err.find("standard input line 2 is empty"), std::string::npos) << run.err;
}

TEST_F(ProgramTest, ExitStatusesAndMessages) {
  struct Case {
    const char* name;
    std::string args;
    int status;
    const char* out;  // expected at the start of standard output
    const char* err;  // expected in standard error
  };
  const std::vector<Case> cases = {
      {"classic batch without tallow.in", "", kExitInput, "",
       "input file 오류: tallow.in파일을 찾을 수 없읍니다\n"},
      {"group without its input file", "group --tables '" + tables_.Path() + "'", kExitInput, "",
       "tallow.in not found"},
      {"version", "--version", kExitOk, "tallow ", ""},
      {"help", "--help", kExitOk, "Tallow groups", ""},
      {"unknown option", "group --no-such-option", kExitUsage, "", "no-such-option"},
      {"unknown format", "group --format xml", kExitUsage, "", "xml"},
      {"no subcommand", "--tables x", kExitUsage, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome run = RunProgram(work_, c.args, "");
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(run.out.rfind(c.out, 0), 0u) << run.out;
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
  }
}

}  // namespace
}  // namespace tallow::app

// The built tallow program as a user runs it: the command line, standard
// input and output, and exit statuses as the shell sees them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "app/batch.h"
#include "app_files.h"
#include "toolkit/toolkit.h"

namespace tallow::app {
namespace {

using testing::kProgram;
using testing::Outcome;
using testing::ReadFile;
using testing::RunProgram;
using testing::TempDir;

const std::string kDemo = std::string(TALLOW_SOURCE_DIR) + "/data/demo";

// A run of the program in the background, for what a shell line cannot do:
// limits set in the child, signals sent while it runs.
class Child {
 public:
  // Starts `tallow ARGS...` in `dir`, standard output and error to files
  // there; `setup` runs in the child before the program starts.
  Child(const TempDir& dir, std::vector<std::string> args,
        const std::function<void()>& setup = [] {})
      : dir_(dir) {
    pid_ = ::fork();
    if (pid_ == 0) {
      if (::chdir(dir.Path().c_str()) != 0) _exit(126);
      const int out = ::open("stdout", O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = ::open("stderr", O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(out, 1);
      ::dup2(err, 2);
      setup();
      std::vector<char*> argv = {const_cast<char*>(kProgram.c_str())};
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(kProgram.c_str(), argv.data());
      _exit(127);
    }
  }
  // Waits for the end; the exit status, or -1 when a signal ended it.
  int Wait() {
    int raw = 0;
    ::waitpid(pid_, &raw, 0);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  void Signal(int signal) const { ::kill(pid_, signal); }
  std::string Err() const { return ReadFile(dir_.Path("stderr")).value_or(""); }

 private:
  const TempDir& dir_;
  pid_t pid_ = -1;
};

// The names in a directory, sorted.
std::vector<std::string> Names(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
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
      {"unknown command", "grop", kExitUsage, "",
       "tallow: no command 'grop'; commands are group, explain, compare, tables and serve"},
      {"no table directory", "group --tables no-such-dir --in - --out -", kExitTables, "",
       "the table directory no-such-dir does not exist"},
      {"check --max 0", "tables check . --max 0", kExitUsage, "",
       "--max 0: give the most findings to show, 1 or more"},
      {"jobs 0", "group --jobs 0", kExitUsage, "", "--jobs"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome run = RunProgram(work_, c.args, "");
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(run.out.rfind(c.out, 0), 0u) << run.out;
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
  }
}

TEST_F(ProgramTest, HelpListsTheExitStatuses) {
  const Outcome run = RunProgram(work_, "--help", "");
  EXPECT_NE(run.out.find("10   some lines were written without results"), std::string::npos)
      << run.out;
  EXPECT_NE(RunProgram(work_, "group --help", "").out.find("docs/fields.md"), std::string::npos);
}

// A large case file: the demo cases many times over.
std::string LargeInput(int copies) {
  const std::string demo = ReadFile(kDemo + "/tallow.in").value_or("");
  std::string input;
  input.reserve(demo.size() * static_cast<std::size_t>(copies));
  for (int i = 0; i < copies; ++i) input += demo;
  return input;
}

TEST_F(ProgramTest, InterruptLeavesTheOutputAsItWas) {
  // The cases come through a pipe: the run is surely under way when the
  // signal comes, and waits for more input.
  const std::string input = LargeInput(400);
  for (const auto& [signal, status] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}}) {
    for (const char* jobs : {"1", "2"}) {
      SCOPED_TRACE(std::string("signal ") + std::to_string(signal) + ", jobs " + jobs);
      const std::string fifo = work_.Path("cases.fifo");
      std::filesystem::remove(fifo);
      ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
      work_.Write("out.txt", "results of an earlier run\n");
      Child child(work_, {"group", "--tables", tables_.Path(), "--in", "cases.fifo", "--out",
                          "out.txt", "--jobs", jobs});
      const int writer = ::open(fifo.c_str(), O_WRONLY);
      ASSERT_GE(writer, 0);
      ASSERT_EQ(::write(writer, input.data(), input.size()), static_cast<ssize_t>(input.size()));
      child.Signal(signal);
      EXPECT_EQ(child.Wait(), status) << child.Err();
      ::close(writer);
      EXPECT_NE(child.Err().find("interrupted at line "), std::string::npos) << child.Err();
      EXPECT_NE(child.Err().find("; out.txt left as it was"), std::string::npos) << child.Err();
      EXPECT_EQ(ReadFile(work_.Path("out.txt")), "results of an earlier run\n");
      EXPECT_EQ(Names(work_.Path()),
                (std::vector<std::string>{"cases.fifo", "out.txt", "stderr", "stdout"}));
    }
  }
}

TEST_F(ProgramTest, WriteFailureLeavesTheOutputAsItWas) {
  // The file system takes no more than 64 KiB of any one file.
  work_.Write("cases.txt", LargeInput(40));
  work_.Write("out.txt", "results of an earlier run\n");
  Child child(work_, {"group", "--tables", tables_.Path(), "--in", "cases.txt", "--out",
                      "out.txt"},
              [] {
                std::signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{64 * 1024, 64 * 1024};
                ::setrlimit(RLIMIT_FSIZE, &limit);
              });
  EXPECT_EQ(child.Wait(), kExitWrite) << child.Err();
  EXPECT_NE(child.Err().find("write error on out.txt"), std::string::npos) << child.Err();
  EXPECT_EQ(ReadFile(work_.Path("out.txt")), "results of an earlier run\n");
  EXPECT_EQ(Names(work_.Path()),
            (std::vector<std::string>{"cases.txt", "out.txt", "stderr", "stdout"}));
}

TEST_F(ProgramTest, TablesIdChangesWithOneByte) {
  const std::string args = "tables id '" + tables_.Path() + "'";
  const Outcome before = RunProgram(work_, args, "");
  EXPECT_EQ(before.status, kExitOk) << before.err;
  EXPECT_NE(before.out.find("  DXTAB8 "), std::string::npos) << before.out;
  EXPECT_NE(before.out.find("  RDRGCL "), std::string::npos) << before.out;

  std::string table = ReadFile(tables_.Path("RDRGDRG")).value_or("");
  ASSERT_FALSE(table.empty());
  table[table.size() / 2] ^= 1;
  tables_.Write("RDRGDRG", table);
  const Outcome after = RunProgram(work_, args, "");
  EXPECT_EQ(after.status, kExitOk);
  EXPECT_NE(before.out.substr(0, 64), after.out.substr(0, 64));

  // The summary names the same digest.
  const Outcome group = RunProgram(work_, "group --tables '" + tables_.Path() +
                                              "' --in - --out - --summary",
                                   ReadFile(kDemo + "/tallow.in").value_or(""));
  EXPECT_NE(group.err.find("tables " + after.out.substr(0, 64)), std::string::npos) << group.err;
}

TEST_F(ProgramTest, CompareFindsTheOneChangedLine) {
  const std::string demo = ReadFile(kDemo + "/tallow.in").value_or("");
  const std::string tables = "--tables '" + tables_.Path() + "'";
  const Outcome grouped = RunProgram(work_, "group --quiet " + tables + " --in - --out -", demo);
  ASSERT_EQ(grouped.status, kExitOk) << grouped.err;

  Outcome run = RunProgram(work_, "compare " + tables + " --in -", grouped.out);
  EXPECT_EQ(run.status, kExitOk) << run.err;
  EXPECT_EQ(run.out.rfind("tallow compare: 52 lines: 52 agree, 0 differ", 0), 0u) << run.out;

  std::string changed = grouped.out;
  const std::size_t line29 = changed.find("D0000029");
  ASSERT_NE(line29, std::string::npos);
  ASSERT_EQ(changed.substr(line29 + 190, 6), "161301");
  changed.replace(line29 + 190, 6, "161302");
  run = RunProgram(work_, "compare " + tables + " --in - --explain-differences", changed);
  EXPECT_EQ(run.status, kExitDiffer) << run.err;
  EXPECT_NE(run.out.find("51 agree, 1 differ (mdc 0, groupCode 1, version 0, diagnosisLevels 0)"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("line 29: groupCode stored 161302, now 161301;"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("line 29: case D0000029"), std::string::npos) << run.out;

  run = RunProgram(work_, "compare " + tables + " --in - --format json", changed);
  EXPECT_EQ(run.status, kExitDiffer);
  EXPECT_NE(run.out.find("\"differences\":[{\"line\":29,\"fields\":{\"groupCode\":{\"stored\":"
                         "\"161302\",\"now\":\"161301\"}}"),
            std::string::npos)
      << run.out;
}

TEST_F(ProgramTest, WhyAddsAReasonAndNothingElse) {
  const std::string demo = ReadFile(kDemo + "/tallow.in").value_or("");
  const std::string args = "group --tables '" + tables_.Path() + "' --in - --out - --format jsonl";
  const Outcome plain = RunProgram(work_, args, demo);
  const Outcome why = RunProgram(work_, args + " --why", demo);
  ASSERT_EQ(why.status, kExitOk) << why.err;
  std::istringstream a(plain.out), b(why.out);
  std::string x, y;
  int reasons = 0;
  while (std::getline(a, x) && std::getline(b, y)) {
    const std::size_t at = y.find(",\"reason\":\"");
    const bool special = x.find("\"groupCode\":\"000000\",") != std::string::npos ||
                         x.find("\"groupCode\":\"470000\",") != std::string::npos ||
                         x.find("\"mdc\":24,") != std::string::npos;
    EXPECT_EQ(at != std::string::npos, special) << y;
    if (at == std::string::npos) {
      EXPECT_EQ(x, y);
      continue;
    }
    ++reasons;
    EXPECT_EQ(y.substr(0, at) + "}", x);
  }
  EXPECT_EQ(reasons, 14);
  EXPECT_NE(why.out.find("{\"line\":46,"), std::string::npos);
  EXPECT_NE(why.out.find("\"reason\":\"principal diagnosis R999 not in table edition 1 (case "
                         "date 2004-07-07)\"}"),
            std::string::npos);
  EXPECT_EQ(RunProgram(work_, "group --why --in - --out -", "").status, kExitUsage);
}

// As a Spark RDD.pipe or a Hadoop Streaming job runs it: each partition
// through standard input and output, the parts joined in order.
TEST_F(ProgramTest, PartitionsPipedThroughJoinToOneRun) {
  const std::string demo = LargeInput(7);
  const std::string args = "group --quiet --tables '" + tables_.Path() + "' --in - --out -";
  for (const char* format : {"lines", "jsonl"}) {
    SCOPED_TRACE(format);
    const std::string formatArg = std::string(" --format ") + format;
    const Outcome whole = RunProgram(work_, args + formatArg, demo);
    ASSERT_EQ(whole.status, kExitOk) << whole.err;
    std::string joined;
    std::size_t start = 0;
    int64_t before = 0;  // lines in earlier partitions
    for (int part = 0; start < demo.size(); ++part) {
      std::size_t end = start;
      for (int n = 0; n < 50 + 17 * part && end < demo.size(); ++n) end = demo.find('\n', end) + 1;
      const Outcome piece = RunProgram(work_, args + formatArg, demo.substr(start, end - start));
      ASSERT_EQ(piece.status, kExitOk) << piece.err;
      std::string out = piece.out;
      if (std::string(format) == "jsonl") {
        // Each partition counts its lines from 1: shift them as a join would.
        std::string shifted;
        std::istringstream lines(out);
        for (std::string l; std::getline(lines, l);) {
          const std::size_t comma = l.find(',');
          shifted += "{\"line\":" + std::to_string(before + std::stoll(l.substr(8, comma - 8))) +
                     l.substr(comma) + "\n";
        }
        out = shifted;
      }
      before += std::count(demo.begin() + static_cast<std::ptrdiff_t>(start),
                           demo.begin() + static_cast<std::ptrdiff_t>(end), '\n');
      joined += out;
      start = end;
    }
    EXPECT_EQ(joined, whole.out);
  }
}

TEST_F(ProgramTest, ExplainNamesTheLinesAskedFor) {
  const std::string demo = ReadFile(kDemo + "/tallow.in").value_or("");
  const std::string args = "explain --tables '" + tables_.Path() + "' --in -";
  Outcome run = RunProgram(work_, args + " --line 29 --line 30", demo);
  EXPECT_EQ(run.status, kExitOk) << run.err;
  EXPECT_EQ(run.out.rfind("line 29: case D0000029, caseDate 20020606, edition 0", 0), 0u)
      << run.out;
  EXPECT_NE(run.out.find("\nline 30: case D0000030"), std::string::npos);
  EXPECT_EQ(run.out.find("line 31:"), std::string::npos);

  run = RunProgram(work_, args + " --format json", demo);
  EXPECT_EQ(run.status, kExitOk) << run.err;
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 52);

  run = RunProgram(work_, args + " --line 99", demo);
  EXPECT_EQ(run.status, kExitUsage);
  EXPECT_NE(run.err.find("has 52 case lines; line 99 is not among them"), std::string::npos)
      << run.err;
}

}  // namespace
}  // namespace tallow::app

// tallow tables build, check, diff and synth as a table author runs them:
// exit statuses, refusals, and what diff and check print.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>

#include "app_files.h"

namespace tallow::app {
namespace {

namespace fs = std::filesystem;
using testing::Outcome;
using testing::ReadFile;
using testing::TempDir;

const std::string kDemo = std::string(TALLOW_SOURCE_DIR) + "/data/demo";

Outcome Tallow(const TempDir& dir, const std::string& args) {
  return testing::RunProgram(dir, args, "");
}

// The demo sources copied to dir/name, with `from` replaced by `to` in one
// source when given.
void CopyDemoSources(const TempDir& dir, const std::string& name, const std::string& table = "",
                     const std::string& from = "", const std::string& to = "") {
  fs::copy(kDemo + "/tables", dir.Path(name), fs::copy_options::recursive);
  if (table.empty()) return;
  std::string text = ReadFile(dir.Path(name + "/" + table + ".txt")).value_or("");
  const std::size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at, from.size(), to);
  dir.Write(name + "/" + table + ".txt", text);
}

int CountDifferentLines(const std::string& a, const std::string& b) {
  std::istringstream ia(a);
  std::istringstream ib(b);
  std::string la;
  std::string lb;
  int differ = 0;
  while (std::getline(ia, la) && std::getline(ib, lb)) differ += la != lb;
  return differ;
}

TEST(TablesCommandTest, DiffReportsOneChangeExactlyAndCountsTheCasesItChanges) {
  TempDir dir;
  CopyDemoSources(dir, "src-a");
  CopyDemoSources(dir, "src-b", "RDRGDRG", "\n 890  890 1 4 M", "\n 890  891 1 4 M");
  fs::copy(kDemo + "/tallow.in", dir.Path("cases.in"));
  ASSERT_EQ(Tallow(dir, "tables build src-a a").status, 0);
  ASSERT_EQ(Tallow(dir, "tables build src-b b").status, 0);

  // The cases whose records differ, counted from two separate batch runs.
  ASSERT_EQ(Tallow(dir, "group --tables a --in cases.in --out a.jsonl --format jsonl").status, 0);
  ASSERT_EQ(Tallow(dir, "group --tables b --in cases.in --out b.jsonl --format jsonl").status, 0);
  const int expected =
      CountDifferentLines(ReadFile(dir.Path("a.jsonl")).value(), ReadFile(dir.Path("b.jsonl")).value());
  ASSERT_GT(expected, 0) << "the change must reach some demo case";

  const Outcome diff = Tallow(dir, "tables diff a b --cases cases.in --max 2");
  EXPECT_EQ(diff.status, 0) << diff.err;
  const std::string head =
      "RDRGDRG: 1 change\n"
      "  changed line 0890: refined 890 -> 891\n"
      "1 change in 1 table\n"
      "cases: 52 grouped, " + std::to_string(expected) + " differ\n";
  EXPECT_EQ(diff.out.substr(0, head.size()), head) << diff.out;
  // The first two, with the fields that differ.
  const std::regex example("\n  line \\d+ \\(D\\d+\\): finalDrg 890 -> 891");
  const auto shown = std::distance(std::sregex_iterator(diff.out.begin(), diff.out.end(), example),
                                   std::sregex_iterator());
  EXPECT_EQ(shown, std::min(expected, 2)) << diff.out;

  const Outcome same = Tallow(dir, "tables diff a a --cases cases.in --format json");
  EXPECT_EQ(same.status, 0);
  EXPECT_NE(same.out.find("\"changes\":[]"), std::string::npos) << same.out;
  EXPECT_NE(same.out.find("\"grouped\":52,\"differ\":0"), std::string::npos) << same.out;
}

TEST(TablesCommandTest, DiffOfASynthesisedSetWithOneCodeChangedNamesThatCode) {
  TempDir dir;
  ASSERT_EQ(Tallow(dir, "tables synth --seed 12 --sources src").status, 0);
  ASSERT_EQ(Tallow(dir, "tables build src a").status, 0);
  std::string text = ReadFile(dir.Path("src/DXTAB1.txt")).value();
  std::smatch m;
  ASSERT_TRUE(std::regex_search(text, m, std::regex("\nentry (\\S+) (\\d+)\n")));
  const std::string code = m[1];
  const std::string was = m[2];
  const std::string now = was == "1" ? "2" : "1";
  text = m.prefix().str() + "\nentry " + code + " " + now + "\n" + m.suffix().str();
  dir.Write("src/DXTAB1.txt", text);
  ASSERT_EQ(Tallow(dir, "tables build --force src b").status, 0);
  const Outcome diff = Tallow(dir, "tables diff a b");
  EXPECT_EQ(diff.status, 0) << diff.err;
  EXPECT_EQ(diff.out, "DXTAB1: 1 change\n  changed code " + code + ": class " + was + " -> " + now +
                          "\n1 change in 1 table\n");
}

TEST(TablesCommandTest, BuildAndSynthRefuseWhatIsLikelyAMistake) {
  TempDir dir;
  CopyDemoSources(dir, "src");
  fs::rename(dir.Path("src/DXTAB0.txt"), dir.Path("src/DXTABO.txt"));
  Outcome run = Tallow(dir, "tables build src out");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("DXTABO.txt: no such table; did you mean DXTAB0.txt?"), std::string::npos)
      << run.err;
  EXPECT_FALSE(fs::exists(dir.Path("out")));

  fs::remove(dir.Path("src/DXTABO.txt"));
  run = Tallow(dir, "tables build src out");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("no source for DXTAB0.txt; give --allow-missing"), std::string::npos)
      << run.err;
  ASSERT_EQ(Tallow(dir, "tables build --allow-missing src out").status, 0);
  const std::string id = Tallow(dir, "tables id out").out.substr(0, 64);

  // A directory that holds files: refused, and with --force replaced only by
  // a set that builds.
  run = Tallow(dir, "tables build --allow-missing src out");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("out: holds files"), std::string::npos) << run.err;
  run = Tallow(dir, "tables synth --seed 3 out");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("give --force"), std::string::npos) << run.err;
  dir.Write("src/CCTAB.txt", "row 1 0 5\nrow oops\n");
  run = Tallow(dir, "tables build --allow-missing --force src out");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("CCTAB.txt line 2"), std::string::npos) << run.err;
  EXPECT_EQ(Tallow(dir, "tables id out").out.substr(0, 64), id);
  EXPECT_EQ(Tallow(dir, "tables synth --seed 3 --force out").status, 0);
  EXPECT_NE(Tallow(dir, "tables id out").out.substr(0, 64), id);
}

TEST(TablesCommandTest, CheckExitsZeroOnACleanSetAndOneOnAFaultNamingIt) {
  TempDir dir;
  ASSERT_EQ(Tallow(dir, "tables synth --seed 9 clean").status, 0);
  Outcome run = Tallow(dir, "tables check clean");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("\nedition 0: "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\n0 errors, 0 warnings\n"), std::string::npos) << run.out;

  ASSERT_EQ(Tallow(dir, "tables synth --seed 9 --sources src").status, 0);
  dir.Write("src/CCTAB1.txt", "row 1 9,5\n");  // the walk stops at 9 and never reaches 5
  ASSERT_EQ(Tallow(dir, "tables build src faulty").status, 0);
  run = Tallow(dir, "tables check faulty");
  EXPECT_EQ(run.status, 1) << run.out;
  EXPECT_NE(run.out.find("error: CCTAB1 cc-list-order, 1 finding: "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\n  CCTAB1 row 1 (key 1): item 2, 5 is never found\n"), std::string::npos)
      << run.out;
  run = Tallow(dir, "tables check faulty --format json");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("\"errors\":1,\"warnings\":0,\"findings\":[{\"severity\":\"error\","
                         "\"file\":\"CCTAB1\",\"kind\":\"cc-list-order\""),
            std::string::npos)
      << run.out;
}

}  // namespace
}  // namespace tallow::app

// Sources read for build and sets written into directories: names that are
// likely mistakes are refused, and a set is replaced whole or not at all.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "toolkit/toolkit.h"

namespace tallow {
namespace {

namespace fs = std::filesystem;

class SetDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "tallow-set-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  std::string Path(const std::string& name) const { return (root_ / name).string(); }
  void Write(const std::string& name, const std::string& text) const {
    fs::create_directories(fs::path(Path(name)).parent_path());
    std::ofstream(Path(name), std::ios::binary) << text;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // A source directory with every table's source (empty sources).
  void WriteAllSources(const std::string& dir) const {
    for (const char* name : kTableFiles) Write(dir + "/" + name + ".txt", "");
  }

  fs::path root_;
};

TEST(ClosestTableNameTest, SuggestsTheNameASlipCameFrom) {
  const std::pair<const char*, const char*> cases[] = {
      {"DXTABO", "DXTAB0"},   {"dxtab0", "DXTAB0"},     {"DGTABO", "DGTAB0"},
      {"RDRGCCl", "RDRGCC1"}, {"RDRGNE01", "RDRGNEO1"}, {"SGTAB", "SGTAB8"},
      {"CCTAB00", "CCTAB0"},  {"SGMAP", "SGMAP1"},      {"notes", ""},
      {"README", ""},
  };
  for (const auto& [name, closest] : cases) EXPECT_EQ(ClosestTableName(name), closest) << name;
}

TEST_F(SetDirectoryTest, AMisnamedSourceIsRefusedWithTheClosestName) {
  WriteAllSources("src");
  fs::rename(Path("src/DXTAB0.txt"), Path("src/DXTABO.txt"));
  Result<std::map<std::string, std::string>> sources = ReadBuildSources(Path("src"), true);
  ASSERT_FALSE(sources.ok());
  EXPECT_EQ(sources.message(), "DXTABO.txt: no such table; did you mean DXTAB0.txt?");
}

TEST_F(SetDirectoryTest, AMissingSourceIsRefusedUnlessAllowed) {
  WriteAllSources("src");
  fs::remove(Path("src/SGTAB9.txt"));
  fs::remove(Path("src/RDRGCL.txt"));
  Write("src/notes.md", "not a source");  // other files are not sources
  Result<std::map<std::string, std::string>> refused = ReadBuildSources(Path("src"), false);
  ASSERT_FALSE(refused.ok());
  EXPECT_NE(refused.message().find("no source for SGTAB9.txt, RDRGCL.txt; give --allow-missing"),
            std::string::npos)
      << refused.message();
  Result<std::map<std::string, std::string>> allowed = ReadBuildSources(Path("src"), true);
  ASSERT_TRUE(allowed.ok()) << allowed.message();
  EXPECT_EQ(allowed->size(), 20u);
  EXPECT_EQ(allowed->count("SGTAB9"), 0u);
}

TEST_F(SetDirectoryTest, ADirectoryThatHoldsFilesIsRefusedWithoutForce) {
  Write("out/tallow.in", "cases");
  const Status s = ReplaceTableFiles(Path("out"), {{"DXTAB8", "new"}}, "", false);
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.message().find("holds files (tallow.in); give --force"), std::string::npos)
      << s.message();
  EXPECT_FALSE(fs::exists(Path("out/DXTAB8")));
  // A new directory and an empty one are written without --force.
  EXPECT_TRUE(ReplaceTableFiles(Path("fresh/set"), {{"DXTAB8", "a"}}, "", false).ok());
  EXPECT_EQ(Read("fresh/set/DXTAB8"), "a");
  EXPECT_TRUE(ReplaceTableFiles(Path("slash") + "/", {{"DXTAB8", "c"}}, "", false).ok());
  EXPECT_EQ(Read("slash/DXTAB8"), "c");
  EXPECT_TRUE(ReplaceTableFiles(Path("slash") + "/", {{"DXTAB8", "d"}}, "", true).ok());
  EXPECT_EQ(Read("slash/DXTAB8"), "d");
  EXPECT_EQ(std::distance(fs::directory_iterator(Path("slash")), fs::directory_iterator()), 1);
  fs::create_directories(Path("empty"));
  EXPECT_TRUE(ReplaceTableFiles(Path("empty"), {{"DXTAB8", "b"}}, ".txt", false).ok());
  EXPECT_EQ(Read("empty/DXTAB8.txt"), "b");
}

TEST_F(SetDirectoryTest, ForceReplacesTheSetAndLeavesOtherFiles) {
  Write("out/DXTAB8", "old 8");
  Write("out/SGMAP1", "old conversions");  // of the old set, not of the new one
  Write("out/tallow.in", "cases");
  ASSERT_TRUE(ReplaceTableFiles(Path("out"), {{"DXTAB8", "new 8"}, {"DXTAB9", "new 9"}}, "", true)
                  .ok());
  EXPECT_EQ(Read("out/DXTAB8"), "new 8");
  EXPECT_EQ(Read("out/DXTAB9"), "new 9");
  EXPECT_FALSE(fs::exists(Path("out/SGMAP1")));
  EXPECT_EQ(Read("out/tallow.in"), "cases");
  // Nothing of the temporary directories stays behind.
  int entries = 0;
  for (const auto& e : fs::directory_iterator(root_)) entries += e.path().filename() != "out";
  EXPECT_EQ(entries, 0);
}

TEST_F(SetDirectoryTest, ASetThatCannotBeWrittenLeavesTheOldOneWhole) {
  Write("out/DXTAB8", "old 8");
  Write("out/DXTAB9", "old 9");
  fs::create_directories(Path("out/RDRGCL"));  // a directory where a table file goes
  const Status s =
      ReplaceTableFiles(Path("out"), {{"DXTAB8", "new"}, {"DXTAB9", "new"}, {"RDRGCL", "new"}}, "",
                        true);
  EXPECT_FALSE(s.ok());
  EXPECT_EQ(Read("out/DXTAB8"), "old 8");
  EXPECT_EQ(Read("out/DXTAB9"), "old 9");
  EXPECT_TRUE(fs::is_directory(Path("out/RDRGCL")));
}

}  // namespace
}  // namespace tallow

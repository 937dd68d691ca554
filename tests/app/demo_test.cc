// The demo cases through the whole program, compared with reviewed output.
//
// The demo table sources (data/demo/tables) are built in memory, written to a
// temporary directory and the demo cases (data/demo/tallow.in) grouped by
// the batch. Any change in grouping shows as a difference against the golden
// files under tests/data. After a reviewed, intended change, regenerate them
// with TALLOW_UPDATE_GOLDEN=1 and check the difference in version control.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/batch.h"
#include "app_files.h"
#include "toolkit/toolkit.h"

namespace tallow::app {
namespace {

using testing::CapturedStream;
using testing::DemoSources;
using testing::ReadFile;
using testing::TempDir;

const std::string kDemo = std::string(TALLOW_SOURCE_DIR) + "/data/demo";
const std::string kGolden = std::string(TALLOW_SOURCE_DIR) + "/tests/data";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Compares line by line so that a failure names the case that changed.
void ExpectGolden(const std::string& actual, const std::string& goldenName) {
  const std::string path = kGolden + "/" + goldenName;
  if (std::getenv("TALLOW_UPDATE_GOLDEN") != nullptr) {
    std::ofstream(path, std::ios::binary) << actual;
    return;
  }
  const std::optional<std::string> expected = ReadFile(path);
  ASSERT_TRUE(expected.has_value()) << "missing golden file " << path;
  const std::vector<std::string> want = Lines(*expected);
  const std::vector<std::string> got = Lines(actual);
  for (size_t i = 0; i < want.size() && i < got.size(); ++i) {
    EXPECT_EQ(got[i], want[i]) << goldenName << " line " << i + 1;
  }
  EXPECT_EQ(got.size(), want.size()) << goldenName;
  EXPECT_EQ(actual, *expected) << goldenName;
}

class DemoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Result<TableImages> images = BuildTableImages(DemoSources());
    ASSERT_TRUE(images.ok()) << images.message();
    EXPECT_EQ(images->count("SGMAP1"), 1u) << "the demo carries a conversion file";
    dir_.WriteTables(*images);
  }

  std::string Group(OutputFormat format) {
    BatchOptions options;
    options.tablesDirectory = dir_.Path();
    options.inputPath = kDemo + "/tallow.in";
    options.outputPath = dir_.Path("tallow.out");
    options.format = format;
    options.err = err_.get();
    EXPECT_EQ(RunBatch(options), kExitOk) << err_.Text();
    EXPECT_EQ(err_.Text(), "");
    return ReadFile(options.outputPath).value_or("");
  }

  TempDir dir_;
  CapturedStream err_;
};

TEST_F(DemoTest, LinesMatchTheGoldenCopy) { ExpectGolden(Group(OutputFormat::kLines), "demo.out"); }

TEST_F(DemoTest, JsonlMatchesTheGoldenCopy) {
  ExpectGolden(Group(OutputFormat::kJsonl), "demo.jsonl");
}

}  // namespace
}  // namespace tallow::app

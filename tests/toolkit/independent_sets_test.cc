// Sets from the independent generator: the loader takes them, the grouper
// groups cases with them, and every one of the twenty-two files comes back
// from dump and build byte for byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "app/batch.h"
#include "toolkit/independent_generator.h"
#include "toolkit/toolkit.h"

namespace tallow {
namespace {

constexpr uint64_t kSeeds[] = {1, 2, 3, 17, 20260101};

std::string Group(const std::shared_ptr<const TableSet>& tables, std::string input) {
  std::FILE* in = fmemopen(input.data(), input.size(), "r");
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&buffer, &size);
  std::FILE* err = std::fopen("/dev/null", "w");
  app::BatchOptions options;
  options.err = err;
  options.jobs = 1;
  (void)app::GroupStream(tables, in, out, options);
  std::fclose(in);
  std::fclose(out);
  std::fclose(err);
  std::string written(buffer, size);
  std::free(buffer);
  return written;
}

TEST(IndependentSetsTest, LoadAndGroup) {
  for (uint64_t seed : kSeeds) {
    const testing::IndependentSet set = testing::MakeIndependentSet(seed);
    ASSERT_EQ(set.files.size(), 22u);
    auto loaded = LoadTablesFromImages(set.files);
    ASSERT_TRUE(loaded.ok()) << "seed " << seed << ": " << loaded.message();
    std::string input;
    for (const std::string& line : set.caseLines) input += line + "\n";
    const std::string output = Group(*loaded, input);
    std::size_t lines = 0;
    for (std::size_t pos = 0; pos < output.size(); pos = output.find('\n', pos) + 1, ++lines) {
      const std::string line = output.substr(pos, output.find('\n', pos) - pos);
      ASSERT_EQ(line.size(), 214u) << "seed " << seed << ": " << line;
      EXPECT_EQ(line.substr(196, 8), "20050801") << line;
      // MDC, group code and version are digits.
      EXPECT_EQ(line.substr(188, 16).find_first_not_of("0123456789"), std::string::npos) << line;
    }
    EXPECT_EQ(lines, set.caseLines.size()) << "seed " << seed;
  }
}

TEST(IndependentSetsTest, EveryFileComesBackFromDumpAndBuild) {
  for (uint64_t seed : kSeeds) {
    const testing::IndependentSet set = testing::MakeIndependentSet(seed);
    std::string sources;
    for (const auto& [name, bytes] : set.files) {
      const std::string what = name + " seed " + std::to_string(seed);
      Result<std::string> source = DumpTableFile(name, bytes);
      ASSERT_TRUE(source.ok()) << what << ": " << source.message();
      sources += *source;
      Result<std::string> rebuilt = BuildTableFile(name, *source);
      ASSERT_TRUE(rebuilt.ok()) << what << ": " << rebuilt.message();
      if (*rebuilt != bytes) {
        const auto diff = std::mismatch(rebuilt->begin(), rebuilt->end(), bytes.begin(), bytes.end());
        ADD_FAILURE() << what << ": dump and build differ from byte " << (diff.first - rebuilt->begin())
                      << " (" << rebuilt->size() << " bytes built, " << bytes.size() << " dumped)";
      }
    }
    // The sets need every notation for layouts the plain records do not
    // produce.
    for (const char* notation : {"\nstart ", "\nspare ", "/AB ", "\nsurplus ",
                                 seed % 2 == 1 ? "\nlines 61\n" : "\nsurplus \"0123 unread\"",
                                 "lineend crlf", "lastline unterminated", " @-", "\nraw "}) {
      EXPECT_NE(sources.find(notation), std::string::npos) << "seed " << seed << ": " << notation;
    }
  }
}

// The sets are valid, so check finds no error, and dump and build keep every
// layout in them (check says so in a note when they do not).
TEST(IndependentSetsTest, CheckFindsNoErrorAndEveryLayoutExpressible) {
  for (uint64_t seed : kSeeds) {
    const testing::IndependentSet set = testing::MakeIndependentSet(seed);
    const CheckReport report = CheckTableImages(set.files, 1000);
    EXPECT_TRUE(report.loaded) << seed;
    EXPECT_EQ(report.errors, 0) << seed;
    for (const FindingGroup& g : report.groups) {
      EXPECT_NE(g.severity, Finding::Severity::kError) << seed << ": " << g.file << " " << g.kind;
    }
    for (const std::string& note : report.notes) {
      EXPECT_EQ(note.find("does not build"), std::string::npos) << seed << ": " << note;
      EXPECT_EQ(note.find("do not give back"), std::string::npos) << seed << ": " << note;
    }
  }
}

}  // namespace
}  // namespace tallow

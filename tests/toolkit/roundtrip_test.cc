// Dump then build gives back the bytes; synthetic sets are full, valid and
// deterministic.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "support/table_fixture.h"
#include "tables/bytes.h"
#include "toolkit/toolkit.h"

namespace tallow {
namespace {

// Dumps a file and builds the dump; the bytes must come back unchanged.
void ExpectRoundTrip(const std::string& name, const std::string& bytes, const std::string& what) {
  Result<std::string> source = DumpTableFile(name, bytes);
  ASSERT_TRUE(source.ok()) << what << ": " << source.message();
  Result<std::string> rebuilt = BuildTableFile(name, *source);
  ASSERT_TRUE(rebuilt.ok()) << what << ": " << rebuilt.message() << "\n" << source->substr(0, 2000);
  EXPECT_TRUE(*rebuilt == bytes) << what << ": dump and build differ\n" << source->substr(0, 2000);
}

TEST(RoundTripTest, EverySyntheticFileComesBackByteForByte) {
  for (uint64_t seed : {1ULL, 2ULL, 20260101ULL}) {
    const TableImages images = SynthTables(seed);
    ASSERT_EQ(images.size(), 22u);
    for (const auto& [name, bytes] : images) {
      ExpectRoundTrip(name, bytes, name + " seed " + std::to_string(seed));
    }
  }
}

std::string Lines(const std::vector<std::string>& lines, const char* end = "\n") {
  std::string s;
  for (const std::string& l : lines) s += l + end;
  return s;
}

std::string Built(const std::string& name, const std::string& source) {
  Result<std::string> bytes = BuildTableFile(name, source);
  EXPECT_TRUE(bytes.ok()) << bytes.message();
  return bytes.ok() ? *bytes : std::string();
}

unsigned char* At(std::string& bytes, std::size_t offset) {
  return reinterpret_cast<unsigned char*>(bytes.data()) + offset;
}

struct LayoutCase {
  const char* what;
  const char* table;
  std::function<std::string()> bytes;
  const char* dumped;  // a record the dump must show
};

// Files whose layout the plain field forms do not produce.
TEST(RoundTripTest, UnusualLayoutsComeBackByteForByte) {
  const LayoutCase cases[] = {
      {"CR LF lines, a blank-padded row, a keyword as code", "RDRGCC0",
       [] {
         std::vector<std::string> lines = {"J189 0 0 1210  12", "raw  0 0 0010 001"};
         lines.resize(2420, "ZZZZZ0 0 0000 001");
         return Lines(lines, "\r\n");
       },
       "raw \"J189 0 0 1210  12\""},
      {"a keyword as code", "RDRGCC8",
       [] { return Built("RDRGCC8", "\"raw\" 0 0 10 1\n"); }, "\"raw\" 0 0 10 1"},
      {"mixed line ends", "RDRGCC9",
       [] {
         std::vector<std::string> lines(2007, "ZZZZZ0 0 0000 001");
         lines[0] = "J189 0 0 1210 012\r";
         return Lines(lines);
       },
       "raw \"J189 0 0 1210 012\\r\""},
      {"last line without a line feed, a high-byte mark", "RDRGNEO1",
       [] { return std::string("P073 3\nP07  \xB0"); }, "lastline unterminated"},
      {"a short line and a repeated DRG", "RDRGDRG",
       [] {
         std::vector<std::string> lines = {"0010 0010 05   ", "0020 0020 00    M", "0010 0011 00"};
         lines.resize(485, "0030 0030 00    M");
         return Lines(lines);
       },
       "raw \"0010 0010 05   \""},
      {"every line alike", "RDRGDRG", [] { return Lines(std::vector<std::string>(485, "0030 0030100")); },
       "30 30 1 0 -"},
      {"level lines with blanks and short lines", "RDRGCL",
       [] {
         std::vector<std::string> lines(62, std::string(86, '0'));
         lines[0] = "12 #";
         lines[5] = "";
         lines[61] = "3";
         return Lines(lines, "\r\n");
       },
       "row 1 \"12 #\""},
      {"a start on an empty category", "DXTAB0",
       [] {
         std::string b = Built("DXTAB0", "entry A01 1\nclass 1 1 0 0 0000000000\n");
         StoreBigEndian16(At(b, 3 * 5 + 1), 258);
         return b;
       },
       "start A05 258"},
      {"shared and scattered lists", "CCTAB0",
       [] {
         std::string b = Built("CCTAB0", "row 3 1,2\nrow 7 4+2\nrow 9 -\n");
         const std::size_t area = 5 * 2390;
         std::memcpy(At(b, area + 10), At(b, area + 4), 3);  // row 1 after a gap
         std::memset(At(b, area + 4), 0, 3);
         StoreLittleEndian16(At(b, 3 * 2390 + 2), 10);
         StoreLittleEndian16(At(b, 3 * 2390 + 4), 0);  // row 2 shares the list of row 0
         *At(b, 2 * 2390 + 2) = 2;
         return b;
       },
       "row 9 1,2 @0"},
      {"codes with NULs and negative dates", "SGTAB0",
       [] {
         std::string b = Built("SGTAB0", "row Q2950 1 2 -\nrow Q2951 1 2 -\n");
         std::memcpy(At(b, 5), std::string("Q2\0 1", 5).data(), 5);
         StoreLittleEndian32(At(b, 5 * 1608 + 4), -20020101);
         return b;
       },
       "row \"Q2\\x00 1\" -20020101 2 -"},
      {"a digit byte above 9 and a start on an empty MDC", "DGTAB",
       [] { return Built("DGTAB", "rule 14 468/12 0 1:08\nstart 2 7\n"); }, "rule 14 468/12 0 1:08"},
      // Once built back with one line too many ("4700 4700 00"): the loader
      // reads the long line as two, so 484 lines are all it needs.
      {"a line the loader reads in two pieces", "RDRGDRG",
       [] {
         std::vector<std::string> lines(484, "4700 4700 00");
         lines[483] = "0010 0010 01    M and more than 17";
         return Lines(lines);
       },
       "raw \"0010 0010 01    M and more than 17\""},
      {"a level row the loader reads in two pieces", "RDRGCL",
       [] {
         std::vector<std::string> lines(61, "1");
         lines[3] = std::string(90, '2');
         return Lines(lines);
       },
       "lines 61"},
      {"lines past those read", "RDRGCC1",
       [] {
         std::vector<std::string> lines(2421, "ZZZZZ0 0 0000 001");
         lines.push_back("never read");
         return Lines(lines);
       },
       "surplus \"never read\""},
      {"categories out of order, shared, a spare position and an odd tail", "SGTAB9",
       [] {
         std::string b = Built("SGTAB9", "entry Q2950 1\nentry Q2951 2\nentry Q3050 1\n");
         std::memcpy(At(b, 3 * 1629 + 1), "\x00\x05", 2);  // Q29 moves to position 5
         std::memcpy(At(b, 7800 + 15), At(b, 7800), 6);
         std::memset(At(b, 7800), 0, 6);
         *At(b, 7800 + 6) = 0xAB;                           // Q30's tail: no code spells it
         *At(b, 3 * 1631) = 1;                              // Q31 shares Q30's entry
         StoreBigEndian16(At(b, 3 * 1631 + 1), 2);
         *At(b, 7800 + 3 * 700) = 0x42;                     // a position of no category
         return b;
       },
       "start Q31 2\nentry Q31/AB 1\nspare 700 420000"},
      {"rules of no MDC and an MDC after a gap", "DGTAB0",
       [] {
         std::string b = Built("DGTAB0", "rule 1 10 0 -\nrule 2 20 0 -\n");
         std::memcpy(At(b, 90 + 46 * 9), At(b, 90 + 46), 46);  // MDC 2's rule moves to rule 10
         StoreBigEndian16(At(b, 3), 10);
         *At(b, 90 + 46 * 538) = 0x07;
         return b;
       },
       "start 2 10"},
      {"spare list bytes, an empty list outside the area, surplus bytes", "CCTAB",
       [] {
         std::string b = Built("CCTAB", "row 1 0 5\nrow 3 0 - @-7\n");
         *At(b, 6 * 1552 + 100) = 0x5A;
         return b + "tail";
       },
       "row 3 0 - @-7"},
  };
  for (const LayoutCase& c : cases) {
    const std::string bytes = c.bytes();
    Result<std::string> source = DumpTableFile(c.table, bytes);
    ASSERT_TRUE(source.ok()) << c.what;
    EXPECT_NE(source->find(c.dumped), std::string::npos) << c.what << ":\n" << source->substr(0, 1500);
    ExpectRoundTrip(c.table, bytes, c.what);
  }
}

// Damaged files of every table dump without reading outside the file, and
// their dumps either build or fail with a message.
TEST(RoundTripTest, DamagedFilesStillDump) {
  const TableImages images = SynthTables(12);
  uint64_t state = 12345;
  auto next = [&state] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return state >> 33;
  };
  static constexpr char kBytes[] = {'\0', '\n', '\r', '\x80', '\xFF', '"', '#', ' ', '9'};
  for (const auto& [name, original] : images) {
    for (int round = 0; round < 3; ++round) {
      std::string bytes = original;
      for (int k = 0; k < 24 && !bytes.empty(); ++k) {
        bytes[next() % bytes.size()] = kBytes[next() % sizeof kBytes];
      }
      Result<std::string> source = DumpTableFile(name, bytes);
      ASSERT_TRUE(source.ok()) << name << ": " << source.message();
      Result<std::string> rebuilt = BuildTableFile(name, *source);
      if (!rebuilt.ok()) {
        EXPECT_FALSE(rebuilt.message().empty()) << name;
      }
    }
  }
}

TEST(RoundTripTest, DumpShowsRecordsWithoutPadding) {
  const std::string source =
      "class 1 5 3 1 0080000001\n"
      "entry O800 1 17\n"
      "entry O80 1\n";
  Result<std::string> dumped = DumpTableFile("/some/dir/DXTAB9", Built("DXTAB9", source));
  ASSERT_TRUE(dumped.ok()) << dumped.message();
  EXPECT_EQ(dumped->substr(0, 2), "# ");  // a header naming the table
  EXPECT_NE(dumped->find("DXTAB9"), std::string::npos);
  EXPECT_EQ(dumped->substr(dumped->find('\n') + 1),
            "class 1 5 3 1 0080000001\nentry O800 1 17\nentry O80 1\n");

  EXPECT_FALSE(DumpTableFile("DXTAB9", "short").ok());
  EXPECT_FALSE(DumpTableFile("NOTATABLE", "").ok());
  // A source is not a table file, even when it is named after one.
  EXPECT_FALSE(DumpTableFile("src/RDRGCC0.txt", "J189 0 0 1210 012\n").ok());
}

TEST(RoundTripTest, SourcesTravelThroughDirectories) {
  const std::filesystem::path dir =
      std::filesystem::path(TALLOW_BINARY_DIR) / "toolkit_test_sources";
  std::filesystem::remove_all(dir);
  std::map<std::string, std::string> sources = SynthSources(8);
  sources["SGMAP1"] = "Q2950 Q2951\n";
  ASSERT_TRUE(WriteTableFiles(dir.string(), sources, ".txt").ok());
  Result<std::map<std::string, std::string>> read = ReadTableSources(dir.string());
  ASSERT_TRUE(read.ok()) << read.message();
  EXPECT_TRUE(*read == sources);

  Result<TableImages> built = BuildTableImages(*read);
  ASSERT_TRUE(built.ok()) << built.message();
  ASSERT_TRUE(WriteTableFiles(dir.string(), *built).ok());
  Result<TableImages> images = ReadTableImages(dir.string());
  ASSERT_TRUE(images.ok()) << images.message();
  EXPECT_TRUE(*images == *built);
  EXPECT_EQ(images->size(), 23u);
  EXPECT_EQ(CheckTables(dir.string()).errors, 0);
  std::filesystem::remove_all(dir);

  EXPECT_FALSE(ReadTableSources((dir / "absent").string()).ok());
}

TEST(SynthTest, SameSeedSameBytesOtherSeedOtherBytes) {
  const TableImages a = SynthTables(5);
  const TableImages b = SynthTables(5);
  const TableImages c = SynthTables(6);
  EXPECT_TRUE(a == b);
  for (const auto& [name, bytes] : a) EXPECT_NE(bytes, c.at(name)) << name;
}

TEST(SynthTest, TablesAreFullAndShapedLikeRealOnes) {
  Result<std::shared_ptr<const TableSet>> loaded = LoadTablesFromImages(SynthTables(11));
  ASSERT_TRUE(loaded.ok()) << loaded.message();
  const TableSet& set = **loaded;
  for (std::size_t e = 0; e < kEditionCount; ++e) {
    const DiagnosisTable& dx = set.diagnosis[e];
    int entries = 0;
    int pairs = 0;
    for (int c = 0; c < kCategorySlots; ++c) {
      const int start = dx.categoryStart[static_cast<std::size_t>(c)];
      const int count = dx.categoryCount[static_cast<std::size_t>(c)];
      entries += count;
      for (int i = start + 1; i < start + count; ++i) {
        pairs += dx.entryTail[static_cast<std::size_t>(i)] ==
                 dx.entryTail[static_cast<std::size_t>(i - 1)];
      }
    }
    EXPECT_EQ(entries, dx.entryCount) << "edition " << e;
    EXPECT_GT(pairs, 0) << "edition " << e;
    EXPECT_NE(std::string(set.refinedCc[e].rows.back().code.data(), 5), "ZZZZZ");
  }
  EXPECT_NE(set.datedProcedure.codes.back(), RowCode{});
  int multiRowCodes = 0;
  for (std::size_t i = 1; i < set.datedProcedure.codes.size(); ++i) {
    multiRowCodes += set.datedProcedure.codes[i] == set.datedProcedure.codes[i - 1];
  }
  EXPECT_GT(multiRowCodes, 100);
  // Every MDC with rules ends in a rule that catches every case.
  for (const DrgRuleTable& rules : set.drgRules) {
    for (int m = 1; m <= 25; ++m) {
      ASSERT_FALSE(rules.RulesOf(m).empty());
      const DrgRule& last = rules.RulesOf(m).back();
      EXPECT_TRUE(std::all_of(last.bytes.begin(), last.bytes.begin() + 43,
                              [](uint8_t b) { return b == 0; }));
    }
  }
  int marked = 0;
  for (char mark : set.diagnosis[2].neonateMark) marked += mark != '0';
  EXPECT_GT(marked, 0);
}

}  // namespace
}  // namespace tallow

// Loading a whole set: file order, sizes, line counts, structural faults,
// a directory on disk and the optional conversion files.
#include "tables/loader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "tables/table_images.h"

namespace tallow {
namespace {

using testing::BinarySizeOf;
using testing::CountingSource;
using testing::InertImages;
using testing::JoinLines;
using testing::RepeatLine;

// The message of a load that must fail; "" when it succeeded.
std::string LoadFailure(const TableImages& images) {
  const auto result = LoadTablesFromImages(images);
  return result.ok() ? std::string() : result.message();
}

TEST(LoadTablesTest, InertSetLoadsWithEveryTableSized) {
  const auto result = LoadTablesFromImages(InertImages());
  ASSERT_TRUE(result.ok()) << result.message();
  const TableSet& set = **result;
  for (int e = 0; e < kEditionCount; ++e) {
    const auto& dx = set.diagnosis[static_cast<std::size_t>(e)];
    EXPECT_EQ(dx.entryCount, kDiagnosisEntries[e]);
    EXPECT_EQ(dx.neonateMark.size(), static_cast<std::size_t>(kDiagnosisEntries[e]));
    EXPECT_EQ(dx.classes.size(), 383u);
    EXPECT_EQ(set.refinedCc[static_cast<std::size_t>(e)].rows.size(),
              static_cast<std::size_t>(kRefinedCcRows[e]));
  }
  EXPECT_EQ(set.procedure[1].classes.size(), 339u);
  EXPECT_EQ(set.datedProcedure.codes.size(), 1608u);
  EXPECT_EQ(set.drgRules[1].rules.size(), 539u);
  EXPECT_EQ(set.ccEntry[1].listArea.size(), 17258u);
  EXPECT_EQ(set.ccRange.listArea.size(), 7436u);
  EXPECT_TRUE(set.ccRange.rangeKeyed);
  EXPECT_FALSE(set.ccEntry[0].rangeKeyed);
  EXPECT_EQ(set.refinedDrg.slots.size(), 4770u);
  EXPECT_FALSE(set.codeMap2001.present);
  EXPECT_FALSE(set.codeMapJan2001.present);
}

TEST(LoadTablesTest, BinaryFileSizes) {
  {
    TableImages images = InertImages();
    images["DXTAB8"].resize(56913);
    EXPECT_EQ(LoadFailure(images), "DXTAB8: 56913 bytes, 56914 needed");
  }
  {
    TableImages images = InertImages();
    images["DXTAB8"].append(100, '\x7f');  // surplus bytes are never read
    EXPECT_EQ(LoadFailure(images), "");
  }
  // Every binary file one byte short.
  for (const char* name : kTableFiles) {
    const std::size_t size = BinarySizeOf(name);
    if (size == 0) continue;
    TableImages images = InertImages();
    images[name].resize(size - 1);
    EXPECT_EQ(LoadFailure(images), std::string(name) + ": " + std::to_string(size - 1) +
                                       " bytes, " + std::to_string(size) + " needed");
  }
}

TEST(LoadTablesTest, MissingFileStopsTheLoadBeforeLaterFiles) {
  for (int missing = 0; missing < 22; ++missing) {
    CountingSource files{InertImages(), {}};
    files.images.erase(kTableFiles[missing]);
    const auto result = LoadTablesFrom(files.Source());
    ASSERT_FALSE(result.ok()) << kTableFiles[missing];
    EXPECT_EQ(result.message(), std::string(kTableFiles[missing]) + ": file missing or unreadable");
    ASSERT_EQ(files.asked.size(), static_cast<std::size_t>(missing + 1)) << kTableFiles[missing];
    for (int i = 0; i <= missing; ++i)
      EXPECT_EQ(files.asked[static_cast<std::size_t>(i)], kTableFiles[i]);
  }
}

TEST(LoadTablesTest, ReadErrorOfTheSourceEndsTheLoad) {
  const TableImages images = InertImages();
  int asked = 0;
  const auto result = LoadTablesFrom([&](const std::string& name, Status* error) {
    ++asked;
    if (name == "SGTAB0") {
      *error = Status::Error("SGTAB0: cannot read: I/O error");
      return std::optional<std::string>();
    }
    return std::optional<std::string>(images.at(name));
  });
  EXPECT_EQ(result.message(), "SGTAB0: cannot read: I/O error");
  EXPECT_EQ(asked, 7);
}

TEST(LoadTablesTest, TextTableLineCounts) {
  {
    TableImages images = InertImages();
    images["RDRGDRG"] = RepeatLine(testing::kInertRefinedDrgLine, 484);
    EXPECT_EQ(LoadFailure(images), "RDRGDRG: 484 lines, 485 needed");
  }
  {
    TableImages images = InertImages();
    images["RDRGDRG"] += "this line is never read\n";
    EXPECT_EQ(LoadFailure(images), "");
  }
  {
    TableImages images = InertImages();
    images["RDRGCC9"] = RepeatLine(testing::kInertRefinedCcLine, 2006);
    EXPECT_EQ(LoadFailure(images), "RDRGCC9: 2006 lines, 2007 needed");
  }
  {
    // A last line without its line feed still counts.
    TableImages images = InertImages();
    images["RDRGCC9"].pop_back();
    EXPECT_EQ(LoadFailure(images), "");
  }
  {
    TableImages images = InertImages();
    images["RDRGCL"] = RepeatLine(std::string(86, '0'), 61);
    EXPECT_EQ(LoadFailure(images), "RDRGCL: 61 lines, 62 needed");
  }
  {
    TableImages images = InertImages();
    images["RDRGCC8"] = "";
    EXPECT_EQ(LoadFailure(images), "RDRGCC8: 0 lines, 1969 needed");
  }
}

// A fault that must be rejected: the file to change, how, and the message.
struct FaultCase {
  const char* label;
  const char* file;
  std::function<void(std::string&)> poke;
  const char* message;  // "" when the change is no fault
};

using testing::Poke8;
using testing::PokeBigEndian16;
using testing::PokeLittleEndian16;
using testing::SetCategory;
using testing::SetDiagnosisEntry;

void RunFaultCases(const std::vector<FaultCase>& cases) {
  for (const FaultCase& c : cases) {
    TableImages images = InertImages();
    c.poke(images.at(c.file));
    EXPECT_EQ(LoadFailure(images), c.message) << c.label;
  }
}

TEST(StructuralFaultTest, CategoryIndexedTables) {
  RunFaultCases({
      {"diagnosis count above 127", "DXTAB8", [](std::string& f) { SetCategory(f, 1480, 128, 0); },
       "DXTAB8 category 1480 (O80): count 128 above 127"},
      {"diagnosis count above 127 of an otherwise empty slot", "DXTAB8",
       [](std::string& f) { SetCategory(f, 2599, 200, -9); },
       "DXTAB8 category 2599 (Z99): count 200 above 127"},
      {"diagnosis start + count past the entries", "DXTAB0",
       [](std::string& f) { SetCategory(f, 1480, 9, 12305); },
       "DXTAB0 category 1480 (O80): start 12305 + count 9 runs past 12310 entries"},
      {"diagnosis negative start", "DXTAB9", [](std::string& f) { SetCategory(f, 0, 1, -1); },
       "DXTAB9 category 0 (A00): start -1 below 0"},
      {"diagnosis category reaching the last entry", "DXTAB1",
       [](std::string& f) {
         SetCategory(f, 1480, 2, 12309);
         SetDiagnosisEntry(f, 12309, 15, 383);
         SetDiagnosisEntry(f, 12310, 255, 1);
       },
       ""},
      {"diagnosis class 0", "DXTAB1",
       [](std::string& f) {
         SetCategory(f, 1480, 2, 16);
         SetDiagnosisEntry(f, 16, 15, 1);
         SetDiagnosisEntry(f, 17, 0x0F, 0);
       },
       "DXTAB1 entry 17 (O800): class 0 outside 1..383"},
      {"diagnosis class 384", "DXTAB8",
       [](std::string& f) {
         SetCategory(f, 2533, 1, 4);
         SetDiagnosisEntry(f, 4, 255, 384);
       },
       "DXTAB8 entry 4 (Z33): class 384 outside 1..383"},
      {"diagnosis class of an entry in no category", "DXTAB8",
       [](std::string& f) { SetDiagnosisEntry(f, 100, 255, -7); }, ""},
      {"diagnosis count 0 with any start", "DXTAB8",
       [](std::string& f) { SetCategory(f, 5, 0, -300); }, ""},
      {"procedure class above c", "SGTAB8",
       [](std::string& f) {
         SetCategory(f, 1629, 1, 3);
         Poke8(f, 7800 + 3 * 3, 0x50);
         PokeBigEndian16(f, 7800 + 3 * 3 + 1, 338);
       },
       "SGTAB8 entry 3 (Q2950): class 338 outside 1..337"},
      {"procedure class c of edition 9", "SGTAB9",
       [](std::string& f) {
         SetCategory(f, 1629, 1, 815);
         PokeBigEndian16(f, 7800 + 3 * 815 + 1, 339);
       },
       ""},
      {"procedure start + count past the entries", "SGTAB9",
       [](std::string& f) { SetCategory(f, 1201, 2, 815); },
       "SGTAB9 category 1201 (M01): start 815 + count 2 runs past 816 entries"},
      {"procedure count of 200 is allowed", "SGTAB8",
       [](std::string& f) {
         SetCategory(f, 1201, 200, 0);
         for (int e = 0; e < 200; ++e)
           PokeBigEndian16(f, 7800 + 3 * static_cast<std::size_t>(e) + 1, 1);
       },
       ""},
  });
}

TEST(StructuralFaultTest, DrgRuleIndex) {
  RunFaultCases({
      {"rules past the block", "DGTAB",
       [](std::string& f) {
         PokeBigEndian16(f, 3 * 4, 530);
         Poke8(f, 3 * 4 + 2, 3);
       },
       "DGTAB MDC 5: start 530 + count 3 runs past 531 rules"},
      {"rules up to the last one", "DGTAB0",
       [](std::string& f) {
         PokeBigEndian16(f, 3 * 29, 537);
         Poke8(f, 3 * 29 + 2, 3);
       },
       ""},
      {"start 0", "DGTAB0",
       [](std::string& f) {
         PokeBigEndian16(f, 0, 0);
         Poke8(f, 2, 1);
       },
       "DGTAB0 MDC 1: start 0 below 1"},
      {"count 0 with any start", "DGTAB", [](std::string& f) { PokeBigEndian16(f, 3 * 7, -5); },
       ""},
  });
}

TEST(StructuralFaultTest, ExclusionLists) {
  // CCTAB record of row r: keyFirst BE, span, listOffset BE, listLength.
  const auto rangeRow = [](std::string& f, std::size_t row, int offset, int items) {
    PokeBigEndian16(f, row * 6 + 3, offset);
    Poke8(f, row * 6 + 5, items);
  };
  // CCTAB0/1 with k rows: lengths at 2k, offsets (LE) at 3k, list area at 5k.
  const auto entryRow = [](std::string& f, std::size_t k, std::size_t row, int offset, int items) {
    Poke8(f, 2 * k + row, items);
    PokeLittleEndian16(f, 3 * k + 2 * row, offset);
  };
  RunFaultCases({
      {"two-byte item at the end of the area", "CCTAB",
       [&](std::string& f) { rangeRow(f, 0, 7434, 1); }, ""},
      {"two-byte item one byte past the area", "CCTAB",
       [&](std::string& f) { rangeRow(f, 3, 7435, 1); },
       "CCTAB row 3: list at offset 7435 with 1 items runs past the 7436-byte list area at item 1"},
      {"range item fits exactly", "CCTAB",
       [&](std::string& f) {
         rangeRow(f, 0, 7433, 1);
         Poke8(f, 1552 * 6 + 7433, 0x80);
       },
       ""},
      {"range item one byte past the area", "CCTAB",
       [&](std::string& f) {
         rangeRow(f, 0, 7434, 1);
         Poke8(f, 1552 * 6 + 7434, 0x80);
       },
       "CCTAB row 0: list at offset 7434 with 1 items runs past the 7436-byte list area at item 1"},
      {"later items walked", "CCTAB",
       [&](std::string& f) {
         rangeRow(f, 1551, 7430, 3);
         Poke8(f, 1552 * 6 + 7430, 0x80);  // 7430-7432, 7433-7434, then 7435-7436
       },
       "CCTAB row 1551: list at offset 7430 with 3 items runs past the 7436-byte list area at item "
       "3"},
      {"negative offset", "CCTAB", [&](std::string& f) { rangeRow(f, 2, -2, 1); },
       "CCTAB row 2: list offset -2 below 0"},
      {"negative offset of an empty list", "CCTAB", [&](std::string& f) { rangeRow(f, 2, -2, 0); },
       ""},
      {"entry-keyed list at the end", "CCTAB0",
       [&](std::string& f) { entryRow(f, 2390, 5, 17230, 1); }, ""},
      {"entry-keyed list past the end", "CCTAB0",
       [&](std::string& f) { entryRow(f, 2390, 5, 17231, 1); },
       "CCTAB0 row 5: list at offset 17231 with 1 items runs past the 17232-byte list area at item "
       "1"},
      {"entry-keyed offset read little-endian", "CCTAB1",
       [&](std::string& f) { entryRow(f, 2391, 2390, 0x4356, 1); },  // 17238 fits, 0x5643 would not
       ""},
  });
}

TEST(StructuralFaultTest, RefinedTableRanges) {
  const auto setLine = [](std::string& text, int lineIndex, const std::string& line, int width) {
    text.replace(static_cast<std::size_t>(lineIndex * (width + 1)), static_cast<std::size_t>(width),
                 line);
  };
  RunFaultCases({
      {"DRG value 0", "RDRGDRG", [&](std::string& f) { setLine(f, 11, "0000 4700 00", 12); },
       "RDRGDRG line 12, columns 1-4: DRG value \"0000\" outside 1..4770"},
      {"DRG value 4771", "RDRGDRG", [&](std::string& f) { setLine(f, 0, "4771 4700 00", 12); },
       "RDRGDRG line 1, columns 1-4: DRG value \"4771\" outside 1..4770"},
      {"DRG value not a number", "RDRGDRG",
       [&](std::string& f) { setLine(f, 0, "47x0 4700 00", 12); },
       "RDRGDRG line 1, columns 1-4: DRG value \"47x0\" outside 1..4770"},
      {"DRG value 4770 and 1", "RDRGDRG",
       [&](std::string& f) {
         setLine(f, 0, "4770 4700 00", 12);
         setLine(f, 1, "   1 4700 00", 12);
       },
       ""},
      {"level column 87", "RDRGDRG", [&](std::string& f) { setLine(f, 484, "4700 4700 87", 12); },
       "RDRGDRG line 485, columns 11-12: level column \"87\" above 86"},
      {"level column 86", "RDRGDRG", [&](std::string& f) { setLine(f, 4, "4700 4700 86", 12); },
       ""},
      {"level column not a number", "RDRGDRG",
       [&](std::string& f) { setLine(f, 4, "4700 4700 x1", 12); }, ""},
      {"row 063", "RDRGCC0", [&](std::string& f) { setLine(f, 16, "ZZZZZ0 0 4700 063", 17); },
       "RDRGCC0 line 17, columns 15-17: row \"063\" outside 1..62"},
      {"row 000", "RDRGCC1", [&](std::string& f) { setLine(f, 0, "ZZZZZ0 0 4700 000", 17); },
       "RDRGCC1 line 1, columns 15-17: row \"000\" outside 1..62"},
      {"row left blank", "RDRGCC8", [&](std::string& f) { setLine(f, 0, "ZZZZZ0 0 4700    ", 17); },
       "RDRGCC8 line 1, columns 15-17: row \"   \" outside 1..62"},
  });
}

// ---------------------------------------------------------------------------

class TempDirectory {
 public:
  TempDirectory() {
    path_ = std::filesystem::temp_directory_path() /
            ("tallow-loader-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(path_ / name, std::ios::binary);
    out << bytes;
  }

 private:
  std::filesystem::path path_;
};

TEST(LoadTablesTest, FromADirectoryOnDisk) {
  const TempDirectory dir;
  TableImages images = InertImages();
  SetCategory(images["DXTAB9"], 1480, 1, 0);
  SetDiagnosisEntry(images["DXTAB9"], 0, 15, 2);
  images["RDRGNEO9"] = "O800 7\n";
  for (const auto& [name, bytes] : images) dir.Write(name, bytes);
  dir.Write("SGMAP1", "Q2950 Q2951\n");

  const auto result = LoadTables(dir.path().string());
  ASSERT_TRUE(result.ok()) << result.message();
  EXPECT_EQ((*result)->diagnosis[1].neonateMark[0], '7');
  EXPECT_TRUE((*result)->codeMap2001.present);
  EXPECT_FALSE((*result)->codeMapJan2001.present);

  std::filesystem::remove(dir.path() / "RDRGCL");
  EXPECT_EQ(LoadTables(dir.path().string()).message(), "RDRGCL: file missing or unreadable");

  std::filesystem::create_directory(dir.path() / "RDRGCL");  // opens, but cannot be read
  const auto unreadable = LoadTables(dir.path().string());
  ASSERT_FALSE(unreadable.ok());
  EXPECT_EQ(unreadable.message().rfind("RDRGCL: ", 0), 0u) << unreadable.message();
}

// ---------------------------------------------------------------------------

TEST(CodeMapFileTest, PairsSortedByFromCode) {
  TableImages images = InertImages();
  images["SGMAPJ1"] =
      "# conversions of January 2001\r\n"
      "Q2950 Q2951\r\n"
      "\r\n"
      "  \t \n"
      "M01\tM0101\n"
      "A1 B\n";
  const auto result = LoadTablesFromImages(images);
  ASSERT_TRUE(result.ok()) << result.message();
  const CodeMapFile& map = (*result)->codeMapJan2001;
  ASSERT_TRUE(map.present);
  ASSERT_EQ(map.pairs.size(), 3u);
  const auto text = [](const RowCode& c) { return std::string(c.data(), c.size()); };
  EXPECT_EQ(text(map.pairs[0].from), "A1   ");
  EXPECT_EQ(text(map.pairs[0].to), "B    ");
  EXPECT_EQ(text(map.pairs[1].from), "M01  ");
  EXPECT_EQ(text(map.pairs[1].to), "M0101");
  EXPECT_EQ(text(map.pairs[2].from), "Q2950");
  EXPECT_FALSE((*result)->codeMap2001.present);
}

TEST(CodeMapFileTest, MalformedLinesAndRepeatedCodes) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"Q2950\n", "SGMAP1 line 1: not a pair FROM TO of codes of up to five characters"},
      {"# x\nQ2950 Q2951 Q2952\n",
       "SGMAP1 line 2: not a pair FROM TO of codes of up to five characters"},
      {"Q29501 Q2951\n", "SGMAP1 line 1: not a pair FROM TO of codes of up to five characters"},
      {"Q2950 Q2951\rX\n", "SGMAP1 line 1: not a pair FROM TO of codes of up to five characters"},
      {"Q2950 A\nM0101 B\nQ2950 C\n",
       "SGMAP1 line 3: from-code Q2950 given twice (first on line 1)"},
      {"", ""},
  };
  for (const auto& c : cases) {
    TableImages images = InertImages();
    images["SGMAP1"] = c.text;
    EXPECT_EQ(LoadFailure(images), c.message) << c.text;
  }
}

}  // namespace
}  // namespace tallow

// Damaged table sets: a valid synthetic set with one file cut short at each
// of its section or line boundaries, or with one count, start, class number,
// list offset, row or column written out of range. Every such set is either
// rejected with a message that names the file and the record or field, or
// loads as the format allows; none may crash the loader (the sanitizer build
// runs these too).
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tables/codes.h"
#include "tables/loader.h"
#include "tables/table_images.h"
#include "toolkit/toolkit.h"

namespace tallow {
namespace {

using testing::Poke8;
using testing::PokeBigEndian16;
using testing::PokeLittleEndian16;
using testing::SetCategory;

const TableImages& Valid() {
  static const TableImages images = SynthTables(61);
  return images;
}

const TableSet& ValidSet() {
  static const std::shared_ptr<const TableSet> set = [] {
    auto loaded = LoadTablesFromImages(Valid());
    if (!loaded.ok()) ADD_FAILURE() << "synthetic set does not load: " << loaded.message();
    return loaded.ok() ? *loaded : std::make_shared<const TableSet>();
  }();
  return *set;
}

// The load message of the valid set with one file replaced; "" when it loads.
std::string LoadWith(const std::string& file, const std::string& bytes) {
  TableImages images = Valid();
  images.at(file) = bytes;
  const auto result = LoadTablesFromImages(images);
  return result.ok() ? std::string() : result.message();
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// Offsets at which each line of a text begins, and the text's size last.
std::vector<std::size_t> LineStarts(const std::string& text) {
  std::vector<std::size_t> starts{0};
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && i + 1 < text.size()) starts.push_back(i + 1);
  }
  starts.push_back(text.size());
  return starts;
}

// Overwrites characters of line `line` (1-based) from column `column` (1-based).
void PutColumns(std::string& text, int line, int column, std::string_view with) {
  const std::size_t start = LineStarts(text).at(static_cast<std::size_t>(line - 1));
  text.replace(start + static_cast<std::size_t>(column - 1), with.size(), with);
}

std::string Trimmed(std::string code) {
  while (!code.empty() && code.back() == ' ') code.pop_back();
  return code;
}

// ---------------------------------------------------------------------------
// Truncation

struct BinaryLayout {
  const char* file;
  std::size_t size;
  std::vector<std::size_t> sections;  // offset of each section
};

const BinaryLayout kBinaryLayouts[] = {
    {"DXTAB8", 56914, {0, 7800, 7800 + 5 * 9210}},
    {"DXTAB9", 57964, {0, 7800, 7800 + 5 * 9420}},
    {"DXTAB0", 72414, {0, 7800, 7800 + 5 * 12310}},
    {"DXTAB1", 72419, {0, 7800, 7800 + 5 * 12311}},
    {"SGTAB8", 19046, {0, 7800, 7800 + 3 * 828}},
    {"SGTAB9", 19062, {0, 7800, 7800 + 3 * 816}},
    {"SGTAB0", 62712, {0, 8040, 14472, 20904}},
    {"DGTAB", 24516, {0, 90}},
    {"DGTAB0", 24884, {0, 90}},
    {"CCTAB0", 29182, {0, 2 * 2390, 3 * 2390, 5 * 2390}},
    {"CCTAB1", 29213, {0, 2 * 2391, 3 * 2391, 5 * 2391}},
    {"CCTAB", 16748, {0, 6 * 1552}},
};

TEST(TruncatedTablesTest, BinaryFilesCutAtEverySectionAndBeforeTheirEnd) {
  ASSERT_TRUE(ValidSet().diagnosis[0].entryCount > 0);
  for (const BinaryLayout& layout : kBinaryLayouts) {
    const std::string& full = Valid().at(layout.file);
    ASSERT_EQ(full.size(), layout.size) << layout.file;
    std::vector<std::size_t> cuts;
    for (std::size_t s : layout.sections) {
      cuts.push_back(s);
      cuts.push_back(s + 1);  // inside the first record of the section
    }
    cuts.push_back(layout.size - 1);
    for (std::size_t cut : cuts) {
      EXPECT_EQ(LoadWith(layout.file, full.substr(0, cut)),
                std::string(layout.file) + ": " + std::to_string(cut) + " bytes, " +
                    std::to_string(layout.size) + " needed")
          << layout.file << " cut at " << cut;
    }
  }
}

struct TextLayout {
  const char* file;
  int lines;  // lines the loader needs
};

const TextLayout kCountedTextFiles[] = {
    {"RDRGCC8", 1969}, {"RDRGCC9", 2007}, {"RDRGCC0", 2420},
    {"RDRGCC1", 2421}, {"RDRGDRG", 485},  {"RDRGCL", 62},
};

// Cut before the first line, at the start of a middle line and of the last
// needed line: rejected with the lines found. Cut inside the last needed line:
// the piece counts as the line, so the load either succeeds or names that
// line and the field the cut spoiled. The whole last line without its line
// feed loads.
TEST(TruncatedTablesTest, CountedTextFilesCutAroundTheirLineCount) {
  for (const TextLayout& layout : kCountedTextFiles) {
    const std::string& full = Valid().at(layout.file);
    const std::vector<std::size_t> starts = LineStarts(full);
    ASSERT_GE(starts.size(), static_cast<std::size_t>(layout.lines + 1)) << layout.file;
    const std::string name = layout.file;
    const std::string needed = " needed";
    const auto missing = [&](int got) {
      return name + ": " + std::to_string(got) + " lines, " + std::to_string(layout.lines) +
             needed;
    };
    EXPECT_EQ(LoadWith(name, ""), missing(0));
    const int middle = layout.lines / 2;
    EXPECT_EQ(LoadWith(name, full.substr(0, starts[static_cast<std::size_t>(middle)])),
              missing(middle));
    const std::size_t last = starts[static_cast<std::size_t>(layout.lines - 1)];
    EXPECT_EQ(LoadWith(name, full.substr(0, last)), missing(layout.lines - 1));

    const std::size_t lastEnd = full.find('\n', last);
    ASSERT_NE(lastEnd, std::string::npos) << name;
    const std::string lineFault = name + " line " + std::to_string(layout.lines) + ", columns ";
    // Every column of a short record line; a few of a level matrix line.
    std::vector<std::size_t> inside;
    for (std::size_t cut = last + 1; cut < lastEnd; ++cut) {
      const std::size_t column = cut - last;
      if (lastEnd - last <= 20 || column == 1 || column == (lastEnd - last) / 2 ||
          cut + 1 == lastEnd) {
        inside.push_back(cut);
      }
    }
    for (std::size_t cut : inside) {
      const std::string message = LoadWith(name, full.substr(0, cut));
      EXPECT_TRUE(message.empty() || StartsWith(message, lineFault))
          << name << " cut at column " << cut - last << ": " << message;
    }
    EXPECT_EQ(LoadWith(name, full.substr(0, lastEnd)), "") << name;
    // A cut inside an earlier line: that piece is the last line read.
    const std::string cutMiddle =
        full.substr(0, starts[static_cast<std::size_t>(middle - 1)] + 3);
    const std::string message = LoadWith(name, cutMiddle);
    EXPECT_TRUE(message == missing(middle) ||
                StartsWith(message, name + " line " + std::to_string(middle) + ", columns "))
        << name << ": " << message;
  }
}

// A neonate mark file is read up to its end: any cut loads, and keeps the
// marks of the lines before the cut and loses those after it; a cut line
// without its line feed is the end of the file and gives no mark.
TEST(TruncatedTablesTest, NeonateMarksCutAnywhereLoseOnlyWhatFollows) {
  const char* const kFiles[4] = {"RDRGNEO8", "RDRGNEO9", "RDRGNEO0", "RDRGNEO1"};
  for (int e = 0; e < kEditionCount; ++e) {
    const std::string& full = Valid().at(kFiles[e]);
    const std::vector<std::size_t> starts = LineStarts(full);
    ASSERT_GT(starts.size(), 4u) << kFiles[e];
    const std::vector<char>& fullMarks = ValidSet().diagnosis[static_cast<std::size_t>(e)].neonateMark;
    std::vector<std::size_t> cuts = {0, starts[1], starts[1] + 3, starts[starts.size() / 2],
                                     starts[starts.size() / 2] + 6, full.size() - 1};
    std::size_t previousMarked = 0;
    for (std::size_t cut : cuts) {
      TableImages images = Valid();
      images.at(kFiles[e]) = full.substr(0, cut);
      const auto loaded = LoadTablesFromImages(images);
      ASSERT_TRUE(loaded.ok()) << kFiles[e] << " cut at " << cut << ": " << loaded.message();
      const std::vector<char>& marks = (*loaded)->diagnosis[static_cast<std::size_t>(e)].neonateMark;
      ASSERT_EQ(marks.size(), fullMarks.size());
      std::size_t marked = 0;
      for (std::size_t i = 0; i < marks.size(); ++i) {
        if (marks[i] == '0') continue;
        ++marked;
        EXPECT_EQ(marks[i], fullMarks[i]) << kFiles[e] << " cut at " << cut << ", entry " << i;
      }
      EXPECT_GE(marked, previousMarked) << kFiles[e] << " cut at " << cut;
      previousMarked = marked;
    }
    // Only the last line's mark is lost when the final line feed is cut.
    std::size_t fullMarked = 0;
    for (char m : fullMarks) fullMarked += m != '0' ? 1 : 0;
    EXPECT_LT(previousMarked, fullMarked) << kFiles[e];
    EXPECT_GE(previousMarked + 2, fullMarked) << kFiles[e];  // a male/female pair shares a line
  }
}

// ---------------------------------------------------------------------------
// Values out of range

struct Damage {
  std::string label;
  std::string file;
  std::function<void(std::string&)> poke;
  std::string message;  // exact, or a prefix when `prefixOnly`
  bool prefixOnly = false;
};

void RunDamages(const std::vector<Damage>& damages) {
  for (const Damage& d : damages) {
    std::string bytes = Valid().at(d.file);
    d.poke(bytes);
    const std::string message = LoadWith(d.file, bytes);
    if (d.prefixOnly) {
      EXPECT_TRUE(StartsWith(message, d.message)) << d.label << ": " << message;
    } else {
      EXPECT_EQ(message, d.message) << d.label;
    }
  }
}

// First and last categories with entries.
template <typename Table>
std::pair<int, int> OccupiedCategories(const Table& table) {
  int first = -1;
  int last = -1;
  for (int c = 0; c < kCategorySlots; ++c) {
    if (table.categoryCount[static_cast<std::size_t>(c)] == 0) continue;
    if (first < 0) first = c;
    last = c;
  }
  return {first, last};
}

template <typename Table>
std::string EntryText(const Table& table, int category, int entry) {
  return Trimmed(CodeText(category, table.entryTail[static_cast<std::size_t>(entry)]));
}

// The faults every category-indexed table must reject, for one file: a count
// above the limit, starts that run past the entries or below 0, class numbers
// outside 1..c (on the first entry of the first category and the last entry
// of the last one).
template <typename Table>
void AddCategoryDamages(const std::string& file, const Table& table, int entries, int entryBytes,
                        int maxCount, int classes, std::vector<Damage>& out) {
  const auto [first, last] = OccupiedCategories(table);
  ASSERT_GE(first, 0) << file;
  const int count = table.categoryCount[static_cast<std::size_t>(first)];
  const int start = table.categoryStart[static_cast<std::size_t>(first)];
  const int lastCount = table.categoryCount[static_cast<std::size_t>(last)];
  const int lastEntry = table.categoryStart[static_cast<std::size_t>(last)] + lastCount - 1;
  const std::string category = " category " + std::to_string(first) + " (" +
                               CodeText(first, 255).substr(0, 3) + "): ";
  const std::string lastCategory = " category " + std::to_string(last) + " (" +
                                   CodeText(last, 255).substr(0, 3) + "): ";
  const auto classAt = [entryBytes](int entry) {
    return 7800 + static_cast<std::size_t>(entry) * static_cast<std::size_t>(entryBytes) + 1;
  };
  if (maxCount < 255) {
    out.push_back({"count above the limit", file,
                   [=](std::string& f) { SetCategory(f, first, maxCount + 1, start); },
                   file + category + "count " + std::to_string(maxCount + 1) + " above " +
                       std::to_string(maxCount)});
  }
  out.push_back({"start at the entry count", file,
                 [=](std::string& f) { SetCategory(f, first, count, entries); },
                 file + category + "start " + std::to_string(entries) + " + count " +
                     std::to_string(count) + " runs past " + std::to_string(entries) + " entries"});
  out.push_back({"last category one entry too far", file,
                 [=](std::string& f) { SetCategory(f, last, lastCount, entries - lastCount + 1); },
                 file + lastCategory + "start " + std::to_string(entries - lastCount + 1) +
                     " + count " + std::to_string(lastCount) + " runs past " +
                     std::to_string(entries) + " entries"});
  out.push_back({"start far beyond", file,
                 [=](std::string& f) { SetCategory(f, first, count, 32767); },
                 file + category + "start 32767 + count " + std::to_string(count) + " runs past " +
                     std::to_string(entries) + " entries"});
  out.push_back({"negative start", file, [=](std::string& f) { SetCategory(f, first, count, -1); },
                 file + category + "start -1 below 0"});
  for (const int bad : {0, -1, classes + 1, 32767}) {
    out.push_back({"class " + std::to_string(bad) + " on the first entry", file,
                   [=](std::string& f) { PokeBigEndian16(f, classAt(start), bad); },
                   file + " entry " + std::to_string(start) + " (" + EntryText(table, first, start) +
                       "): class " + std::to_string(bad) + " outside 1.." +
                       std::to_string(classes)});
  }
  out.push_back({"class beyond on the last entry", file,
                 [=](std::string& f) { PokeBigEndian16(f, classAt(lastEntry), classes + 1); },
                 file + " entry " + std::to_string(lastEntry) + " (" +
                     EntryText(table, last, lastEntry) + "): class " + std::to_string(classes + 1) +
                     " outside 1.." + std::to_string(classes)});
}

TEST(OutOfRangeTablesTest, CategoryIndexedTables) {
  std::vector<Damage> damages;
  const char* const kDx[4] = {"DXTAB8", "DXTAB9", "DXTAB0", "DXTAB1"};
  for (int e = 0; e < kEditionCount; ++e) {
    AddCategoryDamages(kDx[e], ValidSet().diagnosis[static_cast<std::size_t>(e)],
                       kDiagnosisEntries[e], 5, 127, kDiagnosisClasses, damages);
  }
  for (int e = 0; e < 2; ++e) {
    AddCategoryDamages(e == 0 ? "SGTAB8" : "SGTAB9", ValidSet().procedure[static_cast<std::size_t>(e)],
                       kProcedureEntries[e], 3, 255, kProcedureClasses[e], damages);
  }
  RunDamages(damages);
}

TEST(OutOfRangeTablesTest, DrgRuleIndex) {
  std::vector<Damage> damages;
  for (int t = 0; t < 2; ++t) {
    const std::string file = t == 0 ? "DGTAB" : "DGTAB0";
    const int r = kDrgRuleCounts[t];
    const DrgRuleTable& table = ValidSet().drgRules[static_cast<std::size_t>(t)];
    int m = 0;
    while (m < kMdcSlots && table.mdcRuleCount[static_cast<std::size_t>(m)] == 0) ++m;
    ASSERT_LT(m, kMdcSlots) << file;
    const int count = table.mdcRuleCount[static_cast<std::size_t>(m)];
    const std::string mdc = file + " MDC " + std::to_string(m + 1) + ": ";
    const auto at = static_cast<std::size_t>(3 * m);
    const auto runsPast = [&](int start, int n) {
      return mdc + "start " + std::to_string(start) + " + count " + std::to_string(n) +
             " runs past " + std::to_string(r) + " rules";
    };
    for (const int start : {0, -1, -32768}) {
      damages.push_back({"start " + std::to_string(start), file,
                         [=](std::string& f) { PokeBigEndian16(f, at, start); },
                         mdc + "start " + std::to_string(start) + " below 1"});
    }
    damages.push_back({"rules one past the block", file,
                       [=](std::string& f) {
                         PokeBigEndian16(f, at, r - 1);
                         Poke8(f, at + 2, 3);
                       },
                       runsPast(r - 1, 3)});
    damages.push_back({"start beyond the block", file,
                       [=](std::string& f) { PokeBigEndian16(f, at, r + 1); },
                       runsPast(r + 1, count)});
    damages.push_back({"count 255 near the end", file,
                       [=](std::string& f) {
                         PokeBigEndian16(f, at, r - 200);
                         Poke8(f, at + 2, 255);
                       },
                       runsPast(r - 200, 255)});
  }
  RunDamages(damages);
}

TEST(OutOfRangeTablesTest, ExclusionListOffsets) {
  std::vector<Damage> damages;
  struct CcFile {
    std::string name;
    const CcExclusionTable* table;
    int rows;
    int area;
    std::function<void(std::string&, int row, int offset, int items)> setRow;
  };
  const std::vector<CcFile> files = {
      {"CCTAB0", &ValidSet().ccEntry[0], 2390, 17232,
       [](std::string& f, int row, int offset, int items) {
         Poke8(f, 2 * 2390 + static_cast<std::size_t>(row), items);
         PokeLittleEndian16(f, 3 * 2390 + 2 * static_cast<std::size_t>(row), offset);
       }},
      {"CCTAB1", &ValidSet().ccEntry[1], 2391, 17258,
       [](std::string& f, int row, int offset, int items) {
         Poke8(f, 2 * 2391 + static_cast<std::size_t>(row), items);
         PokeLittleEndian16(f, 3 * 2391 + 2 * static_cast<std::size_t>(row), offset);
       }},
      {"CCTAB", &ValidSet().ccRange, 1552, 7436,
       [](std::string& f, int row, int offset, int items) {
         PokeBigEndian16(f, 6 * static_cast<std::size_t>(row) + 3, offset);
         Poke8(f, 6 * static_cast<std::size_t>(row) + 5, items);
       }},
  };
  for (const CcFile& cc : files) {
    // The first and the last row with a list; the sweep writes both.
    int first = -1;
    int last = -1;
    for (int row = 0; row < cc.rows; ++row) {
      if (cc.table->listLength[static_cast<std::size_t>(row)] == 0) continue;
      if (first < 0) first = row;
      last = row;
    }
    ASSERT_GE(first, 0) << cc.name;
    for (const int row : {first, last}) {
      const int items = cc.table->listLength[static_cast<std::size_t>(row)];
      const std::string prefix = cc.name + " row " + std::to_string(row) + ": ";
      const auto pastAt = [&](int offset, int n, int item) {
        return prefix + "list at offset " + std::to_string(offset) + " with " + std::to_string(n) +
               " items runs past the " + std::to_string(cc.area) + "-byte list area at item " +
               std::to_string(item);
      };
      const auto set = cc.setRow;
      damages.push_back({"offset at the area size", cc.name,
                         [=](std::string& f) { set(f, row, cc.area, items); },
                         pastAt(cc.area, items, 1)});
      damages.push_back({"offset 32767", cc.name,
                         [=](std::string& f) { set(f, row, 32767, items); },
                         pastAt(32767, items, 1)});
      damages.push_back({"offset -1", cc.name, [=](std::string& f) { set(f, row, -1, items); },
                         prefix + "list offset -1 below 0"});
      damages.push_back({"offset -32768", cc.name,
                         [=](std::string& f) { set(f, row, -32768, items); },
                         prefix + "list offset -32768 below 0"});
      // 255 items from near the end: the item named is the first that does
      // not fit, counted item by item over the area.
      for (const int start : {cc.area - 40, cc.area - 41}) {
        const std::vector<uint8_t>& area = cc.table->listArea;
        int fit = 0;
        for (int p = start;
             p < cc.area && p + ExclusionItemBytes(area[static_cast<std::size_t>(p)]) <= cc.area;
             p += ExclusionItemBytes(area[static_cast<std::size_t>(p)])) {
          ++fit;
        }
        damages.push_back({"255 items near the end", cc.name,
                           [=](std::string& f) { set(f, row, start, 255); },
                           pastAt(start, 255, fit + 1)});
      }
      // A range item (three bytes) whose range length would stand past the area.
      damages.push_back({"range item in the last two bytes", cc.name,
                         [=](std::string& f) {
                           set(f, row, cc.area - 2, 1);
                           Poke8(f, f.size() - 2, 0x80);
                         },
                         pastAt(cc.area - 2, 1, 1)});
    }
  }
  RunDamages(damages);
}

TEST(OutOfRangeTablesTest, RefinedTextTables) {
  std::vector<Damage> damages;
  const char* const kCc[4] = {"RDRGCC8", "RDRGCC9", "RDRGCC0", "RDRGCC1"};
  for (int e = 0; e < kEditionCount; ++e) {
    const std::string file = kCc[e];
    for (const int line : {1, kRefinedCcRows[e] / 3, kRefinedCcRows[e]}) {
      for (const char* row : {"000", "063", "999", "   ", "6x2", "-01"}) {
        damages.push_back({std::string("row ") + row, file,
                           [=](std::string& f) { PutColumns(f, line, 15, row); },
                           file + " line " + std::to_string(line) + ", columns 15-17: row \"" +
                               row + "\" outside 1..62"});
      }
    }
  }
  for (const int line : {1, 243, 485}) {
    for (const char* drg : {"0000", "4771", "9999", "    ", "47x0", "-470"}) {
      damages.push_back({std::string("DRG value ") + drg, "RDRGDRG",
                         [=](std::string& f) { PutColumns(f, line, 1, drg); },
                         "RDRGDRG line " + std::to_string(line) + ", columns 1-4: DRG value \"" +
                             drg + "\" outside 1..4770"});
    }
    for (const char* column : {"87", "99"}) {
      const std::string field = column;
      damages.push_back({std::string("level column ") + column, "RDRGDRG",
                         [=](std::string& f) { PutColumns(f, line, 11, field); },
                         "RDRGDRG line " + std::to_string(line) + ", columns 11-12: level column \"" +
                             field + "\" above 86"});
    }
  }
  RunDamages(damages);
}

// A neonate line that the merge reads must begin with a capital letter.
TEST(OutOfRangeTablesTest, NeonateLinesWithoutTheirLetter) {
  std::vector<Damage> damages;
  const char* const kNeo[4] = {"RDRGNEO8", "RDRGNEO9", "RDRGNEO0", "RDRGNEO1"};
  for (int e = 0; e < kEditionCount; ++e) {
    const std::string file = kNeo[e];
    const int lines = static_cast<int>(LineStarts(Valid().at(file)).size()) - 1;
    ASSERT_GT(lines, 3) << file;
    for (const int line : {1, lines / 2}) {
      const std::string fault =
          file + " line " + std::to_string(line) + ": does not begin with a capital letter";
      for (const char* letter : {"a", "1", " ", "\x80", "["}) {
        damages.push_back({std::string("letter ") + letter, file,
                           [=](std::string& f) { PutColumns(f, line, 1, letter); }, fault});
      }
      damages.push_back({"empty line inserted", file,
                         [=](std::string& f) {
                           f.insert(LineStarts(f).at(static_cast<std::size_t>(line - 1)), "\n");
                         },
                         fault});
    }
  }
  RunDamages(damages);
}

}  // namespace
}  // namespace tallow

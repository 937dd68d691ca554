// The text tables: the bounded line reader, the fields of RDRGCC, RDRGDRG
// and RDRGCL, and the merge of the neonate marks into the diagnosis tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tables/loader.h"
#include "tables/table_images.h"
#include "tables/text_lines.h"

namespace tallow {
namespace {

using testing::InertImages;
using testing::JoinLines;
using testing::RepeatLine;

struct ReadLine {
  std::string text;
  bool lineFeed;
  bool lastWithoutLineFeed;
  bool hitEnd;
  bool operator==(const ReadLine&) const = default;
};

std::vector<ReadLine> ReadAll(const std::string& bytes, std::size_t limit) {
  TextLineReader reader(bytes, limit);
  std::vector<ReadLine> lines;
  TextLine line;
  while (reader.Next(&line)) {
    lines.push_back(
        {std::string(line.text), line.endedByLineFeed, line.lastWithoutLineFeed, line.hitEnd});
  }
  return lines;
}

TEST(TextLineReaderTest, LineEndsAndLengthLimit) {
  constexpr auto kAny = TextLineReader::kUnbounded;
  const struct {
    const char* label;
    std::string bytes;
    std::size_t limit;
    std::vector<ReadLine> lines;
  } cases[] = {
      {"line feeds", "ab\ncd\n", kAny, {{"ab", true, false, false}, {"cd", true, false, false}}},
      {"CR LF, last line open",
       "ab\r\ncd",
       kAny,
       {{"ab", true, false, false}, {"cd", false, true, true}}},
      {"lone CR is data",
       "a\rb\n\r",
       kAny,
       {{"a\rb", true, false, false}, {"\r", false, true, true}}},
      {"CR CR LF keeps one CR", "a\r\r\n", kAny, {{"a\r", true, false, false}}},
      {"empty lines", "\n\r\n", kAny, {{"", true, false, false}, {"", true, false, false}}},
      {"NUL and Ctrl-Z are data",
       std::string("a\0\x1a\n", 4),
       kAny,
       {{std::string("a\0\x1a", 3), true, false, false}}},
      {"line within the limit",
       "ABCDEF\nX\n",
       7,
       {{"ABCDEF", true, false, false}, {"X", true, false, false}}},
      {"CR LF counts as one character",
       "ABCDEF\r\nX\n",
       7,
       {{"ABCDEF", true, false, false}, {"X", true, false, false}}},
      {"longer line in pieces",
       "ABCDEFGH\n",
       7,
       {{"ABCDEFG", false, false, false}, {"H", true, false, false}}},
      {"piece ends just before CR LF",
       "ABCDEFG\r\nX\n",
       7,
       {{"ABCDEFG", false, false, false}, {"", true, false, false}, {"X", true, false, false}}},
      {"three pieces",
       "ABCDEFGHIJKLMNOP",
       7,
       {{"ABCDEFG", false, false, false},
        {"HIJKLMN", false, false, false},
        {"OP", false, true, true}}},
      {"piece cut at the end of the file", "ABCDEFG", 7, {{"ABCDEFG", false, true, false}}},
      {"empty input", "", 7, {}},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadAll(c.bytes, c.limit), c.lines) << c.label;
}

// Loads the inert set with some text tables replaced.
std::shared_ptr<const TableSet> LoadWith(const TableImages& changes) {
  TableImages images = InertImages();
  for (const auto& [name, bytes] : changes) images[name] = bytes;
  auto result = LoadTablesFromImages(images);
  EXPECT_TRUE(result.ok()) << result.message();
  return result.ok() ? *result : nullptr;
}

std::string Code(const std::array<char, 5>& code) { return std::string(code.data(), 5); }

TEST(RefinedCcTableTest, Fields) {
  const auto set = LoadWith({{"RDRGCC0", JoinLines({
                                             "I21  1 0 1210 001",
                                             "O800 2 1   12 062",
                                             "R500   x 12x4 010",
                                         }) + RepeatLine(testing::kInertRefinedCcLine, 2417)}});
  ASSERT_NE(set, nullptr);
  const auto& rows = set->refinedCc[2].rows;
  EXPECT_EQ(Code(rows[0].code), "I21  ");
  EXPECT_EQ(rows[0].sexCondition, 1);
  EXPECT_EQ(rows[0].statusCondition, 0);
  EXPECT_EQ(rows[0].ccDrg, 1210);
  EXPECT_EQ(rows[0].levelRow, 0);
  EXPECT_EQ(rows[1].sexCondition, 2);
  EXPECT_EQ(rows[1].statusCondition, 1);
  EXPECT_EQ(rows[1].ccDrg, 12);
  EXPECT_EQ(rows[1].levelRow, 61);
  // A blank is the character's code minus '0': neither "either sex" nor a sex code.
  EXPECT_EQ(rows[2].sexCondition, ' ' - '0');
  EXPECT_EQ(rows[2].statusCondition, 'x' - '0');
  EXPECT_EQ(rows[2].ccDrg, -1);
  EXPECT_EQ(rows[2].levelRow, 9);
}

TEST(RefinedCcTableTest, CrLfAndLongLines) {
  {
    const auto set =
        LoadWith({{"RDRGCC8", "I21  1 0 1210 005\r\n" + RepeatLine("ZZZZZ0 0 4700 001\r", 1968)}});
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(Code(set->refinedCc[0].rows[0].code), "I21  ");
    EXPECT_EQ(set->refinedCc[0].rows[0].levelRow, 4);
    EXPECT_EQ(set->refinedCc[0].rows[1968].levelRow, 0);
  }
  {
    // A line of 35 characters is read as an 18-character piece and the rest:
    // two rows from one line, so 1968 lines fill the 1969 rows.
    const auto set = LoadWith({{"RDRGCC8", "I21  1 0 1210 005XZZZZZ0 0 4700 002\n" +
                                               RepeatLine(testing::kInertRefinedCcLine, 1967)}});
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->refinedCc[0].rows[0].levelRow, 4);
    EXPECT_EQ(Code(set->refinedCc[0].rows[1].code), "ZZZZZ");
    EXPECT_EQ(set->refinedCc[0].rows[1].levelRow, 1);
  }
}

// The RDRGDRG text with the given lines first and inert lines after them.
std::string RefinedDrgText(const std::vector<std::string>& lines) {
  return JoinLines(lines) +
         RepeatLine(testing::kInertRefinedDrgLine, 485 - static_cast<int>(lines.size()));
}

TEST(RefinedDrgTableTest, Fields) {
  const auto set = LoadWith({{"RDRGDRG", RefinedDrgText({
                                             "1210 1211 05    M",
                                             "4680 4681100    S",
                                             "0010 0011   ",
                                             "0020 0021 01   ",
                                             "0030 0030 02    M",
                                             "0030 0031 03",
                                             "   1 9999 86    M",
                                         })}});
  ASSERT_NE(set, nullptr);
  const auto& slots = set->refinedDrg.slots;
  const auto& a = slots[1209];
  EXPECT_TRUE(a.filled);
  EXPECT_EQ(a.refinedDrg, 1211);
  EXPECT_FALSE(a.ageSplit);
  EXPECT_EQ(a.levelColumn, 4);
  EXPECT_EQ(a.drgType, 'M');

  const auto& b = slots[4679];
  EXPECT_TRUE(b.ageSplit);
  EXPECT_EQ(b.levelColumn, -1) << "\"00\" is no column";
  EXPECT_EQ(b.drgType, 'S');

  EXPECT_EQ(slots[9].levelColumn, -1) << "blanks are no column";
  EXPECT_EQ(slots[9].drgType, ' ');
  EXPECT_EQ(slots[19].levelColumn, 0);
  EXPECT_EQ(slots[19].drgType, ' ') << "a 15-character line has no column 17";

  // A later line of the same DRG replaces the earlier one.
  EXPECT_EQ(slots[29].refinedDrg, 31);
  EXPECT_EQ(slots[29].levelColumn, 2);
  EXPECT_EQ(slots[29].drgType, ' ');

  EXPECT_EQ(slots[0].levelColumn, 85);
  EXPECT_EQ(slots[0].drgType, 'M');

  // A slot no line names.
  const auto& none = slots[4769];
  EXPECT_FALSE(none.filled);
  EXPECT_EQ(none.refinedDrg, 0);
  EXPECT_FALSE(none.ageSplit);
  EXPECT_EQ(none.levelColumn, -1);
  EXPECT_EQ(none.drgType, ' ');
  EXPECT_TRUE(slots[4699].filled);  // the inert lines
}

TEST(LevelMatrixTest, RowsColumnsAndShortLines) {
  std::vector<std::string> lines(62, std::string(86, '0'));
  lines[0] = "123";
  lines[1] = std::string(85, '1') + "9";
  lines[61] =
      "\xff"
      "A";
  const auto set = LoadWith({{"RDRGCL", JoinLines(lines)}});
  ASSERT_NE(set, nullptr);
  const LevelMatrix& m = set->levelMatrix;
  EXPECT_EQ(m.At(0, 0), '1');
  EXPECT_EQ(m.At(0, 2), '3');
  EXPECT_EQ(m.At(0, 3), '0') << "past the end of a short line";
  EXPECT_EQ(m.At(0, 85), '0');
  EXPECT_EQ(m.lineLength[0], 3);
  EXPECT_EQ(m.At(1, 85), '9');
  EXPECT_EQ(m.lineLength[1], 86);
  EXPECT_EQ(m.At(61, 0), '\xff');
  EXPECT_EQ(m.At(61, 1), 'A');

  // An 88-character line is two lines: 87 characters, then the rest.
  lines[0] = std::string(86, '2') + "34";
  lines.pop_back();
  const auto split = LoadWith({{"RDRGCL", JoinLines(lines)}});
  ASSERT_NE(split, nullptr);
  EXPECT_EQ(split->levelMatrix.At(0, 85), '2');
  EXPECT_EQ(split->levelMatrix.lineLength[0], 86);
  EXPECT_EQ(split->levelMatrix.At(1, 0), '4');
  EXPECT_EQ(split->levelMatrix.At(1, 1), '0');
  EXPECT_EQ(split->levelMatrix.lineLength[1], 1);
  EXPECT_EQ(split->levelMatrix.At(2, 85), '9');
}

// ---------------------------------------------------------------------------
// Neonate marks

// Diagnosis codes of the test table, in table order.
const std::vector<std::string> kCodes = {"A000", "A001", "A00", "O800", "O800", "O801", "Z33"};

struct MergeResult {
  std::string marks;  // one character per code of kCodes
  std::string error;
};

MergeResult Merge(const std::string& neonateFile) {
  TableImages images = InertImages();
  testing::PutDiagnosisCodes(images["DXTAB0"], kCodes);
  images["RDRGNEO0"] = neonateFile;
  const auto result = LoadTablesFromImages(images);
  if (!result.ok()) return {"", result.message()};
  const auto& marks = (*result)->diagnosis[2].neonateMark;
  return {std::string(marks.begin(), marks.begin() + static_cast<long>(kCodes.size())), ""};
}

TEST(NeonateMergeTest, MarksOfTheEntries) {
  const struct {
    const char* label;
    std::string file;
    MergeResult expected;
  } cases[] = {
      {"codes in table order", "A001 3\nO800 5\nZ33  2\n", {"0305502", ""}},
      {"CR LF line ends", "A000 1\r\nO801 4\r\nZ33  2\r\n", {"1000042", ""}},
      {"codes the table lacks are passed over", "A002 9\nB00  9\nO801 4\n", {"0000040", ""}},
      {"last line without its line feed loses its mark", "A001 3\nZ33  2", {"0300000", ""}},
      {"last line cut at the length limit without a line feed", "A001 3\nZ33  2 ", {"0300000", ""}},
      {"four-character code after the three-character one", "A00  4\nA001 3\n", {"0040000", ""}},
      {"piece cut in the middle of the file is a line", "A001 3 Z33  2\n", {"0300002", ""}},
      {"mark column missing reads as a blank", "A001\nO800 5\n", {"0 05500", ""}},
      {"empty file", "", {"0000000", ""}},
      {"lower-case line that is read",
       "A001 3\no800 5\nZ33  2\n",
       {"", "RDRGNEO0 line 2: does not begin with a capital letter"}},
      {"empty line that is read",
       "A001 3\n\nZ33  2\n",
       {"", "RDRGNEO0 line 2: does not begin with a capital letter"}},
      {"bad lines after the last entry is settled are never read",
       "A001 3\nZ33  2\n\nlower\n123456\n",
       {"0300002", ""}},
      {"line cut by the limit, rest is a bad line",
       "A001 3X\nZ33  2\n",
       {"", "RDRGNEO0 line 2: does not begin with a capital letter"}},
  };
  for (const auto& c : cases) {
    const MergeResult got = Merge(c.file);
    EXPECT_EQ(got.error, c.expected.error) << c.label;
    EXPECT_EQ(got.marks, c.expected.marks) << c.label;
  }
}

TEST(NeonateMergeTest, EntriesInNoCategoryKeepZero) {
  TableImages images = InertImages();
  testing::PutDiagnosisCodes(images["DXTAB1"], {"Z33"});
  images["RDRGNEO1"] = "Z33  7\n";
  const auto result = LoadTablesFromImages(images);
  ASSERT_TRUE(result.ok()) << result.message();
  const auto& marks = (*result)->diagnosis[3].neonateMark;
  EXPECT_EQ(marks[0], '7');
  EXPECT_EQ(std::count(marks.begin(), marks.end(), '0'), 12310);
}

}  // namespace
}  // namespace tallow

// Sources built and read back through the loader, and build errors.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/table_fixture.h"
#include "toolkit/toolkit.h"

namespace tallow {
namespace {

using testing::BuildTables;

std::string Code(const DiagnosisTable& t, int entry, int category) {
  return CodeText(category, t.entryTail[static_cast<std::size_t>(entry)]);
}

TEST(BuildTest, DiagnosisEntriesAreGroupedByCategoryInWrittenOrder) {
  auto tables = BuildTables({{"DXTAB8",
                              "class 1 5 3 1 0080000001\n"
                              "class 383 15 0 0 FF00000000\n"
                              "entry O800 383 17   # category O80\n"
                              "entry A01 1\n"
                              "entry O8000 1 16\n"  // stays after O800: written order
                              "entry A010 1\n"
                              "entry A010 383\n"    // male/female pair
                              "entry O80 1\n"}});
  ASSERT_NE(tables, nullptr);
  const DiagnosisTable& t = tables->diagnosis[0];
  EXPECT_EQ(t.entryCount, 9210);
  const int a01 = 1;
  const int o80 = 14 * 100 + 80;
  EXPECT_EQ(t.categoryCount[a01], 3);
  EXPECT_EQ(t.categoryStart[a01], 0);
  EXPECT_EQ(t.categoryCount[o80], 3);
  EXPECT_EQ(t.categoryStart[o80], 3);
  EXPECT_EQ(Code(t, 0, a01), "A01  ");
  EXPECT_EQ(Code(t, 1, a01), "A010 ");
  EXPECT_EQ(Code(t, 2, a01), "A010 ");
  EXPECT_EQ(t.entryClass[1], 1);
  EXPECT_EQ(t.entryClass[2], 383);
  EXPECT_EQ(Code(t, 3, o80), "O800 ");
  EXPECT_EQ(Code(t, 4, o80), "O8000");
  EXPECT_EQ(Code(t, 5, o80), "O80  ");
  EXPECT_EQ(t.entryCcRow[3], 17);
  EXPECT_EQ(t.entryCcRow[4], 16);
  EXPECT_EQ(t.entryCcRow[5], 0);
  EXPECT_EQ(t.categoryCount[2], 0);

  const DiagnosisClass& first = t.classes[0];
  EXPECT_EQ(first.mdc, 5);
  EXPECT_EQ(first.drgKey, 3);
  EXPECT_EQ(first.ccFlag, 1);
  EXPECT_EQ(first.dxMask, (std::array<uint8_t, 5>{0x00, 0x80, 0x00, 0x00, 0x01}));
  EXPECT_EQ(t.classes[382].mdc, 15);
  EXPECT_EQ(t.classes[382].dxMask[0], 0xFF);
  EXPECT_EQ(t.classes[100].mdc, 0);  // unwritten class
}

TEST(BuildTest, ProcedureTablesAndDatedRows) {
  auto tables = BuildTables({
      {"SGTAB9", "class 339 0:01,1:80,25:FF\nentry Q2950 339\nentry Q2951 2\nentry M0101 1\n"},
      {"SGTAB0",
       "row Q2950 20020101 20021231 0:01,20:10\n"
       "row Q2950 20030101 99991231 -\n"
       "row \"AB\\x00\\x00\\x00\" -5 0 -\n"},
  });
  ASSERT_NE(tables, nullptr);
  const ProcedureTable& p = tables->procedure[1];
  EXPECT_EQ(p.entryCount, 816);
  EXPECT_EQ(p.categoryCount[1629], 2);
  EXPECT_EQ(p.categoryStart[1629], 1);  // M01 comes first
  EXPECT_EQ(p.entryTail[1], 0x50);
  EXPECT_EQ(p.entryClass[1], 339);
  EXPECT_EQ(p.classes[338].bytes[0], 0x01);
  EXPECT_EQ(p.classes[338].bytes[1], 0x80);
  EXPECT_EQ(p.classes[338].bytes[25], 0xFF);

  const DatedProcedureTable& d = tables->datedProcedure;
  ASSERT_EQ(d.codes.size(), 1608u);
  EXPECT_EQ(std::string(d.codes[1].data(), 5), "Q2950");
  EXPECT_EQ(d.validFrom[0], 20020101);
  EXPECT_EQ(d.validTo[0], 20021231);
  EXPECT_EQ(d.validFrom[1], 20030101);
  EXPECT_EQ(d.classes[0].bytes[20], 0x10);
  EXPECT_EQ(std::string(d.codes[2].data(), 5), std::string("AB\0\0\0", 5));
  EXPECT_EQ(d.validFrom[2], -5);
  EXPECT_EQ(d.FirstRowOf("Q2950"), 0);
  // Padding rows are zero.
  EXPECT_EQ(d.codes[1607], (RowCode{}));
  EXPECT_EQ(d.validTo[1607], 0);
}

TEST(BuildTest, RulesAreGroupedByMdcWithStartsAndCounts) {
  auto tables = BuildTables({{"DGTAB0",
                              "rule 5 1210 0 1:10\n"
                              "rule 1 4700 0 -\n"
                              "rule 5 468/12 7 4:80,42:01\n"
                              "start 30 9\n"}});
  ASSERT_NE(tables, nullptr);
  const DrgRuleTable& t = tables->drgRules[1];
  EXPECT_EQ(t.rules.size(), 539u);
  EXPECT_EQ(t.mdcRuleStart[0], 1);
  EXPECT_EQ(t.mdcRuleCount[0], 1);
  EXPECT_EQ(t.mdcRuleStart[4], 2);
  EXPECT_EQ(t.mdcRuleCount[4], 2);
  EXPECT_EQ(t.mdcRuleStart[29], 9);
  EXPECT_EQ(t.mdcRuleCount[29], 0);
  EXPECT_EQ(t.mdcRuleStart[1], 0);
  const auto mdc5 = t.RulesOf(5);
  ASSERT_EQ(mdc5.size(), 2u);
  EXPECT_EQ(DrgValueOf(mdc5[0]), 1210);
  EXPECT_EQ(mdc5[0].bytes[1], 0x10);
  EXPECT_EQ(mdc5[1].bytes[0], 7);
  EXPECT_EQ(mdc5[1].bytes[43], 12);
  EXPECT_EQ(mdc5[1].bytes[44] * 256 + mdc5[1].bytes[45], 468);
  EXPECT_EQ(mdc5[1].bytes[4], 0x80);
  EXPECT_EQ(mdc5[1].bytes[42], 0x01);
  EXPECT_TRUE(t.RulesOf(2).empty());
}

TEST(BuildTest, CcListsWithRangesOffsetsAndPadding) {
  auto tables = BuildTables({
      {"CCTAB", "row 10 2 5,20+5 # keys 10..12\nrow 20 0 -\nrow 30 0 300\n"},
      {"CCTAB1", "row 4 7+3\nrow 9 -\nrow 12 7+3 @0\n"},
  });
  ASSERT_NE(tables, nullptr);
  const CcExclusionTable& r = tables->ccRange;
  EXPECT_EQ(r.keyFirst.size(), 1552u);
  EXPECT_EQ(r.keyLast[0], 12);
  EXPECT_EQ(r.listOffset[1], 5);  // after the 2 + 3 bytes of row 0
  EXPECT_EQ(r.listOffset[2], 5);
  EXPECT_EQ(FindCcRow(r, 11), 0);
  EXPECT_EQ(FindCcRow(r, 13), -1);
  EXPECT_EQ(FindCcRow(r, 30), 2);
  EXPECT_EQ(r.keyFirst[3], 32767);  // padding rows: above every key, empty lists
  EXPECT_EQ(r.listLength[1551], 0);
  EXPECT_TRUE(InExclusionList(r, 0, 5));
  EXPECT_TRUE(InExclusionList(r, 0, 25));
  EXPECT_FALSE(InExclusionList(r, 0, 26));
  EXPECT_FALSE(InExclusionList(r, 0, 6));
  EXPECT_TRUE(InExclusionList(r, 2, 300));

  const CcExclusionTable& e = tables->ccEntry[1];
  EXPECT_EQ(e.keyFirst.size(), 2391u);
  EXPECT_EQ(e.listOffset[0], 0);
  EXPECT_EQ(e.listOffset[2], 0);   // shares the list of row 0
  EXPECT_EQ(e.listOffset[1], 3);   // an empty list stands where the next would
  EXPECT_TRUE(InExclusionList(e, 2, 10));
  EXPECT_EQ(FindCcRow(e, 12), 2);
}

TEST(BuildTest, RefinedTextTablesAndTheirPadding) {
  auto tables = BuildTables({
      {"RDRGCC1", "J189 0 0 1210 12\nJ20 2 1 1220 62\n"},
      {"RDRGDRG", "1210 1211 1 5 M\n1220 1220 0 0 -\n"},
      {"RDRGCL", "row 12 0123\nrow 62 \"\"\n"},
      {"DXTAB1", "class 1 15 0 0 0000000000\nentry P073 1\nentry P073 1\nentry P07 1\n"},
      {"RDRGNEO1", "P073 3\n"},
  });
  ASSERT_NE(tables, nullptr);
  const auto& cc = tables->refinedCc[3].rows;
  ASSERT_EQ(cc.size(), 2421u);
  EXPECT_EQ(std::string(cc[0].code.data(), 5), "J189 ");
  EXPECT_EQ(cc[0].ccDrg, 1210);
  EXPECT_EQ(cc[0].levelRow, 11);
  EXPECT_EQ(cc[1].sexCondition, 2);
  EXPECT_EQ(cc[1].statusCondition, 1);
  EXPECT_EQ(cc[1].levelRow, 61);
  EXPECT_GT(std::memcmp(cc[2420].code.data(), "J20  ", 5), 0);  // padding sorts last

  const auto& slots = tables->refinedDrg.slots;
  EXPECT_TRUE(slots[1209].filled);
  EXPECT_EQ(slots[1209].refinedDrg, 1211);
  EXPECT_TRUE(slots[1209].ageSplit);
  EXPECT_EQ(slots[1209].levelColumn, 4);
  EXPECT_EQ(slots[1209].drgType, 'M');
  EXPECT_FALSE(slots[1219].ageSplit);
  EXPECT_EQ(slots[1219].levelColumn, -1);
  EXPECT_EQ(slots[1219].drgType, ' ');
  EXPECT_FALSE(slots[4699].filled);  // padding repeats the last line

  const LevelMatrix& m = tables->levelMatrix;
  EXPECT_EQ(m.At(11, 3), '3');
  EXPECT_EQ(m.lineLength[11], 4);
  EXPECT_EQ(m.lineLength[61], 0);
  EXPECT_EQ(m.lineLength[0], 86);
  EXPECT_EQ(m.At(0, 85), '0');

  const DiagnosisTable& dx = tables->diagnosis[3];
  EXPECT_EQ(dx.neonateMark[0], '3');  // P073, both entries of the pair
  EXPECT_EQ(dx.neonateMark[1], '3');
  EXPECT_EQ(dx.neonateMark[2], '0');  // P07
}

TEST(BuildTest, AnEmptySetIsInertAndLoads) {
  auto tables = BuildTables({});
  ASSERT_NE(tables, nullptr);
  EXPECT_TRUE(tables->refinedDrg.slots[4699].filled);
  EXPECT_EQ(tables->refinedDrg.slots[4699].levelColumn, -1);
  EXPECT_EQ(tables->diagnosis[2].categoryCount[1480], 0);
  EXPECT_TRUE(tables->drgRules[0].RulesOf(1).empty());
}

TEST(BuildTest, TextLayoutsFollowTheColumns) {
  Result<std::string> cc = BuildTableFile("RDRGCC8", "J189 0 0 1210 12\nraw \"A00  1 1 0010 1\"\n");
  ASSERT_TRUE(cc.ok()) << cc.message();
  EXPECT_EQ(cc->substr(0, 34), "J189 0 0 1210 012\nA00  1 1 0010 1\n");
  Result<std::string> drg = BuildTableFile("RDRGDRG", "10 10 A 86 M\n");
  ASSERT_TRUE(drg.ok()) << drg.message();
  EXPECT_EQ(drg->substr(0, 18), "0010 0010A86    M\n");
  Result<std::string> crlf = BuildTableFile("RDRGNEO0", "lineend crlf\nP073 3\nlastline unterminated\nP07 \"#\"\n");
  ASSERT_TRUE(crlf.ok()) << crlf.message();
  EXPECT_EQ(*crlf, "P073 3\r\nP07  #");
}

struct BuildErrorCase {
  const char* name;
  const char* table;
  std::string source;
  const char* message;
};

std::string Repeat(const std::string& line, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += line;
  return s;
}

TEST(BuildTest, ErrorsNameTheSourceLineAndFault) {
  const BuildErrorCase cases[] = {
      {"class out of range", "DXTAB0", "# c\n\nclass 0 5 0 0 0000000000\n",
       "DXTAB0.txt line 3: class 0 outside 1..383"},
      {"entry class out of range", "DXTAB8", "entry A01 384\n",
       "DXTAB8.txt line 1: class 384 outside 1..383"},
      {"malformed code", "DXTAB9", "entry O8x 1\n", "DXTAB9.txt line 1: \"O8x\" is not a valid"},
      {"blank then digit", "DXTAB9", "entry \"A01 5\" 1\n", "is not a valid diagnosis code"},
      {"class twice", "SGTAB8", "class 2 -\nclass 2 0:01\n",
       "SGTAB8.txt line 2: class 2 written twice (first on line 1)"},
      {"mask too short", "DXTAB1", "class 1 1 0 0 00\n", "MASK \"00\" is not 10 hex digits"},
      {"full category", "DXTAB0", Repeat("entry A01 1\n", 128),
       "DXTAB0.txt line 128: category A01 has more than 127 entries"},
      {"too many entries", "SGTAB9", Repeat("entry Q2950 1\n", 255) + Repeat("entry Q3050 1\n", 255) +
                                         Repeat("entry Q3150 1\n", 255) + Repeat("entry Q3250 1\n", 52),
       "SGTAB9.txt line 817: more than 816 entries"},
      {"entries placed past the end", "DXTAB8", "entry A01 1\nstart A01 9210\n",
       "DXTAB8.txt line 2: the 1 entries of category A01 from position 9210 run outside the 9210"},
      {"two entries on one position", "DXTAB8", "entry A01 1\nentry A02 2\nstart A02 0\n",
       "DXTAB8.txt line 2: entry position 0 already holds another entry (line 1)"},
      {"a spare position in a category", "SGTAB8", "entry Q2950 1\nspare 0 000001\n",
       "SGTAB8.txt line 2: spare position 0 belongs to a category"},
      {"a tail that is not hex", "DXTAB8", "entry A01/GG 1\n", "is not CATEGORY/TAIL"},
      {"too many rows", "SGTAB0", Repeat("row Q2950 1 2 -\n", 1609),
       "SGTAB0.txt line 1609: more than 1608 rows"},
      {"byte index", "SGTAB0", "row Q2950 1 2 26:01\n", "BYTES: byte 26 outside 0..25"},
      {"byte twice", "SGTAB8", "class 1 3:01,3:02\n", "BYTES: byte 3 given twice"},
      {"MDC out of range", "DGTAB", "rule 31 10 0 -\n", "DGTAB.txt line 1: MDC 31 outside 1..30"},
      {"rule byte 0", "DGTAB0", "rule 1 10 0 0:01\n", "REQUIRE: byte 0 outside 1..42"},
      {"DRG digit", "DGTAB", "rule 1 468/256 0 -\n", "DRG \"468/256\" is not NUMBER/DIGIT"},
      {"rules placed past the end", "DGTAB", "start 1 531\nrule 1 10 0 -\nrule 1 20 0 -\n",
       "DGTAB.txt line 1: the 2 rules of MDC 1 from rule 531 run outside the 531 rules"},
      {"spare bytes in a list", "CCTAB", "row 1 0 5\nspare 1 07\n",
       "CCTAB.txt line 2: spare byte 1 lies in a list"},
      {"list value", "CCTAB0", "row 1 32768\n", "list item \"32768\" is not V"},
      {"overlapping lists", "CCTAB", "row 1 0 5\nrow 2 0 6 @0\n",
       "CCTAB.txt line 2: the list at offset 0 overlaps a different list"},
      {"list past the area", "CCTAB1", "row 1 5 @17257\n", "does not fit the 17258-byte list area"},
      {"level row", "RDRGCC0", "J189 0 0 1210 63\n", "RDRGCC0.txt line 1: ROW 63 outside 1..62"},
      {"sex digit", "RDRGCC0", "J189 M 0 1210 1\n", "SEX is one digit"},
      {"too many lines", "RDRGCC8", Repeat("J189 0 0 1210 1\n", 1970),
       "RDRGCC8.txt line 1970: more than 1969 lines"},
      {"DRG slot", "RDRGDRG", "0 0 0 0 M\n", "RDRGDRG.txt line 1: DRG 0 outside 1..4770"},
      {"level column", "RDRGDRG", "10 10 0 87 M\n", "COLUMN 87 outside 0..86"},
      {"a row past the lines", "RDRGCL", "lines 1\nrow 2 1\n", "RDRGCL.txt line 2: row 2 past the 1 lines"},
      {"level row twice", "RDRGCL", "row 2 1\nrow 2 2\n", "row 2 written twice"},
      {"a line after the surplus", "RDRGCC8", "surplus \"x\"\nraw \"y\"\n",
       "RDRGCC8.txt line 2: a line after the surplus lines"},
      {"surplus lines of a table read to its end", "RDRGNEO1", "surplus \"P0733 11\"\n",
       "RDRGNEO1.txt line 1: this table has no surplus lines"},
      {"odd surplus bytes", "SGTAB0", "surplus ABC\n", "SGTAB0.txt line 1: BYTES \"ABC\" is not pairs"},
      {"raw in the level matrix", "RDRGCL", "raw \"000\"\n", "unknown record \"raw\""},
      {"unknown record", "DXTAB8", "entries A01 1\n", "DXTAB8.txt line 1: unknown record \"entries\""},
      {"open quote", "RDRGCC9", "raw \"J189\n", "RDRGCC9.txt line 1: quoted text is not closed"},
      {"bad escape", "RDRGCC9", "raw \"\\q\"\n", "unknown escape \\q"},
      {"arity", "DGTAB", "rule 1 10 0\n", "DGTAB.txt line 1: expected rule MDC DRG KEY REQUIRE"},
  };
  for (const BuildErrorCase& c : cases) {
    Result<std::string> built = BuildTableFile(c.table, c.source);
    ASSERT_FALSE(built.ok()) << c.name;
    EXPECT_NE(built.message().find(c.message), std::string::npos)
        << c.name << ": " << built.message();
  }
}

TEST(BuildTest, SetsRejectUnknownNamesAndKeepConversionFiles) {
  EXPECT_FALSE(BuildTableImages({{"DXTAB7", ""}}).ok());
  EXPECT_FALSE(BuildTableImages({{"DXTAB8", ""}, {"DXTAB8.txt", ""}}).ok());
  Result<TableImages> images = BuildTableImages({{"SGMAP1", "Q2950 Q2951\n"}});
  ASSERT_TRUE(images.ok()) << images.message();
  EXPECT_EQ(images->size(), 23u);
  EXPECT_EQ(images->at("SGMAP1"), "Q2950 Q2951\n");
  Result<TableImages> bad = BuildTableImages({{"DGTAB", "rule 0 1 0 -\n"}});
  ASSERT_FALSE(bad.ok());
  EXPECT_NE(bad.message().find("DGTAB.txt line 1: MDC 0 outside 1..30"), std::string::npos);
}

}  // namespace
}  // namespace tallow

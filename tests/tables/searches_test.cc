// Searches over loaded tables: exclusion lists and rows, DRG rules, the
// dated procedure index, edition choice; and the byte order of each field.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tables/branch_free.h"
#include "tables/loader.h"
#include "tables/table_images.h"
#include "toolkit/toolkit.h"

namespace tallow {
namespace {

using testing::InertImages;
using testing::Poke8;
using testing::PokeBigEndian16;
using testing::PokeBytes;
using testing::PokeLittleEndian16;
using testing::PokeLittleEndian32;

std::shared_ptr<const TableSet> Load(const TableImages& images) {
  auto result = LoadTablesFromImages(images);
  EXPECT_TRUE(result.ok()) << result.message();
  return result.ok() ? *result : nullptr;
}

// One row whose list is the given bytes.
CcExclusionTable OneList(std::vector<uint8_t> items, int length) {
  CcExclusionTable table;
  table.keyFirst = {0};
  table.keyLast = {0};
  table.listOffset = {2};
  table.listLength = {static_cast<uint8_t>(length)};
  table.listArea = {0xEE, 0xEE};  // bytes before the list are not part of it
  table.listArea.insert(table.listArea.end(), items.begin(), items.end());
  return table;
}

TEST(ExclusionListTest, Membership) {
  const struct {
    const char* label;
    std::vector<uint8_t> items;
    int length;
    std::vector<int> in;
    std::vector<int> out;
  } cases[] = {
      {"range item 0x80 0x05 0x03", {0x80, 0x05, 0x03}, 1, {5, 6, 7, 8}, {4, 9, -1}},
      {"plain item 0x01 0x2C", {0x01, 0x2C}, 1, {300}, {299, 301, 0x812C}},
      {"items 10 and 20-25", {0x00, 0x0A, 0x80, 0x14, 0x05}, 2, {10, 20, 25}, {9, 11, 19, 26}},
      {"length bounds the walk", {0x00, 0x0A, 0x00, 0x14}, 1, {10}, {20}},
      {"empty list", {0x00, 0x00}, 0, {}, {0}},
      {"largest value with a range", {0xFF, 0xFF, 0x01}, 1, {32767, 32768}, {32766, 32769}},
      // The walk stops at the first item above the number, even when a later
      // item (out of order) would hold it.
      {"stop at the first item above", {0x00, 0x1E, 0x00, 0x05}, 2, {30}, {5}},
  };
  for (const auto& c : cases) {
    const CcExclusionTable table = OneList(c.items, c.length);
    for (int x : c.in) EXPECT_TRUE(InExclusionList(table, 0, x)) << c.label << ": " << x;
    for (int x : c.out) EXPECT_FALSE(InExclusionList(table, 0, x)) << c.label << ": " << x;
  }
  // The loader accepts any offset for an empty list; it is never followed.
  CcExclusionTable empty = OneList({}, 0);
  empty.listOffset = {-2};
  EXPECT_FALSE(InExclusionList(empty, 0, 0));
}

TEST(CcRowTest, RangeKeyedTableReadBigEndian) {
  TableImages images = InertImages();
  std::string& f = images["CCTAB"];
  const auto row = [&](std::size_t r, int first, int span, int offset, int items) {
    PokeBigEndian16(f, r * 6, first);
    Poke8(f, r * 6 + 2, span);
    PokeBigEndian16(f, r * 6 + 3, offset);
    Poke8(f, r * 6 + 5, items);
  };
  row(0, 10, 5, 0x0102, 1);  // 10..15, list at 258
  row(1, 20, 0, 0, 0);       // 20 only
  row(2, 0x0102, 2, 0, 0);   // 258..260
  for (std::size_t r = 3; r < 1551; ++r) row(r, 30000 + static_cast<int>(r), 0, 0, 0);
  row(1551, 32760, 5, 0, 0);
  PokeBytes(f, 1552 * 6 + 0x0102, {0x00, 0x2A});

  const auto set = Load(images);
  ASSERT_NE(set, nullptr);
  const CcExclusionTable& t = set->ccRange;
  EXPECT_EQ(t.keyFirst[2], 258);
  EXPECT_EQ(t.keyLast[0], 15);
  EXPECT_EQ(t.keyLast[1551], 32765);
  EXPECT_EQ(t.listOffset[0], 258);

  const struct {
    int key;
    int row;
  } lookups[] = {{10, 0},       {15, 0},       {9, -1},     {16, -1},   {20, 1},       {21, -1},
                 {258, 2},      {260, 2},      {261, -1},   {30003, 3}, {31550, 1550}, {31551, -1},
                 {32760, 1551}, {32765, 1551}, {32766, -1}, {-5, -1},   {0, -1}};
  for (const auto& l : lookups) EXPECT_EQ(FindCcRow(t, l.key), l.row) << l.key;
  EXPECT_TRUE(InExclusionList(t, 0, 42));
  EXPECT_FALSE(InExclusionList(t, 0, 43));

  // keyFirst + span is held in 16 bits: past 32767 the last key wraps below
  // the first, and the row holds no key at all.
  row(1551, 32767, 5, 0, 0);
  const auto wrapped = Load(images);
  ASSERT_NE(wrapped, nullptr);
  EXPECT_EQ(wrapped->ccRange.keyLast[1551], -32764);
  EXPECT_EQ(FindCcRow(wrapped->ccRange, 32767), -1);
}

TEST(CcRowTest, EntryKeyedTablesReadLittleEndian) {
  TableImages images = InertImages();
  for (const auto& [name, k] : {std::pair<const char*, std::size_t>{"CCTAB0", 2390},
                                std::pair<const char*, std::size_t>{"CCTAB1", 2391}}) {
    std::string& f = images[name];
    for (std::size_t r = 0; r < k; ++r) PokeLittleEndian16(f, 2 * r, 2 * static_cast<int>(r) + 1);
    Poke8(f, 2 * k, 1);                    // row 0: one item
    PokeLittleEndian16(f, 3 * k, 0x0102);  // at offset 258
    PokeBytes(f, 5 * k + 0x0102, {0x80, 0x05, 0x03});
  }
  const auto set = Load(images);
  ASSERT_NE(set, nullptr);
  for (int t = 0; t < 2; ++t) {
    const CcExclusionTable& table = set->ccEntry[static_cast<std::size_t>(t)];
    const int rows = t == 0 ? 2390 : 2391;
    EXPECT_EQ(table.listOffset[0], 258);
    EXPECT_EQ(FindCcRow(table, 1), 0);
    EXPECT_EQ(FindCcRow(table, 2 * rows - 1), rows - 1);
    EXPECT_EQ(FindCcRow(table, 2 * 1000 + 1), 1000);
    for (int absent : {0, 2, 2 * rows, -1}) EXPECT_EQ(FindCcRow(table, absent), -1) << absent;
    EXPECT_TRUE(InExclusionList(table, 0, 8));
    EXPECT_FALSE(InExclusionList(table, 0, 9));
  }
}

TEST(DrgRuleTest, RulesOfAnMdcAndTheirValues) {
  TableImages images = InertImages();
  std::string& f = images["DGTAB"];
  PokeBigEndian16(f, 3 * 4, 3);  // MDC 5: rules 3 and 4
  Poke8(f, 3 * 4 + 2, 2);
  const auto rule = [&](std::size_t k) { return 90 + (k - 1) * 46; };
  PokeBytes(f, rule(3) + 43, {0, 1, 212});
  PokeBytes(f, rule(4) + 43, {0, 1, 214});
  PokeBytes(f, rule(5) + 43, {12, 1, 212});
  PokeBigEndian16(f, 3 * 5, 5);  // MDC 6: rule 5
  Poke8(f, 3 * 5 + 2, 1);
  const auto set = Load(images);
  ASSERT_NE(set, nullptr);
  const DrgRuleTable& t = set->drgRules[0];

  const auto mdc5 = t.RulesOf(5);
  ASSERT_EQ(mdc5.size(), 2u);
  EXPECT_EQ(&mdc5[0], &t.rules[2]);
  EXPECT_EQ(DrgValueOf(mdc5[0]), 4680);
  EXPECT_EQ(DrgValueOf(mdc5[1]), 4700);
  ASSERT_EQ(t.RulesOf(6).size(), 1u);
  EXPECT_EQ(DrgValueOf(t.RulesOf(6)[0]), 4692) << "a digit byte above 9 counts as stored";
  for (int mdc : {0, 1, 30, 31, -1}) EXPECT_TRUE(t.RulesOf(mdc).empty()) << mdc;
  EXPECT_TRUE(set->drgRules[1].RulesOf(5).empty());
}

// The words made at load hold rule bytes 1-42 in the case mask layout, for
// rules of every byte value and for the rules of synthetic sets, and so do
// the words 0 beside the keyed lists.
TEST(DrgRuleTest, RuleWordsHoldTheRequireBytes) {
  TableImages images = InertImages();
  for (const auto& [name, count] : {std::pair{"DGTAB", 531}, std::pair{"DGTAB0", 539}}) {
    std::string& f = images[name];
    for (std::size_t k = 0; k < static_cast<std::size_t>(count); ++k) {
      for (std::size_t j = 0; j < 46; ++j) Poke8(f, 90 + 46 * k + j, static_cast<int>((46 * k + j) * 7 % 256));
    }
  }
  std::vector<std::shared_ptr<const TableSet>> sets = {Load(images)};
  for (uint64_t seed : {3, 4}) sets.push_back(Load(SynthTables(seed)));
  for (const auto& set : sets) {
    ASSERT_NE(set, nullptr);
    for (const DrgRuleTable& t : set->drgRules) {
      ASSERT_EQ(t.walkRules.size(), t.rules.size());
      for (std::size_t i = 0; i < t.rules.size(); ++i) {
        const WalkRule& w = t.walkRules[i];
        ASSERT_EQ(w.words, RequireWordsOf(t.rules[i]));
        for (std::size_t k = 0; k < 48; ++k) {
          const auto byte = static_cast<uint8_t>(w.words[k / 8] >> (8 * (k % 8)));
          ASSERT_EQ(byte, k < 42 ? t.rules[i].bytes[k + 1] : 0) << "rule " << i << " byte " << k;
        }
        ASSERT_EQ(w.conditions & 0xFF, t.rules[i].bytes[2]) << "rule " << i;
        ASSERT_EQ(w.conditions >> 8, t.rules[i].bytes[3]) << "rule " << i;
      }
      // Word 0 beside each keyed list's entries is that of the rule listed.
      ASSERT_EQ(t.keyedWord0.size(), t.keyedRules.size());
      for (int mdc = 1; mdc <= kMdcSlots; ++mdc) {
        const std::span<const DrgRule> rules = t.RulesOf(mdc);
        for (int key = 0; key < 256; ++key) {
          const std::span<const uint8_t> keyed = t.KeyedRulesOf(mdc, static_cast<uint8_t>(key));
          const auto at = static_cast<std::size_t>(keyed.data() - t.keyedRules.data());
          for (std::size_t j = 0; j < keyed.size(); ++j) {
            ASSERT_EQ(t.keyedWord0[at + j], RequireWordsOf(rules[keyed[j]])[0])
                << "MDC " << mdc << " key " << key << " entry " << j;
          }
        }
      }
    }
  }
}

// The CC exclusion row made at load for every diagnosis entry is the row the
// bisection finds for the entry's key, also for CC rows far outside the
// table and for keys of entries outside every category.
TEST(CcExclusionRowTest, RowsMadeAtLoadAreThoseOfTheSearch) {
  std::vector<std::shared_ptr<const TableSet>> sets;
  for (uint64_t seed : {3, 8, 21}) sets.push_back(Load(SynthTables(seed)));
  TableImages odd = SynthTables(5);
  for (const char* name : {"DXTAB8", "DXTAB9"}) {
    for (std::size_t e = 0; e < 9210; ++e) {
      const int row = e % 4 == 0 ? -32768 : e % 4 == 1 ? 32767 : e % 4 == 2 ? -1 : static_cast<int>(e % 1600);
      PokeBigEndian16(odd[name], 7800 + 5 * e + 3, row);
    }
  }
  sets.push_back(Load(odd));
  int rows = 0;
  for (const auto& set : sets) {
    ASSERT_NE(set, nullptr);
    for (int e = 0; e < kEditionCount; ++e) {
      const DiagnosisTable& dx = set->diagnosis[static_cast<std::size_t>(e)];
      const CcExclusionTable& cc = CcExclusionTableOf(*set, static_cast<Edition>(e));
      ASSERT_EQ(dx.entryFacts.size(), dx.entryClass.size());
      for (std::size_t i = 0; i < dx.entryFacts.size(); ++i) {
        const DiagnosisEntryFacts& f = dx.entryFacts[i];
        const int key = e < 2 ? dx.entryCcRow[i] : static_cast<int>(i);
        ASSERT_EQ(f.ccExclusionRow, FindCcRow(cc, key)) << "edition " << e << ", entry " << i;
        ASSERT_EQ(f.classIndex, dx.entryClass[i] - 1) << i;
        ASSERT_EQ(f.ccKey, e < 2 ? dx.entryCcRow[i] : 0) << i;
        rows += f.ccExclusionRow >= 0;
      }
    }
  }
  EXPECT_GT(rows, 1000);
}

// The finders used at load give the bisection's answer for every key, on
// tables in order and out of it (shuffled, overlapping, empty ranges,
// repeated codes of two and three rows, keys anywhere in 16 bits), for keys
// in rising order (as at load), falling and at random.
TEST(RowFinderTest, FindersGiveTheBisectionsAnswer) {
  std::mt19937 random(20261209);
  auto below = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  int found = 0;
  for (int round = 0; round < 300; ++round) {
    const int rows = below(40);
    const int shape = round % 6;  // 0-1 in order, 2 shuffled, 3 overlapping, 4 empty ranges, 5 anywhere
    CcExclusionTable cc;
    RefinedCcTable refined;
    int first = -40 + below(20);
    uint64_t code = 0;
    for (int r = 0; r < rows; ++r) {
      first += 1 + below(shape == 3 ? 2 : 6);
      const int span = shape == 4 && r % 3 == 0 ? -1 - below(3) : below(shape == 3 ? 8 : 4);
      cc.keyFirst.push_back(static_cast<int16_t>(first));
      cc.keyLast.push_back(static_cast<int16_t>(first + span));
      code += static_cast<uint64_t>(below(shape == 4 ? 2 : 3));  // 0: the code again
      refined.keys.push_back(code);
      refined.rows.emplace_back();
    }
    if (shape == 2) {
      std::shuffle(cc.keyFirst.begin(), cc.keyFirst.end(), random);
      std::shuffle(refined.keys.begin(), refined.keys.end(), random);
    }
    std::vector<int> keys;
    for (int k = -45; k < first + 10; ++k) keys.push_back(k);
    if (shape == 5) {
      keys = {-32768, -32767, 32766, 32767};
      for (std::size_t r = 0; r < cc.keyFirst.size(); ++r) {
        const auto end = static_cast<int16_t>(random());
        cc.keyFirst[r] = static_cast<int16_t>(r % 4 == 0 ? std::min<int16_t>(end, -32760) : random());
        cc.keyLast[r] = r % 3 == 0 ? end : static_cast<int16_t>(std::min(32767, cc.keyFirst[r] + below(5)));
        for (int k : {cc.keyFirst[r] - 1, static_cast<int>(cc.keyFirst[r]), static_cast<int>(cc.keyLast[r]),
                      cc.keyLast[r] + 1}) {
          keys.push_back(k);
        }
      }
    }
    std::vector<int> falling(keys.rbegin(), keys.rend());
    std::vector<int> shuffled = keys;
    std::shuffle(shuffled.begin(), shuffled.end(), random);
    // The same table with the row index a load makes.
    CcExclusionTable indexed = cc;
    MakeCcRowIndex(indexed);
    for (const std::vector<int>* order : {&keys, &falling, &shuffled}) {
      CcRowFinder ccRows(cc);
      const CcRowFinder indexedRows(indexed);
      RefinedCcRowFinder refinedRows(refined);
      for (int key : *order) {
        ASSERT_EQ(ccRows.Find(key), FindCcRow(cc, key)) << "round " << round << ", key " << key;
        ASSERT_EQ(indexedRows.Find(key), FindCcRow(cc, key)) << "round " << round << ", key " << key;
        const uint64_t packed = static_cast<uint64_t>(key + 45) / 2;
        ASSERT_EQ(refinedRows.Find(packed), FirstRefinedCcRow(refined, packed))
            << "round " << round << ", code " << packed;
        found += FindCcRow(cc, key) >= 0;
      }
    }
  }
  EXPECT_GT(found, 5000);
}

TEST(FieldDecodingTest, DiagnosisAndProcedureTables) {
  TableImages images = InertImages();
  std::string& dx = images["DXTAB8"];
  testing::SetCategory(dx, 1480, 2, 9208);
  testing::SetDiagnosisEntry(dx, 9208, 15, 383, 0x0102);
  testing::SetDiagnosisEntry(dx, 9209, 15, 1, -2);
  const std::size_t classes = 7800 + 5 * 9210;
  PokeBytes(dx, classes + 382 * 8, {14, 7, 1, 0x80, 0, 0, 0x08, 0xFF});
  PokeBytes(dx, classes, {15, 0, 0, 0, 0, 0, 0, 0});

  std::string& sg = images["SGTAB8"];
  testing::SetCategory(sg, 1629, 1, 827);
  PokeBytes(sg, 7800 + 3 * 827, {0x50, 0x01, 0x51});  // tail 80, class 337
  PokeBytes(sg, 7800 + 3 * 828 + 336 * 26, {0x03, 0xAA});
  PokeBytes(sg, 7800 + 3 * 828 + 336 * 26 + 25, {0x42});

  std::string& dated = images["SGTAB0"];
  std::memcpy(dated.data() + 1607 * 5, "Q2950", 5);
  PokeLittleEndian32(dated, 8040 + 1607 * 4, 20021231);
  PokeLittleEndian32(dated, 14472 + 1607 * 4, 20030101);
  PokeBytes(dated, 20904 + 1607 * 26, {0x01});

  const auto set = Load(images);
  ASSERT_NE(set, nullptr);
  const DiagnosisTable& d = set->diagnosis[0];
  EXPECT_EQ(d.categoryCount[1480], 2);
  EXPECT_EQ(d.categoryStart[1480], 9208);
  EXPECT_EQ(d.entryTail[9208], 15);
  EXPECT_EQ(d.entryCcRow[9208], 258);
  EXPECT_EQ(d.entryCcRow[9209], -2);
  EXPECT_EQ(&d.ClassOf(9208), &d.classes[382]);
  EXPECT_EQ(&d.ClassOf(9209), &d.classes[0]);
  EXPECT_EQ(d.ClassOf(9208).mdc, 14);
  EXPECT_EQ(d.ClassOf(9208).drgKey, 7);
  EXPECT_EQ(d.ClassOf(9208).ccFlag, 1);
  EXPECT_EQ(d.ClassOf(9208).dxMask, (std::array<uint8_t, 5>{0x80, 0, 0, 0x08, 0xFF}));
  EXPECT_EQ(d.ClassOf(9209).mdc, 15);

  const ProcedureTable& p = set->procedure[0];
  EXPECT_EQ(p.entryTail[827], 80);
  EXPECT_EQ(p.entryClass[827], 337);
  EXPECT_EQ(p.ClassOf(827).bytes[0], 0x03);
  EXPECT_EQ(p.ClassOf(827).bytes[1], 0xAA);
  EXPECT_EQ(p.ClassOf(827).bytes[25], 0x42);

  const DatedProcedureTable& s = set->datedProcedure;
  EXPECT_EQ(std::string(s.codes[1607].data(), 5), "Q2950");
  EXPECT_EQ(s.validFrom[1607], 20021231);
  EXPECT_EQ(s.validTo[1607], 20030101);
  EXPECT_EQ(s.classes[1607].bytes[0], 0x01);
  EXPECT_EQ(s.FirstRowOf("Q2950"), 1607);
}

// The row a scan from row 0 finds, comparing like strncmp over five characters.
int ScanFirstRow(const DatedProcedureTable& t, const char* code) {
  for (std::size_t i = 0; i < t.codes.size(); ++i) {
    if (std::strncmp(t.codes[i].data(), code, 5) == 0) return static_cast<int>(i);
  }
  return -1;
}

// How many rows from the scan's first row on hold the code, one after another.
int ScanRunLength(const DatedProcedureTable& t, const char* code) {
  int r = ScanFirstRow(t, code);
  if (r < 0) return 0;
  const int first = r;
  while (r < static_cast<int>(t.codes.size()) && std::strncmp(t.codes[r].data(), code, 5) == 0) ++r;
  return r - first;
}

TEST(DatedProcedureIndexTest, FirstRowEqualsALinearScan) {
  TableImages images = InertImages();
  std::string& f = images["SGTAB0"];
  const std::vector<std::string> rows = {"Q2950",
                                         "Q2950",
                                         "M0101",
                                         "Q2950",  // a code in two separate runs
                                         std::string("AB\0xy", 5),
                                         std::string("AB\0zz", 5),  // equal up to the NUL
                                         "AB   ",
                                         "Q295 ",
                                         "Q2951",
                                         std::string("\0\0\0\0\0", 5),
                                         "\xC0"
                                         "0000"};
  for (std::size_t i = 0; i < rows.size(); ++i)
    std::memcpy(f.data() + 20 + 5 * i, rows[i].data(), 5);
  std::memcpy(f.data() + 5 * 1600, "Q2950", 5);  // rows 0-3 hold NULs
  const auto set = Load(images);
  ASSERT_NE(set, nullptr);
  const DatedProcedureTable& t = set->datedProcedure;

  std::vector<std::string> queries = rows;
  for (const char* extra : {"Q2952", "AB  ", "A    ", "ZZZZZ",
                            "\x7F"
                            "0000"}) {
    queries.push_back((std::string(extra) + "     ").substr(0, 5));
  }
  queries.push_back(std::string("AB\0\0\0", 5));
  queries.push_back(std::string("\0QQQQ", 5));
  for (const std::string& q : queries) {
    EXPECT_EQ(t.FirstRowOf(q.data()), ScanFirstRow(t, q.data())) << q;
    EXPECT_EQ(t.RunOf(q.data()).count, ScanRunLength(t, q.data())) << q;
  }
  EXPECT_EQ(t.FirstRowOf("Q2950"), 4);
  EXPECT_EQ(t.RunOf("Q2950").count, 2);  // rows 4-5: the Q2950 after M0101 is a run of its own
  EXPECT_EQ(t.FirstRowOf(std::string("AB\0qq", 5).data()), 8);
  EXPECT_EQ(t.FirstRowOf(std::string("\0\0\0\0\0", 5).data()), 0);
  EXPECT_EQ(t.FirstRowOf("Q2952"), -1);
}

// The tail searches compare sixteen tails at once where they can; their
// answer must be the scan's, for runs that end at the array's end, runs cut
// inside a block of sixteen, tails that repeat and keys at 0 and 255.
TEST(TailSearchTest, AgreesWithAScanFromTheRunsStart) {
  std::mt19937 random(20261210);
  auto scan = [](const std::vector<uint8_t>& tails, int start, int count, uint8_t key,
                 bool equal) {
    for (int e = start; e < start + count; ++e) {
      if (equal ? tails[e] == key : tails[e] >= key) return e;
    }
    return -1;
  };
  for (int trial = 0; trial < 20000; ++trial) {
    const int size = static_cast<int>(random() % 70);
    std::vector<uint8_t> tails(static_cast<std::size_t>(size));
    // Few distinct values, so that keys are often present, sometimes twice.
    const unsigned spread = trial % 2 == 0 ? 6 : 256;
    for (uint8_t& t : tails) t = static_cast<uint8_t>(random() % spread * (256 / spread));
    if (trial % 3 == 0) std::sort(tails.begin(), tails.end());
    const int start = size == 0 ? 0 : static_cast<int>(random() % static_cast<unsigned>(size + 1));
    const int count = static_cast<int>(random() % static_cast<unsigned>(size - start + 1));
    const auto key = static_cast<uint8_t>(trial % 5 == 0 ? (trial % 2 ? 255 : 0)
                                                          : random() % spread * (256 / spread));
    const uint8_t* data = tails.data();
    const auto n = tails.size();
    ASSERT_EQ(FirstTail<TailMatch::kEqual>(data, n, start, count, key),
              scan(tails, start, count, key, true))
        << "size " << size << " start " << start << " count " << count << " key " << int{key};
    ASSERT_EQ(FirstTail<TailMatch::kAtLeast>(data, n, start, count, key),
              scan(tails, start, count, key, false))
        << "size " << size << " start " << start << " count " << count << " key " << int{key};
  }
}

// The halving without branches must give std::lower_bound's index for
// every key, present or not, in lists of every length up to 70, with and
// without repeated values.
TEST(LowerBoundTest, AgreesWithTheLibrarysLowerBound) {
  std::mt19937 random(7);
  for (int size = 0; size <= 70; ++size) {
    for (const unsigned spread : {3u, 1000u}) {
      std::vector<int> values(static_cast<std::size_t>(size));
      for (int& v : values) v = static_cast<int>(random() % spread) * 2;
      std::sort(values.begin(), values.end());
      for (int key = -1; key <= static_cast<int>(spread) * 2; ++key) {
        const auto expected =
            static_cast<std::size_t>(std::lower_bound(values.begin(), values.end(), key) -
                                     values.begin());
        ASSERT_EQ(LowerBoundWithoutBranches(values.size(),
                                            [&](std::size_t k) { return values[k] < key; }),
                  expected)
            << "size " << size << " key " << key;
      }
    }
  }
}

TEST(EditionTest, CaseDatesSelectTheirEdition) {
  const struct {
    const char* date;
    Edition edition;
  } cases[] = {
      {"19990131", Edition::k8},
      {"19990201", Edition::k9},
      {"20011231", Edition::k9},
      {"20020101", Edition::k0},
      {"20021231", Edition::k0},
      {"20030101", Edition::k1},
      {"20991231", Edition::k1},
      {"        ", Edition::k8},
      {"A0000000", Edition::k1},
      {"\xC9"
       "9990101",
       Edition::k1},
      {"1999020", Edition::k8},  // NUL at position 7
  };
  for (const auto& c : cases) EXPECT_EQ(EditionOf(c.date), c.edition) << c.date;
}

TEST(EditionTest, ViewRefersToTheTablesOfTheEdition) {
  const auto set = Load(InertImages());
  ASSERT_NE(set, nullptr);
  const struct {
    const char* date;
    int e;
    const ProcedureTable* procedure;
    int rules;
  } cases[] = {
      {"19980101", 0, &set->procedure[0], 0},
      {"20000101", 1, &set->procedure[1], 0},
      {"20020601", 2, nullptr, 1},
      {"20040101", 3, nullptr, 1},
  };
  for (const auto& c : cases) {
    const EditionView v = SelectEdition(*set, c.date);
    const auto e = static_cast<std::size_t>(c.e);
    EXPECT_EQ(static_cast<int>(v.edition), c.e);
    EXPECT_EQ(v.diagnosis, &set->diagnosis[e]) << c.date;
    EXPECT_EQ(v.procedure, c.procedure) << c.date;
    EXPECT_EQ(v.datedProcedure, &set->datedProcedure) << c.date;
    EXPECT_EQ(v.drgRules, &set->drgRules[static_cast<std::size_t>(c.rules)]) << c.date;
    EXPECT_EQ(v.refinedCc, &set->refinedCc[e]) << c.date;
  }
}

}  // namespace
}  // namespace tallow

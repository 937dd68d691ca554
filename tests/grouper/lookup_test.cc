#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "grouper/test_case.h"
#include "support/table_fixture.h"
#include "tables/loader.h"
#include "tables/table_images.h"
#include "toolkit/toolkit.h"

namespace tallow {
namespace {

using testing::BuildTables;
using testing::TestCase;

// Each entry has its own class, so the class number names the entry found.
// J189 stands before J180: out of tail order.
constexpr char kDiagnoses[] =
    "class 1 5 0 0 0000000000\nclass 2 5 0 0 0000000000\nclass 3 5 0 0 0000000000\n"
    "class 4 5 0 0 0000000000\nclass 5 5 0 0 0000000000\nclass 6 5 0 0 0000000000\n"
    "entry I210 1\nentry I211 2\nentry I211 3\nentry I21 4\nentry J189 5\nentry J180 6\n";

constexpr char kProcedures[] = "class 1 0:01\nclass 2 0:02\nclass 3 0:03\n"
                               "entry M0101 1\nentry M0103 1\nentry Q2950 2\nentry Q2960 3\n";

// Rows 0-1: adjacent spans; 2-3: overlapping spans; 5: a later run of M0101;
// 6: a span that would hold the number of a date that is no number.
constexpr char kDatedProcedures[] =
    "row Q2950 20020101 20021231 1:01\n"
    "row Q2950 20030101 20991231 1:02\n"
    "row M0101 20020101 20020630 1:04\n"
    "row M0101 20020601 20021231 1:08\n"
    "row M0103 20020101 20991231 -\n"
    "row M0101 20030101 20991231 1:10\n"
    "row Q2970 -1 20991231 -\n";

class LookupTest : public ::testing::Test {
 protected:
  std::shared_ptr<const TableSet> tables_ = BuildTables({
      {"DXTAB9", kDiagnoses}, {"DXTAB0", kDiagnoses}, {"SGTAB8", kProcedures},
      {"SGTAB9", kProcedures}, {"SGTAB0", kDatedProcedures}});

  // The class number of the entry a diagnosis resolves to; 0 for -1, -2 stays.
  int DiagnosisClass(const char* date, const char* code, int sex = 1) {
    TestCase t(tables_, date);
    t.s.sex = static_cast<int16_t>(sex);
    t.Diagnoses({code});
    t.LookUp();
    const int e = t.s.diagnosisEntry[0];
    return e < 0 ? (e == -1 ? 0 : e) : t.s.active.diagnosis->entryClass[e];
  }

  int Procedure(const char* date, const char* code, int mdc = 24, int finalDrg = 4700) {
    TestCase t(tables_, date);
    t.Procedures({code});
    PrepareCaseCodes(t.s);
    t.s.mdc = mdc;
    t.s.finalDrg = finalDrg;
    return LookupProcedure(t.s, 0);
  }
};

TEST_F(LookupTest, Diagnoses) {
  ASSERT_NE(tables_, nullptr);
  struct Case {
    const char* name;
    const char* date;
    const char* code;
    int sex;
    int expected;  // class number; 0 not found; -2 blank
  } cases[] = {
      {"four characters", "20010101", "I210", 1, 1},
      {"three characters", "20010101", "I21", 1, 4},
      {"pair, male", "20010101", "I211", 1, 2},
      {"pair, female", "20010101", "I211", 2, 3},
      {"single entry serves female", "20010101", "I210", 2, 1},
      {"pair, female, dated tables", "20020101", "I211", 2, 3},
      {"absent tail", "20010101", "I219", 1, 0},
      {"absent category", "20010101", "K21", 1, 0},
      {"five blanks", "20010101", "     ", 1, -2},
      {"zeros", "20010101", "00000", 1, -2},
      {"lower case", "20010101", "i210", 1, 0},
      {"digit first", "20010101", "1210", 1, 0},
      {"blank in position 1", "20010101", "I 10", 1, 0},
      {"blank then digit", "20010101", "I21 0", 1, 0},
      {"out of order, sorted search misses", "20011231", "J180", 1, 0},
      {"out of order, plain search finds", "20020101", "J180", 1, 6},
      {"out of order, key before it", "20011231", "J189", 1, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DiagnosisClass(c.date, c.code, c.sex), c.expected);
  }
}

TEST_F(LookupTest, FindDiagnosisEntryHasNoBlankTestAndNoFemaleVariant) {
  ASSERT_NE(tables_, nullptr);
  TestCase t(tables_, "20010101");
  t.s.sex = 2;
  const auto& dx = *t.s.active.diagnosis;
  EXPECT_EQ(dx.entryClass[FindDiagnosisEntry(t.s, "I211 ")], 2);
  EXPECT_EQ(dx.entryClass[FindDiagnosisEntry(t.s, "J180 ")], 6);  // found out of order too
  EXPECT_EQ(FindDiagnosisEntry(t.s, "     "), -1);
  EXPECT_EQ(FindDiagnosisEntry(t.s, "I21 0"), -1);
}

TEST_F(LookupTest, ProceduresByCategory) {
  ASSERT_NE(tables_, nullptr);
  EXPECT_EQ(Procedure("20010101", "Q2950"), 2);
  EXPECT_EQ(Procedure("19980101", "Q2960"), 3);
  EXPECT_EQ(Procedure("20010101", "Q2955"), -1);
  EXPECT_EQ(Procedure("20010101", "Q29 5"), -1);  // decodes, but absent
  EXPECT_EQ(Procedure("20010101", "q2950"), -1);
  EXPECT_EQ(Procedure("20010101", "00000"), -2);
  EXPECT_EQ(Procedure("20010101", "     "), -2);
  TestCase t(tables_, "20010101");
  EXPECT_EQ(ProcedureClassOf(t.s, 3).bytes[0], 0x03);  // entry 3 (Q2960) has class 3
}

TEST_F(LookupTest, CodesDroppedAfterAnUnrelatedProcedureOutcome) {
  ASSERT_NE(tables_, nullptr);
  EXPECT_EQ(Procedure("20010315", "M0101", 14, 4680), -2);
  EXPECT_EQ(Procedure("20010315", "M0103", 14, 4680), -2);
  EXPECT_EQ(Procedure("20010315", "Q2950", 14, 4680), -2);
  EXPECT_EQ(Procedure("20010315", "Q2960", 14, 4680), 3);
  EXPECT_EQ(Procedure("19980401", "M0101", 14, 4680), -2);
  EXPECT_EQ(Procedure("19980331", "M0101", 14, 4680), 0);
  EXPECT_EQ(Procedure("20010315", "M0101", 14, 4700), 0);
  EXPECT_EQ(Procedure("20010315", "M0101", 5, 4680), 0);
  EXPECT_EQ(Procedure("20020315", "M0101", 14, 4680), 2);
}

TEST_F(LookupTest, DatedRows) {
  ASSERT_NE(tables_, nullptr);
  struct Case {
    const char* date;
    const char* code;
    int row;
  } cases[] = {
      {"20020101", "Q2950", 0}, {"20021231", "Q2950", 0}, {"20030101", "Q2950", 1},
      {"20020615", "M0101", 2},  // both spans hold it: the first row wins
      {"20020701", "M0101", 3}, {"20030101", "M0101", -1},  // the later run is never reached
      {"20020315", "M0103", 4}, {"20020315", "Q2960", -1},   {"2002031x", "Q2950", -1},
      {"2002031x", "Q2970", -1}, {"20020315", "Q2970", 6},
      {"20020315", "     ", -2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.date) + " " + c.code);
    EXPECT_EQ(Procedure(c.date, c.code), c.row);
  }
  TestCase t(tables_, "20030101");
  EXPECT_EQ(ProcedureClassOf(t.s, 1).bytes[1], 0x02);
}

// The first row of a code by a scan from row 0, or -1.
int ScanFirstRow(const DatedProcedureTable& t, const char* code) {
  for (std::size_t r = 0; r < t.codes.size(); ++r) {
    if (std::strncmp(t.codes[r].data(), code, 5) == 0) return static_cast<int>(r);
  }
  return -1;
}

// The dated-row search by a linear scan from row 0, as the rows are laid out.
int ScanDatedRows(const DatedProcedureTable& t, const char* code, int date) {
  const int rows = static_cast<int>(t.codes.size());
  int r = ScanFirstRow(t, code);
  for (; r >= 0 && r < rows && std::strncmp(t.codes[r].data(), code, 5) == 0; ++r) {
    if (t.validFrom[r] <= date && date <= t.validTo[r]) return r;
  }
  return -1;
}

// The synthetic set of a seed, loaded; null (and a failure) when it is not.
std::shared_ptr<const TableSet> LoadedSynth(uint64_t seed) {
  const TableImages images = SynthTables(seed);
  EXPECT_FALSE(images.empty());
  auto tables = LoadTablesFromImages(images);
  EXPECT_TRUE(tables.ok()) << tables.message();
  return tables.ok() ? *tables : nullptr;
}

TEST(DatedLookup, IndexedSearchAgreesWithAScanOnSyntheticSets) {
  for (uint64_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    const std::shared_ptr<const TableSet> tables = LoadedSynth(seed);
    ASSERT_NE(tables, nullptr);
    const DatedProcedureTable& t = tables->datedProcedure;
    int compared = 0;
    for (std::size_t r = 0; r < t.codes.size(); ++r) {
      for (int date : {t.validFrom[r], t.validTo[r], t.validFrom[r] - 1, t.validTo[r] + 1}) {
        if (date < 20020101 || date > 99991231) continue;
        char text[9] = {};
        FormatDigits(date, text, 8);
        TestCase c(tables, text);
        c.Procedures({"X"});
        std::memcpy(c.s.procedureWork[0].code, t.codes[r].data(), 5);
        ASSERT_EQ(LookupProcedure(c.s, 0), ScanDatedRows(t, c.s.procedureWork[0].code, date))
            << std::string(t.codes[r].data(), 5) << " " << text;
        ++compared;
      }
    }
    EXPECT_GT(compared, 1000);
  }
}

// Every row code and codes beside it (other last characters, other
// categories, malformed and short codes): the hash of first rows, and the
// search narrowed by category that stands in without it, find what the scan
// finds.
// The set with the rows of SGTAB0 in reverse order, in every section: the
// loader then sorts its index of first rows itself.
std::shared_ptr<const TableSet> LoadedSynthReversed(uint64_t seed) {
  TableImages images = SynthTables(seed);
  std::string& file = images.at("SGTAB0");
  const FileFormat* format = FindFileFormat("SGTAB0");
  EXPECT_NE(format, nullptr);
  if (format == nullptr) return nullptr;
  for (const SectionLayout& section : format->Sections()) {
    const auto size = static_cast<std::size_t>(section.recordBytes);
    for (int i = 0, j = section.records - 1; i < j; ++i, --j) {
      std::swap_ranges(file.begin() + static_cast<std::ptrdiff_t>(section.RecordOffset(i)),
                       file.begin() + static_cast<std::ptrdiff_t>(section.RecordOffset(i) + size),
                       file.begin() + static_cast<std::ptrdiff_t>(section.RecordOffset(j)));
    }
  }
  auto tables = LoadTablesFromImages(images);
  EXPECT_TRUE(tables.ok()) << tables.message();
  return tables.ok() ? *tables : nullptr;
}

TEST(DatedLookup, FirstRowByHashAndByCategoryAgreeWithAScanOnSyntheticSets) {
  for (uint64_t seed : {1u, 4u, 5u, 6u}) {
    SCOPED_TRACE(seed);
    // One set in the order built, one with its rows reversed.
    const std::shared_ptr<const TableSet> tables =
        seed == 6u ? LoadedSynthReversed(1) : LoadedSynth(seed);
    ASSERT_NE(tables, nullptr);
    const DatedProcedureTable& t = tables->datedProcedure;
    ASSERT_EQ(t.categoryFirst.size(), static_cast<std::size_t>(kCategorySlots + 1));
    ASSERT_FALSE(t.runIndex.empty());
    DatedProcedureTable byCategory = t;
    byCategory.runIndex.clear();
    int found = 0;
    int absent = 0;
    for (const RowCode& row : t.codes) {
      for (int at : {-1, 4, 2, 0}) {
        for (char c : {'\0', ' ', '5', 'Z'}) {
          char code[6] = {};
          std::memcpy(code, row.data(), 5);
          if (at >= 0) code[at] = c;
          const int expected = ScanFirstRow(t, code);
          ASSERT_EQ(t.FirstRowOf(code), expected) << std::string(code, 5);
          ASSERT_EQ(byCategory.FirstRowOf(code), expected) << std::string(code, 5);
          ++(expected >= 0 ? found : absent);
          if (at < 0) break;
        }
      }
    }
    EXPECT_GT(found, 1000);
    EXPECT_GT(absent, 1000);
  }
}

// A synthetic set whose categories of DXTAB0 and SGTAB8 all hold the same
// first entries: far more codes than entries.
std::shared_ptr<const TableSet> LoadedSharingCategories() {
  TableImages images = SynthTables(1);
  for (int c = 0; c < kCategorySlots; ++c) {
    testing::SetCategory(images.at("DXTAB0"), c, 127, 0);
    testing::SetCategory(images.at("SGTAB8"), c, 255, 0);
  }
  auto tables = LoadTablesFromImages(images);
  EXPECT_TRUE(tables.ok()) << tables.message();
  return tables.ok() ? *tables : nullptr;
}

// The code indexes made at load and the one walk of a diagnosis lookup
// stand for the searches: over every code of each category a table holds
// (and of a few it does not), both sexes and every edition, the lookups give
// the entries of the plain searches. One set holds tails out of order and
// codes held twice, one has categories that share their entries.
TEST(CodeIndexTest, LookupsByIndexFindWhatTheSearchesFind) {
  constexpr char kOutOfOrder[] =
      "class 1 5 0 0 0000000000\nclass 2 5 0 0 0000000000\nclass 3 5 0 0 0000000000\n"
      "entry K409 1\nentry K409 2\nentry K401 3\nentry K40 1\nentry K405 2\nentry K407 3\n"
      "entry K407 1\nentry I211 2\nentry I211 3\nentry I21 1\nentry J189 2\nentry J180 3\n";
  constexpr char kOutOfOrderProcedures[] = "class 1 0:01\nclass 2 0:02\n"
                                           "entry M0109 1\nentry M0101 2\nentry M010 1\nentry M0105 2\n";
  const std::map<std::string, std::string> fixture = {
      {"DXTAB8", kOutOfOrder}, {"DXTAB9", kOutOfOrder}, {"DXTAB0", kOutOfOrder},
      {"DXTAB1", kOutOfOrder}, {"SGTAB8", kOutOfOrderProcedures}, {"SGTAB9", kOutOfOrderProcedures},
      {"SGTAB0", kDatedProcedures}};
  for (int set = 0; set < 4; ++set) {
    SCOPED_TRACE(set);
    auto load = [&] {
      if (set == 3) return LoadedSharingCategories();
      return set == 0 ? BuildTables(fixture) : LoadedSynth(static_cast<uint64_t>(set));
    };
    const std::shared_ptr<const TableSet> indexed = load();
    const std::shared_ptr<const TableSet> searched = load();
    ASSERT_NE(indexed, nullptr);
    ASSERT_NE(searched, nullptr);
    auto& plain = const_cast<TableSet&>(*searched);  // loaded for this test alone
    for (ProcedureTable& t : plain.procedure) {
      ASSERT_FALSE(t.codeIndex.empty());
      t.codeIndex.clear();
    }
    plain.datedProcedure.runIndex.clear();

    // Categories with entries in some table, and every tenth of the others;
    // every thirteenth where all categories share their entries.
    std::vector<int> categories;
    for (int c = 0; c < kCategorySlots; ++c) {
      bool held = c % 10 == 0;
      if (set == 3) {
        if (c % 13 == 0) categories.push_back(c);
        continue;
      }
      for (const DiagnosisTable& t : indexed->diagnosis) held = held || t.categoryCount[c] != 0;
      for (const ProcedureTable& t : indexed->procedure) held = held || t.categoryCount[c] != 0;
      if (held) categories.push_back(c);
    }
    const char kHalves[] = "0123456789 x";
    int found = 0;
    for (const char* date : {"19980101", "20010101", "20020601", "20030101"}) {
      for (const int16_t sex : {1, 2}) {
        TestCase a(indexed, date);
        TestCase b(searched, date);
        a.s.sex = b.s.sex = sex;
        const DiagnosisTable& dx = *a.s.active.diagnosis;
        const bool beforeDated = std::strcmp(date, "20020101") < 0;
        auto same = [&](const char* code) {
          const int e = LookupDiagnosisCode(a.s, code);
          ASSERT_EQ(e, SearchDiagnosisTable(dx, code, beforeDated, sex == 2)) << code << " " << date << " " << sex;
          ASSERT_EQ(FindDiagnosisEntry(a.s, code), FirstDiagnosisEntryOf(dx, code)) << code;
          // The walk both before the dated tables and from them on.
          for (const bool before : {false, true}) {
            const DiagnosisFound f = FindDiagnosisCode(dx, code, before, sex == 2);
            ASSERT_EQ(f.caseEntry, SearchDiagnosisTable(dx, code, before, sex == 2)) << code << " " << before;
            ASSERT_EQ(f.firstEntry, FirstDiagnosisEntryOf(dx, code)) << code;
          }
          const int p = LookupProcedureCode(a.s, code);
          ASSERT_EQ(p, LookupProcedureCode(b.s, code)) << code << " " << date;
          found += (e >= 0) + (p >= 0);
        };
        for (const int c : categories) {
          for (const char high : kHalves) {
            for (const char low : kHalves) {
              const std::string code = CodeText(c, 0).substr(0, 3) + high + low;
              ASSERT_NO_FATAL_FAILURE(same(code.c_str()));
            }
          }
        }
        for (const char* code : {"     ", "00000", "k4090", "K4\0 9", "\0\0\0\0\0", "M01\0\0"}) {
          ASSERT_NO_FATAL_FAILURE(same(code));
        }
      }
    }
    EXPECT_GT(found, set == 0 ? 40 : 10000);
  }
}

}  // namespace
}  // namespace tallow

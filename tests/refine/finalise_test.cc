// DRG finalisation: re-mapping, refined DRG, severity level and the
// per-diagnosis levels, and the newborn path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "refine/finalise.h"
#include "refine/newborn.h"
#include "refine/refine.h"
#include "refine_case.h"

namespace tallow {
namespace {

using testing::AddToEveryEdition;
using testing::MatrixRow;
using testing::RefineCase;

// Classes: 1 MDC 4; 2 MDC 5; 3 MDC 5 with byte 3 bit 0x80; 4 MDC 1 with byte
// 4 bit 0x08; 5 MDC 15; 6 MDC 14; 7 MDC 18.
constexpr char kDiagnoses[] = R"(
class 1 4 0 0 0000000000
class 2 5 0 0 0000000000
class 3 5 0 0 8000000000
class 4 1 0 0 0008000000
class 5 15 0 0 0000000000
class 6 14 0 0 0000000000
class 7 18 0 0 0000000000
entry D649 7
entry E119 7
entry E46 7
entry E871 7
entry G450 4
entry G451 7
entry I10 7
entry I214 2
entry I219 2
entry I500 3
entry J189 1
entry K590 7
entry N179 7
entry O800 6
entry O990 7
entry O994 7
entry P073 5
entry P220 5
entry P599 5
entry R500 7
entry R501 7
entry R502 7
entry R509 7
)";

// Matrix rows 1-3 hold the levels '1'-'3' in every column; row 4 is patched
// to bytes above 0x7F where a test needs them.
constexpr char kRefinedCc[] = R"(
D649 0 1 1000 2
E119 0 0 1000 2
E46 0 0 1000 4
E871 0 0 1000 3
I10 0 0 1000 2
I214 0 0 1210 3
I219 0 0 1210 4
I500 0 0 1000 2
J189 0 0 1000 1
K590 2 0 1000 3
K590 0 0 1000 1
N179 0 0 1000 1
O990 0 0 1000 2
O994 0 0 1000 3
)";

constexpr char kRefinedDrg[] = R"(
10 10 0 1 -
20 20 0 1 -
570 570 0 1 -
590 590 0 1 -
880 880 0 0 -
1000 1000 0 2 -
1210 1210 0 3 -
1220 1210 0 3 -
1240 1250 0 3 -
1260 1240 0 3 -
1590 1590 0 1 -
1610 1610 0 1 -
2230 2230 0 1 -
2240 2240 0 1 -
2280 2280 0 1 -
2290 2290 0 1 -
3230 3230 0 1 -
3240 3240 0 1 -
3720 3720 0 1 -
4190 4190 0 1 -
4210 4210 0 1 -
890 890 0 1 M
)";

std::map<std::string, std::string> Sources() {
  std::map<std::string, std::string> sources;
  AddToEveryEdition(sources, "DXTAB", kDiagnoses);
  AddToEveryEdition(sources, "RDRGCC", kRefinedCc);
  AddToEveryEdition(sources, "RDRGNEO", "P073 3\nP220 2\nP599 2\n");
  sources["RDRGDRG"] = kRefinedDrg;
  sources["RDRGCL"] = MatrixRow(1, '1') + MatrixRow(2, '2') + MatrixRow(3, '3');
  sources["SGTAB9"] = "class 1 4:08\nentry P0004 1\n";
  sources["SGTAB0"] =
      "row P0004 20020101 20031231 4:08\n"
      "row P0005 20020101 20031231 4:04\n"
      "row P0010 20020101 20031231 10:08\n"
      "row P0011 20020101 20031231 11:20\n";
  return sources;
}

// Level matrix row 4 and the neonate mark of P599 become the byte 0x90.
std::shared_ptr<const TableSet> HighByteTables() {
  TableImages images = testing::BuildImages(Sources());
  std::string& matrix = images["RDRGCL"];
  std::size_t start = 0;
  for (int line = 1; line < 4; ++line) start = matrix.find('\n', start) + 1;
  for (std::size_t i = start; matrix[i] != '\n'; ++i) matrix[i] = '\x90';
  for (const char* edition : {"RDRGNEO8", "RDRGNEO9", "RDRGNEO0", "RDRGNEO1"}) {
    std::string& marks = images[edition];
    marks[marks.find("P599") + 5] = '\x90';
  }
  Result<std::shared_ptr<const TableSet>> tables = LoadTablesFromImages(images);
  EXPECT_TRUE(tables.ok()) << tables.message();
  return tables.ok() ? tables.value() : nullptr;
}

class FinaliseTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    tables_ = new std::shared_ptr<const TableSet>(testing::BuildTables(Sources()));
    highByteTables_ = new std::shared_ptr<const TableSet>(HighByteTables());
  }
  static void TearDownTestSuite() {
    delete tables_;
    delete highByteTables_;
  }
  static std::shared_ptr<const TableSet>* tables_;
  static std::shared_ptr<const TableSet>* highByteTables_;
};
std::shared_ptr<const TableSet>* FinaliseTest::tables_ = nullptr;
std::shared_ptr<const TableSet>* FinaliseTest::highByteTables_ = nullptr;

std::string Levels(const GroupState& s, std::size_t n) {
  return std::string(s.diagnosisLevels.data(), n);
}

TEST_F(FinaliseTest, RemapsTheDecidedDrgBeforeTheRefinedTable) {
  struct Case {
    const char* name;
    const char* date;
    int baseDrg;
    std::vector<std::string_view> diagnoses;
    std::vector<std::string_view> procedures;
    int finalDrg;
  };
  const Case cases[] = {
      {"30, principal class bit", "20020315", 30, {"G450"}, {}, 20},
      {"30, no class bit", "20020315", 30, {"G451"}, {}, 10},
      {"1630, procedure byte 4 bit 0x08", "20020315", 1630, {"J189"}, {"P0005", "P0004"}, 1590},
      {"1630, other bit of byte 4", "20020315", 1630, {"J189"}, {"P0005"}, 1610},
      {"1630, procedure class of 1999", "19990315", 1630, {"J189"}, {"P0004"}, 1590},
      {"2230, byte 10 bit", "20020315", 2230, {"J189"}, {"P0010"}, 2230},
      {"2230, no byte 10 bit", "20020315", 2230, {"J189"}, {"P0004"}, 2240},
      {"2280, byte 11 bit", "20020315", 2280, {"J189"}, {"P0011"}, 2280},
      {"2280, no byte 11 bit", "20020315", 2280, {"J189"}, {"P0010"}, 2290},
      {"3230, R3501 without entry", "20020315", 3230, {"J189"}, {"P0004", "R3501"}, 3230},
      {"3230, no R3501", "20020315", 3230, {"J189"}, {"P0004"}, 3240},
      {"4220, R500", "20020315", 4220, {"R500"}, {}, 4190},
      {"4220, R501", "20020315", 4220, {"R501"}, {}, 4190},
      {"4220, R502", "20020315", 4220, {"R502"}, {}, 4190},
      {"4220, R509", "20020315", 4220, {"R509"}, {}, 4210},
      {"4220, R500 only secondary", "20020315", 4220, {"R509", "R500"}, {}, 4210},
      {"refined DRG differs", "20020315", 1220, {"J189"}, {}, 1210},
  };
  for (const Case& c : cases) {
    RefineCase rc(*tables_);
    GroupState& s = rc.Date(c.date).Diagnoses(c.diagnoses).Procedures(c.procedures).Prepare();
    s.baseDrg = c.baseDrg;
    EXPECT_EQ(FinaliseDrg(s), 0) << c.name;
    EXPECT_EQ(s.finalDrg, c.finalDrg) << c.name;
  }
}

TEST_F(FinaliseTest, StatusesAndTheStateTheyLeave) {
  struct Case {
    const char* name;
    int baseDrg;
    std::vector<std::string_view> diagnoses;
    int stay;
    int dischargeStatus;
    int status;
    int finalDrg;
    int mdc;
    char level;
  };
  const Case cases[] = {
      {"DRG 0", 0, {"J189"}, 5, 1, 1, 4700, 24, '0'},
      {"DRG 4771", 4771, {"J189"}, 5, 1, 1, 4700, 24, '0'},
      {"no diagnosis", 1000, {}, 5, 1, 2, 4700, 24, '0'},
      {"principal not in the table", 1000, {"Z999", "E119"}, 5, 1, 2, 4700, 24, '0'},
      {"blank principal", 1000, {"", "E119"}, 5, 1, 2, 4700, 24, '0'},
      {"no level column", 880, {"J189", "E871"}, 5, 1, 3, 880, 4, '0'},
      {"slot no line filled", 4000, {"J189", "E871"}, 5, 1, 3, 0, 4, '0'},
      {"medical, stay invalid", 890, {"J189", "E871"}, -1, 4, 4, 890, 4, '4'},
      {"medical, status 4, 2 days", 890, {"J189", "E871"}, 2, 4, 0, 890, 4, 'L'},
      {"medical, status 4, 0 days", 890, {"J189", "E871"}, 0, 4, 0, 890, 4, 'L'},
      {"medical, status 4, 3 days", 890, {"J189", "E871"}, 3, 4, 0, 890, 4, '3'},
      {"medical, status 1, 1 day", 890, {"J189", "E871"}, 1, 1, 0, 890, 4, '3'},
      {"not medical, stay invalid", 1000, {"J189", "E871"}, -1, 4, 0, 1000, 4, '3'},
  };
  for (const Case& c : cases) {
    RefineCase rc(*tables_);
    GroupState& s = rc.Diagnoses(c.diagnoses).Stay(c.stay).Status(c.dischargeStatus).Prepare();
    s.baseDrg = c.baseDrg;
    s.mdc = 7;
    s.levelSourceIndex = 9;
    EXPECT_EQ(FinaliseDrg(s), c.status) << c.name;
    EXPECT_EQ(s.finalDrg, c.finalDrg) << c.name;
    EXPECT_EQ(s.mdc, c.mdc) << c.name;
    EXPECT_EQ(s.severityLevel, c.level) << c.name;
    if (c.level == '0') {
      EXPECT_EQ(s.levelSourceIndex, -1) << c.name;
    }
  }
}

TEST_F(FinaliseTest, SeverityLevelFromTheDiagnoses) {
  struct Case {
    const char* name;
    const char* date;
    int baseDrg;
    std::vector<std::string_view> diagnoses;
    int sex;
    int dischargeStatus;
    int firstPassDrg;
    char level;
    int source;
    const char* levels;
  };
  const Case cases[] = {
      {"highest secondary", "20020315", 1000, {"J189", "E119", "E871", "N179"}, 1, 1, 0, '3', 2, "0231"},
      {"tie keeps the lower position", "20020315", 1000, {"J189", "E119", "I10"}, 1, 1, 0, '2', 1, "022"},
      {"principal left out", "20020315", 1000, {"J189"}, 1, 1, 0, '0', -1, "0"},
      {"codes without entry", "20020315", 1000, {"J189", "Z999", "", "E119"}, 1, 1, 0, '2', 3, "0002"},
      {"1610 counts 2 as 1", "20020315", 1610, {"J189", "E119", "E871"}, 1, 1, 0, '3', 2, "013"},
      {"570 counts 2 as 1", "20020315", 570, {"J189", "E119"}, 1, 1, 0, '1', 1, "01"},
      {"590 counts 2 as 1", "20020315", 590, {"J189", "E119"}, 1, 1, 0, '1', 1, "01"},
      {"final 1210 counts the principal", "20020315", 1220, {"J189", "N179"}, 1, 1, 0, '1', 0, "11"},
      {"decided 1240 counts the principal", "20020315", 1240, {"J189"}, 1, 1, 0, '1', 0, "1"},
      {"final 1240 does not", "20020315", 1260, {"J189"}, 1, 1, 0, '0', -1, "0"},
      {"1210 with principal bit 0x80", "20020315", 1220, {"I500", "E871"}, 1, 1, 0, '0', -1, "00"},
      {"MDC 5 principal row of 1210", "20020315", 1000, {"I214"}, 1, 1, 0, '3', 0, "0"},
      {"MDC 5 principal wins a tie", "20020315", 1000, {"I214", "E871"}, 1, 1, 0, '3', 0, "03"},
      {"MDC 5 principal row of 1000", "20020315", 1000, {"I500", "E119"}, 1, 1, 0, '2', 1, "02"},
      {"MDC 5 step not for medical", "20020315", 890, {"I214", "E119"}, 1, 1, 0, '2', 1, "02"},
      {"male skips the female row", "20020315", 1000, {"J189", "K590"}, 1, 1, 0, '1', 1, "01"},
      {"female row", "20020315", 1000, {"J189", "K590"}, 2, 1, 0, '3', 1, "03"},
      {"status row, status 999", "20020315", 1000, {"J189", "D649"}, 1, 999, 0, '0', -1, "00"},
      {"status row, status 1", "20020315", 1000, {"J189", "D649"}, 1, 1, 0, '2', 1, "02"},
      {"obstetric 2000", "20000315", 3720, {"O800", "O994", "O990"}, 2, 1, 0, '0', -1, "000"},
      {"obstetric 1999: O994 counts", "19990101", 3720, {"O800", "O994", "O990"}, 2, 1, 0, '3', 1, "030"},
      {"obstetric before 19980401", "19980315", 3720, {"O800", "O994", "O990"}, 2, 1, 0, '3', 1, "032"},
      {"obstetric 2002", "20020315", 3720, {"O800", "O994", "O990"}, 2, 1, 0, '3', 1, "032"},
      {"obstetric codes, other DRG", "20000315", 1000, {"O800", "O994", "O990"}, 2, 1, 0, '3', 1, "032"},
      {"first pass DRG in window", "19990315", 1000, {"J189", "E119"}, 1, 1, 1000, '0', -1, "00"},
      {"first pass DRG, window start", "19980701", 1000, {"J189", "E119"}, 1, 1, 1000, '0', -1, "00"},
      {"first pass DRG, before window", "19980630", 1000, {"J189", "E119"}, 1, 1, 1000, '2', 1, "02"},
      {"first pass DRG, after window", "20020101", 1000, {"J189", "E119"}, 1, 1, 1000, '2', 1, "02"},
      {"other first pass DRG", "19990315", 1000, {"J189", "E119"}, 1, 1, 4700, '2', 1, "02"},
  };
  for (const Case& c : cases) {
    RefineCase rc(*tables_);
    GroupState& s = rc.Date(c.date).Diagnoses(c.diagnoses).Sex(c.sex).Status(c.dischargeStatus)
                        .Stay(5).Prepare();
    s.baseDrg = c.baseDrg;
    s.firstPassDrg = c.firstPassDrg;
    EXPECT_EQ(FinaliseDrg(s), 0) << c.name;
    EXPECT_EQ(s.severityLevel, c.level) << c.name;
    EXPECT_EQ(s.levelSourceIndex, c.source) << c.name;
    EXPECT_EQ(Levels(s, std::strlen(c.levels)), c.levels) << c.name;
  }
}

TEST_F(FinaliseTest, LevelBytesAboveSevenBitNeverBeatZero) {
  struct Case {
    const char* name;
    std::vector<std::string_view> diagnoses;
    char level;
    int source;
    const char* levels;
  };
  const Case cases[] = {
      {"secondary", {"J189", "E46"}, '0', -1, "0\x90"},
      {"secondary, then a level 1", {"J189", "E46", "N179"}, '1', 2, "0\x90" "1"},
      {"MDC 5 principal", {"I219"}, '\x90', -1, "0"},
      {"MDC 5 principal, then a level 1", {"I219", "N179"}, '1', 1, "01"},
  };
  for (const Case& c : cases) {
    RefineCase rc(*highByteTables_);
    GroupState& s = rc.Diagnoses(c.diagnoses).Stay(5).Prepare();
    s.baseDrg = 1000;
    EXPECT_EQ(FinaliseDrg(s), 0) << c.name;
    EXPECT_EQ(s.severityLevel, c.level) << c.name;
    EXPECT_EQ(s.levelSourceIndex, c.source) << c.name;
    EXPECT_EQ(Levels(s, std::strlen(c.levels)), c.levels) << c.name;
  }
}

TEST_F(FinaliseTest, DiagnosisLevelsResetOnlyWhenTheLevelCountRuns) {
  RefineCase rc(*tables_);
  GroupState& s = rc.Date("19990315").Diagnoses({"J189", "E871", "E119"}).Stay(5).Prepare();
  s.baseDrg = 1000;
  ASSERT_EQ(FinaliseDrg(s), 0);
  EXPECT_EQ(Levels(s, 4), "0320");
  // Returns before the count keep the characters of the previous call.
  s.baseDrg = 880;
  EXPECT_EQ(FinaliseDrg(s), 3);
  EXPECT_EQ(Levels(s, 4), "0320");
  s.baseDrg = 0;
  EXPECT_EQ(FinaliseDrg(s), 1);
  EXPECT_EQ(Levels(s, 4), "0320");
  // A later count starts from '0' everywhere.
  s.baseDrg = 1000;
  s.firstPassDrg = 1000;
  EXPECT_EQ(FinaliseDrg(s), 0);
  EXPECT_EQ(Levels(s, 4), "0000");
}

// Hand-made refined CC tables of every size up to 12 rows: the bisection
// finds every code, steps back to the first row of a code held twice, and
// misses codes that fall between, before or after the rows.
TEST(FindCcEntryTest, BisectionFindsEveryRowOfEverySize) {
  auto code = [](int n) {
    std::array<char, 5> c = {'A', '0', '0', ' ', ' '};
    c[1] = static_cast<char>('0' + n / 10);
    c[2] = static_cast<char>('0' + n % 10);
    return c;
  };
  for (int n = 1; n <= 12; ++n) {
    for (int twice = -1; twice < n - 1; ++twice) {  // rows twice and twice + 1 share a code
      TableSet tables;
      std::vector<RefinedCcRow>& rows = tables.refinedCc[0].rows;
      for (int r = 0; r < n; ++r) {
        RefinedCcRow row;
        row.code = code(2 * (r > twice && twice >= 0 ? r - 1 : r) + 1);  // odd: gaps between
        row.levelRow = static_cast<int8_t>(r);
        row.sexCondition = static_cast<int8_t>(twice >= 0 && r == twice ? 2 : 0);
        rows.push_back(row);
      }
      GroupState s;
      s.tables = &tables;
      s.active.refinedCc = &tables.refinedCc[0];
      s.diagnosisCount = 1;
      s.diagnosisEntry[0] = 0;
      s.sex = 1;
      for (int r = 0; r < n; ++r) {
        std::copy_n(rows[r].code.begin(), 5, s.diagnosisWork[0].code);
        const int expected = (twice >= 0 && r == twice) ? twice + 1 : r;
        if (twice >= 0 && r == twice + 1) continue;  // same code as row `twice`
        EXPECT_EQ(FindCcEntry(s, 0), expected) << "n " << n << " twice " << twice << " row " << r;
      }
      if (twice >= 0) {
        s.sex = 2;
        std::copy_n(rows[twice].code.begin(), 5, s.diagnosisWork[0].code);
        EXPECT_EQ(FindCcEntry(s, 0), twice) << "n " << n << " twice " << twice;
      }
      for (int missing = 0; missing <= 2 * n + 2; missing += 2) {
        std::copy_n(code(missing).begin(), 5, s.diagnosisWork[0].code);
        EXPECT_EQ(FindCcEntry(s, 0), -1) << "n " << n << " code " << missing;
      }
    }
  }
}

TEST_F(FinaliseTest, FindCcEntryLeavesOutSecondariesThePrincipalExcludes) {
  // Editions from 2002 key the exclusion by the secondary's entry and list
  // the principal's entry; look both up first.
  RefineCase probe(*tables_);
  GroupState& p = probe.Diagnoses({"J189", "E119"}).Prepare();
  const int principal = p.diagnosisEntry[0];
  const int secondary = p.diagnosisEntry[1];
  std::map<std::string, std::string> sources = Sources();
  sources["CCTAB0"] = "row " + std::to_string(secondary) + " " + std::to_string(principal) + "\n";
  auto tables = testing::BuildTables(sources);
  ASSERT_NE(tables, nullptr);

  RefineCase rc(tables);
  GroupState& s = rc.Diagnoses({"J189", "E119", "E119"}).Stay(5).Prepare();
  EXPECT_EQ(FindCcEntry(s, 1), -1);
  EXPECT_EQ(FindCcEntry(s, 2), -1);
  s.baseDrg = 1000;
  EXPECT_EQ(FinaliseDrg(s), 0);
  EXPECT_EQ(s.severityLevel, '0');

  // As principal the same code is not tested for exclusion.
  RefineCase asPrincipal(tables);
  GroupState& t = asPrincipal.Diagnoses({"E119", "E119"}).Prepare();
  EXPECT_GE(FindCcEntry(t, 0), 0);
}

TEST_F(FinaliseTest, NewbornDrgAndStatusFromBirthWeight) {
  struct Case {
    int weight;
    int stay;
    int dischargeStatus;
    int finalDrg;
    int status;
    char level;
  };
  const Case cases[] = {
      {999, 5, 1, 3860, 0, '3'},  {1000, 5, 1, 3880, 0, '3'}, {2499, 5, 1, 3880, 0, '3'},
      {2500, 5, 1, 3910, 0, '3'}, {1, 5, 1, 3860, 0, '3'},    {-2, 5, 1, 3910, 0, '3'},
      {0, 5, 1, 3910, 5, '3'},    {-1, 5, 1, 3910, 5, '3'},   {0, -1, 1, 3910, 4, '4'},
      {1500, 2, 4, 3880, 0, 'L'}, {1500, 3, 4, 3880, 0, '3'}, {-5, 2, 4, 3910, 0, 'L'},
  };
  for (const Case& c : cases) {
    RefineCase rc(*tables_);
    GroupState& s = rc.Diagnoses({"P220", "P073"}).BirthWeight(c.weight).Stay(c.stay)
                        .Status(c.dischargeStatus).Prepare();
    s.baseDrg = 30;  // never re-mapped on this path
    s.diagnosisLevels.fill('7');
    const std::string name = "weight " + std::to_string(c.weight) + " stay " + std::to_string(c.stay);
    EXPECT_EQ(FinaliseDrg(s), c.status) << name;
    EXPECT_EQ(s.mdc, 15) << name;
    EXPECT_EQ(s.finalDrg, c.finalDrg) << name;
    EXPECT_EQ(s.birthWeight, c.weight) << name;
    EXPECT_EQ(s.severityLevel, c.level) << name;
    EXPECT_EQ(s.diagnosisLevels[1], '7') << name;  // not touched on this path
  }
}

TEST_F(FinaliseTest, NewbornLevelIsTheHighestNeonateMark) {
  struct Case {
    const char* name;
    std::vector<std::string_view> diagnoses;
    bool highBytes;
    char level;
    int source;
  };
  const Case cases[] = {
      {"principal is the source", {"P073", "P220"}, false, '3', 0},
      {"secondary is the source", {"P220", "P073"}, false, '3', 1},
      {"tie keeps the lower position", {"P220", "P599"}, false, '2', 0},
      {"codes without entry", {"P220", "", "Z999", "P073"}, false, '3', 3},
      {"codes without a mark", {"P220", "E119"}, false, '2', 0},
      {"a mark above 0x7F", {"P599", "E119"}, true, '0', -1},
  };
  for (const Case& c : cases) {
    RefineCase rc(c.highBytes ? *highByteTables_ : *tables_);
    GroupState& s = rc.Diagnoses(c.diagnoses).BirthWeight(-2).Stay(5).Prepare();
    s.baseDrg = 1000;
    EXPECT_EQ(FinaliseDrg(s), 0) << c.name;
    EXPECT_EQ(s.severityLevel, c.level) << c.name;
    EXPECT_EQ(s.levelSourceIndex, c.source) << c.name;
  }
}

}  // namespace
}  // namespace tallow

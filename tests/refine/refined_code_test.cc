// The refined group code: special results, layout and age digit, the DRG
// splits, delivery rules, lists from 2002, exempt identifiers, the exclusion
// list and the accepted-code lists by date and identifier.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "refine/refine.h"
#include "refine/refined_code.h"
#include "refine_case.h"

namespace tallow {
namespace {

using namespace std::string_view_literals;
using testing::RefineCase;

constexpr char kExempt[] = "99099999";

struct Case {
  const char* name;
  const char* date = "20020315";
  const char* id = "00000001";
  std::string_view mods = "";
  int drg = 0;  ///< finalDrg before MakeRefinedCode
  char level = '0';
  int mdc = 4;
  int sex = 1;
  int age = 40;
  int status = 1;
  int stay = 5;
  std::vector<std::string_view> dx = {"J189"};
  std::vector<std::string_view> px = {};
  int32_t code = 0;  ///< expected group code
  int splitDrg = 0;  ///< expected finalDrg afterwards; 0: not checked
};

class RefinedCodeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    tables_ = new std::shared_ptr<const TableSet>(testing::BuildTables({
        {"RDRGDRG",
         "570 570 1 1 -\n590 590 1 1 -\n1640 1640 1 1 -\n410 410 1 1 -\n1610 1610 1 1 -\n"},
        {"SGTAB0",
         "row P0008 20020101 20031231 8:08\n"
         "row P0520 20020101 20031231 5:20\n"
         "row S5112 20020101 20031231 5:20\n"},
    }));
  }
  static void TearDownTestSuite() { delete tables_; }

  static void Check(const Case& c) {
    RefineCase rc(*tables_);
    GroupState& s = rc.Date(c.date).Identifier(c.id).Modifiers(c.mods).Diagnoses(c.dx)
                        .Procedures(c.px).Sex(c.sex).Age(c.age).Status(c.status).Stay(c.stay)
                        .Prepare();
    s.finalDrg = c.drg;
    s.severityLevel = c.level;
    s.mdc = c.mdc;
    EXPECT_EQ(MakeRefinedCode(s), c.code) << c.name;
    if (c.splitDrg != 0) {
      EXPECT_EQ(s.finalDrg, c.splitDrg) << c.name;
    }
  }

  static std::shared_ptr<const TableSet>* tables_;
};
std::shared_ptr<const TableSet>* RefinedCodeTest::tables_ = nullptr;

TEST_F(RefinedCodeTest, SpecialResultsComeBeforeTheDateRules) {
  const Case cases[] = {
      {.name = "L in MDC 6 before 1998", .date = "19970101", .drg = 3700, .level = 'L', .mdc = 6,
       .code = 806000},
      {.name = "L in MDC 5", .date = "20040101", .drg = 1000, .level = 'L', .mdc = 5, .code = 805000},
      {.name = "L newborn", .drg = 3910, .level = 'L', .mdc = 15, .code = 815000},
      {.name = "newborn, status 999, 4 days", .drg = 3910, .level = '2', .mdc = 15, .status = 999,
       .stay = 4, .code = 815001},
      {.name = "newborn, status 999, 0 days, L", .drg = 3910, .level = 'L', .mdc = 15,
       .status = 999, .stay = 0, .code = 815001},
      {.name = "newborn, status 999, 5 days", .id = kExempt, .drg = 3910, .level = '2', .mdc = 15,
       .status = 999, .stay = 5, .code = 391002},
      {.name = "newborn, status 999, stay invalid", .id = kExempt, .drg = 3910, .level = '2',
       .mdc = 15, .status = 999, .stay = -1, .code = 391002},
      {.name = "level 4", .date = "19970101", .drg = 1640, .level = '4', .code = 470000},
      {.name = "before 19980201", .date = "19980131", .id = kExempt, .drg = 570, .code = 0},
      {.name = "from 19980201", .date = "19980201", .drg = 570, .code = 57000},
  };
  for (const Case& c : cases) Check(c);
}

TEST_F(RefinedCodeTest, LayoutAndAgeDigit) {
  const Case cases[] = {
      {.name = "1640 age 17", .drg = 1640, .level = '1', .age = 17, .code = 0},
      {.name = "1640 age 17 exempt", .id = kExempt, .drg = 1640, .level = '1', .age = 17,
       .code = 164011},
      {.name = "1640 age 18", .drg = 1640, .level = '1', .age = 18, .code = 164001},
      {.name = "570 age 10, 1998", .date = "19980601", .drg = 570, .level = '1', .age = 10,
       .code = 57110},
      {.name = "570 age 0, 1998", .date = "19980601", .drg = 570, .level = '1', .age = 0,
       .code = 57110},
      {.name = "570 age -1, 1998", .date = "19980601", .drg = 570, .level = '1', .age = -1,
       .code = 57010},
      {.name = "410 never age-split", .date = "19990315", .drg = 410, .level = '1', .age = 10,
       .code = 41010},
      {.name = "590 age 5, day before 2002", .date = "20011231", .drg = 590, .level = '1',
       .age = 5, .code = 59110},
      {.name = "590 age 5, 2002", .date = "20020101", .drg = 590, .level = '1', .age = 5,
       .code = 59011},
      {.name = "age split of the DRG with digit 0", .drg = 1610, .age = 10, .code = 161210,
       .splitDrg = 1612},
      {.name = "DRG values 1-9 are not age-split", .id = kExempt, .drg = 5, .level = '1',
       .age = 10, .code = 501},
      {.name = "a level below '0' gives no negative code", .id = kExempt, .drg = 1,
       .level = '\x90', .code = 0},
  };
  for (const Case& c : cases) Check(c);
}

TEST_F(RefinedCodeTest, Drg390Before2002ByWorkingProcedureCodes) {
  const Case cases[] = {
      {.name = "S5113, 1999", .date = "19990315", .drg = 390, .px = {"S5113"}, .code = 41000},
      {.name = "S5113, 1998", .date = "19980601", .drg = 390, .px = {"S5113"}, .code = 39500},
      {.name = "S5114, 1998", .date = "19980601", .drg = 390, .px = {"S5114"}, .code = 39500},
      {.name = "S5114, 1999", .date = "19990315", .drg = 390, .px = {"S5114"}, .code = 39000},
      {.name = "S5121", .date = "19990315", .id = kExempt, .drg = 390, .px = {"S5121"},
       .code = 42000},
      {.name = "S5060", .date = "19990315", .id = kExempt, .drg = 390, .px = {"S5060"},
       .code = 42000},
      {.name = "S5121 before 19980401", .date = "19980315", .drg = 390, .px = {"S5121"},
       .code = 39000},
      {.name = "S5113 before S5121", .date = "19990315", .drg = 390, .px = {"S5121", "S5113"},
       .code = 41000},
      {.name = "S5071 works as S5060", .date = "20000615", .id = kExempt, .drg = 390,
       .px = {"S5071"}, .code = 42000},
      {.name = "no listed procedure", .date = "19990315", .drg = 390, .px = {"S5112"},
       .code = 39000},
  };
  for (const Case& c : cases) Check(c);
}

TEST_F(RefinedCodeTest, Drg390From2002ByClassesAndModifierLetters) {
  const Case cases[] = {
      {.name = "class byte 8 bit", .id = kExempt, .mods = "SB", .drg = 390, .px = {"P0008"},
       .code = 37000},
      {.name = "S5112 alone", .id = kExempt, .mods = "SB", .drg = 390, .px = {"S5112"},
       .code = 39600},
      {.name = "S and B", .mods = "SB", .drg = 390, .code = 39300},
      {.name = "s and b", .mods = " s b ", .drg = 390, .code = 39300},
      {.name = "B alone", .mods = "B", .drg = 390, .code = 39400},
      {.name = "S alone", .mods = "S", .drg = 390, .code = 39100},
      {.name = "no letter", .mods = "X", .drg = 390, .code = 39200},
      {.name = "letters after a NUL", .mods = "\0SB"sv, .drg = 390, .code = 39200},
      {.name = "S B, S5112 and byte 5 bit, 2002", .mods = "SB", .drg = 390,
       .px = {"S5112", "P0520"}, .code = 39100},
      {.name = "S B, S5112 and byte 5 bit, 2003", .date = "20030315", .mods = "SB", .drg = 390,
       .px = {"S5112", "P0520"}, .code = 39300},
      {.name = "B, S5112 and byte 5 bit, 2002", .mods = "B", .drg = 390,
       .px = {"S5112", "P0520"}, .code = 39200},
      {.name = "B, S5112 and byte 5 bit, 2003", .date = "20030315", .mods = "B", .drg = 390,
       .px = {"S5112", "P0520"}, .code = 39400},
      {.name = "B, byte 5 bit without S5112", .mods = "B", .drg = 390, .px = {"P0520"},
       .code = 39400},
      {.name = "1610 with b", .mods = "b", .drg = 1610, .code = 161300, .splitDrg = 1613},
      {.name = "1610 without b", .drg = 1610, .code = 161200, .splitDrg = 1612},
      {.name = "1610 before 2002", .date = "20011231", .id = kExempt, .mods = "B", .drg = 1610,
       .code = 161000, .splitDrg = 1610},
  };
  for (const Case& c : cases) Check(c);
}

TEST_F(RefinedCodeTest, Drg358ByLetterLAndRequestProcedures) {
  const Case cases[] = {
      {.name = "3581 L", .mods = "L", .drg = 3581, .code = 358200, .splitDrg = 3582},
      {.name = "3581", .drg = 3581, .code = 358100, .splitDrg = 3581},
      {.name = "3583 l, no procedure", .mods = "l", .drg = 3583, .code = 358400},
      {.name = "3583 L, R4125", .mods = "L", .drg = 3583, .px = {"R4125"}, .code = 358300},
      {.name = "3583 L, R4126 and a listed code", .mods = "L", .drg = 3583,
       .px = {"R4126", "C8534"}, .code = 358400},
      {.name = "3583 L, other procedure", .mods = "L", .drg = 3583, .px = {"P0520"},
       .code = 358400},
      {.name = "3583 without L", .drg = 3583, .px = {"R4125"}, .code = 358300},
      {.name = "3581 L before 2002", .date = "20011231", .id = kExempt, .mods = "L", .drg = 3581,
       .code = 358100},
  };
  for (const Case& c : cases) Check(c);
}

TEST_F(RefinedCodeTest, DeliveryRules) {
  const Case cases[] = {
      {.name = "3700 old, O821", .date = "19990315", .drg = 3700, .dx = {"O821"}, .code = 370000},
      {.name = "3700 old, O842", .date = "19990315", .drg = 3700, .dx = {"O842"}, .code = 370000},
      {.name = "3700 old, O848", .date = "19990315", .id = kExempt, .drg = 3700, .dx = {"O848"},
       .code = 0},
      {.name = "3700 new, O848", .drg = 3700, .dx = {"O848"}, .code = 370000},
      {.name = "3700 new, O849", .drg = 3700, .dx = {"O849"}, .code = 370000},
      {.name = "3700 new, O820", .drg = 3700, .dx = {"O820"}, .code = 370000},
      {.name = "3700 new, O829", .drg = 3700, .dx = {"O829"}, .code = 370000},
      {.name = "3700 new, O842", .drg = 3700, .dx = {"O842"}, .code = 370000},
      {.name = "3700 new, O819", .id = kExempt, .drg = 3700, .dx = {"O819"}, .code = 0},
      {.name = "3700 new, O830", .id = kExempt, .drg = 3700, .dx = {"O830"}, .code = 0},
      {.name = "3700 new, O850", .id = kExempt, .drg = 3700, .dx = {"O850"}, .code = 0},
      {.name = "3720, O800", .drg = 3720, .dx = {"O800"}, .code = 372000},
      {.name = "3720, O821", .id = kExempt, .drg = 3720, .dx = {"O821"}, .code = 0},
      {.name = "3720, O842", .id = kExempt, .drg = 3720, .dx = {"O842"}, .code = 0},
      {.name = "3750, O850", .id = kExempt, .drg = 3750, .dx = {"O850"}, .code = 0},
      {.name = "3740, O800", .id = kExempt, .drg = 3740, .dx = {"O800"}, .px = {"R4380"},
       .code = 374000},
      {.name = "3720 R4380, 2000", .date = "20001201", .drg = 3720, .dx = {"O800"},
       .px = {"P0001", "R4380", "R4380"}, .code = 372001},
      {.name = "3720 R4380, 2002", .drg = 3720, .dx = {"O800"}, .px = {"R4380"}, .code = 372100},
      {.name = "3720 R4380, 1999", .date = "19990315", .drg = 3720, .dx = {"O800"},
       .px = {"R4380"}, .code = 372000},
      {.name = "3730 R4380, 20000201", .date = "20000201", .drg = 3730, .dx = {"O800"},
       .px = {"R4380"}, .code = 373001},
      {.name = "3720 R4380, zeroed code", .id = kExempt, .drg = 3720, .dx = {"O821"},
       .px = {"R4380"}, .code = 0},
  };
  for (const Case& c : cases) Check(c);
}

TEST_F(RefinedCodeTest, B20B24AndSexRulesFrom2002) {
  const Case cases[] = {
      {.name = "4150 B200", .id = kExempt, .drg = 4150, .dx = {"B200"}, .code = 488000},
      {.name = "4210 B24", .id = kExempt, .drg = 4210, .dx = {"B24"}, .code = 489000},
      {.name = "4150 B20 is not listed", .id = kExempt, .drg = 4150, .dx = {"B20"},
       .code = 415000},
      {.name = "4150 B200 as secondary", .id = kExempt, .drg = 4150, .dx = {"J189", "B200"},
       .code = 415000},
      {.name = "4150 B200 in 2001", .date = "20011231", .id = kExempt, .drg = 4150,
       .dx = {"B200"}, .code = 415000},
      {.name = "male MDC 23 Z33", .id = kExempt, .drg = 4670, .mdc = 23, .dx = {"Z33"},
       .code = 470000},
      {.name = "male MDC 23 Z33 not exempt", .drg = 4670, .mdc = 23, .dx = {"Z33"}, .code = 0},
      {.name = "female MDC 23 Z33", .id = kExempt, .drg = 4670, .mdc = 23, .sex = 2,
       .dx = {"Z33"}, .code = 467000},
      {.name = "female MDC 23 Z125", .id = kExempt, .drg = 4670, .mdc = 23, .sex = 2,
       .dx = {"Z125"}, .code = 470000},
      {.name = "male MDC 23 Z125", .id = kExempt, .drg = 4670, .mdc = 23, .dx = {"Z125"},
       .code = 467000},
      {.name = "male MDC 23 R879", .id = kExempt, .drg = 4670, .mdc = 23, .dx = {"R879"},
       .code = 470000},
      {.name = "male MDC 8 M8019", .id = kExempt, .drg = 2400, .mdc = 8, .dx = {"M8019"},
       .code = 470000},
      {.name = "male MDC 8 M8309", .id = kExempt, .drg = 2400, .mdc = 8, .dx = {"M8309"},
       .code = 470000},
      {.name = "male MDC 8 M8020", .id = kExempt, .drg = 2400, .mdc = 8, .dx = {"M8020"},
       .code = 240000},
      {.name = "male MDC 6 Z33", .id = kExempt, .drg = 1640, .mdc = 6, .dx = {"Z33"},
       .code = 164000},
      {.name = "male MDC 23 Z33 in 2001", .date = "20011231", .id = kExempt, .drg = 4670,
       .mdc = 23, .dx = {"Z33"}, .code = 467000},
  };
  for (const Case& c : cases) Check(c);
}

TEST_F(RefinedCodeTest, ExemptIdentifiersExclusionListAndAcceptedLists) {
  const Case cases[] = {
      {.name = "99099999", .id = "99099999", .drg = 4670, .code = 467000},
      {.name = "99199999", .id = "99199999", .drg = 4670, .code = 467000},
      {.name = "99299999", .id = "99299999", .drg = 4670, .code = 467000},
      {.name = "99399999", .id = "99399999", .drg = 4670, .code = 467000},
      {.name = "99499999", .id = "99499999", .drg = 4670, .code = 0},
      {.name = "Z21 from 20030901", .date = "20030901", .drg = 1640, .level = '1',
       .dx = {"J189", "E119", "Z21"}, .code = 0},
      {.name = "Z21 before 20030901", .date = "20030831", .drg = 1640, .level = '1',
       .dx = {"J189", "E119", "Z21"}, .code = 164001},
      {.name = "Z21, exempt", .date = "20030915", .id = kExempt, .drg = 1640, .level = '1',
       .dx = {"J189", "Z21"}, .code = 164001},
      {.name = "L8 from 20030901", .date = "20030915", .drg = 1640, .level = '1',
       .code = 164001},
      {.name = "3720 not in L8", .date = "20030915", .drg = 3720, .dx = {"O800"}, .code = 0},
      {.name = "3720 in L7", .date = "20030831", .drg = 3720, .dx = {"O800"}, .code = 372000},
      {.name = "11100010, 19990601: L3", .date = "19990601", .id = "11100010", .drg = 1460,
       .code = 146000},
      {.name = "other, 19990601: L2", .date = "19990601", .drg = 1460, .code = 0},
      {.name = "11100010, 19990523: L2", .date = "19990523", .id = "11100010", .drg = 1460,
       .code = 0},
      {.name = "11100010, 19991001: L3", .date = "19991001", .id = "11100010", .drg = 1460,
       .code = 146000},
      {.name = "other, 19991001: L4", .date = "19991001", .drg = 1460, .code = 0},
      {.name = "other, 19991001: L4 has 0890", .date = "19991001", .drg = 890, .code = 89000},
      {.name = "11100010, 20000801: L5", .date = "20000801", .id = "11100010", .drg = 1460,
       .code = 146000},
      {.name = "11100010, 20000801: L5 lacks 0890", .date = "20000801", .id = "11100010",
       .drg = 890, .code = 0},
      {.name = "other, 20000801: L6", .date = "20000801", .drg = 1460, .code = 0},
      {.name = "11100010, 20001106: L6", .date = "20001106", .id = "11100010", .drg = 1460,
       .code = 0},
      {.name = "19990201: L2", .date = "19990201", .drg = 1610, .level = '1', .code = 161010},
      {.name = "19990131: L1", .date = "19990131", .drg = 1610, .level = '1', .code = 0},
  };
  for (const Case& c : cases) Check(c);
}

TEST_F(RefinedCodeTest, ProcedureSplitsShowInTheCode) {
  const Case cases[] = {
      {.name = "DRG 40 new, N0444", .id = kExempt, .drg = 40, .level = '1', .px = {"N0444"},
       .code = 4231},
      {.name = "DRG 40 old, N0444", .date = "19990315", .id = kExempt, .drg = 40, .level = '1',
       .px = {"N0444"}, .code = 4312},
      {.name = "MDC 17, R list", .id = kExempt, .drg = 4100, .level = '2', .mdc = 17,
       .px = {"X5021"}, .code = 500002},
  };
  for (const Case& c : cases) Check(c);
}

}  // namespace
}  // namespace tallow

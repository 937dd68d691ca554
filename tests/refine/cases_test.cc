// Whole cases through GroupCase: the first pass feeding finalisation, the
// refined code in the request and the per-diagnosis levels.
#include <gtest/gtest.h>

#include <string>

#include "engine/grouper.h"
#include "refine_case.h"

namespace tallow {
namespace {

using testing::AddToEveryEdition;
using testing::MatrixRow;

std::shared_ptr<const TableSet> CaseTables() {
  std::map<std::string, std::string> sources;
  // K358 decides DRG 1640, K359 (key 2) DRG 1610; P073 is a newborn.
  AddToEveryEdition(sources, "DXTAB",
                    "class 1 6 0 0 0000000000\nclass 2 6 2 0 0000000000\n"
                    "class 3 15 0 0 0000000000\nclass 4 18 0 0 0000000000\n"
                    "entry E119 4\nentry K358 1\nentry K359 2\nentry N179 4\nentry P073 3\n");
  AddToEveryEdition(sources, "RDRGCC", "E119 0 0 1000 2\nN179 0 0 1640 1\n");
  AddToEveryEdition(sources, "RDRGNEO", "P073 2\n");
  const char* rules = "rule 6 1610 2 -\nrule 6 1640 0 -\n";
  sources["DGTAB"] = rules;
  sources["DGTAB0"] = rules;
  sources["RDRGDRG"] = "1610 1610 0 1 -\n1640 1640 1 1 -\n";
  sources["RDRGCL"] = MatrixRow(1, '1') + MatrixRow(2, '2');
  return testing::BuildTables(sources);
}

struct Case {
  const char* name;
  const char* date;
  const char* mods;
  const char* principal;  ///< five characters
  const char* secondary;
  int age;
  int dischargeStatus;
  int finalDrg;
  int32_t groupCode;
  int levelSource;
  const char* levels;
};

TEST(GroupCaseTest, FinalisesAndBuildsTheRefinedCode) {
  auto tables = CaseTables();
  ASSERT_NE(tables, nullptr);
  const Case cases[] = {
      {"adult, 2002", "20020315", "     ", "K358 ", "N179 ", 40, 1, 1640, 164001, 1, "010"},
      {"under 18, 2002", "20020315", "     ", "K358 ", "N179 ", 17, 1, 1640, 0, 1, "010"},
      {"row DRG equals first pass, 1999", "19990315", "     ", "K358 ", "N179 ", 40, 1, 1640,
       164000, -1, "000"},
      {"row DRG equals first pass, 1998", "19980601", "     ", "K358 ", "N179 ", 40, 1, 1640,
       164010, 1, "010"},
      {"split only in the code", "20020315", "B    ", "K359 ", "E119 ", 40, 1, 1610, 161301, 1,
       "010"},
      {"newborn, status 999", "20020315", "     ", "P073 ", "E119 ", 0, 999, 3910, 815001, 0,
       "000"},
  };
  for (const Case& c : cases) {
    Grouper grouper(tables);
    const char* id = "00000001";
    grouper.SetCaseFields(id, c.date, c.mods);
    grouper.SelectEdition(c.date);
    GroupRequest request;
    request.diagnosisCodes[0] = c.principal;
    request.diagnosisCodes[1] = c.secondary;
    request.diagnosisCodes[2] = "     ";
    request.diagnosisCount = 3;
    request.age = static_cast<int16_t>(c.age);
    request.sexDigit = 1;
    request.dischargeStatus = static_cast<int16_t>(c.dischargeStatus);
    request.lengthOfStay = 3;
    ASSERT_EQ(grouper.GroupCase(request, GroupFlagDecide | GroupFlagFinalise), 0) << c.name;
    EXPECT_EQ(request.finaliseStatus, 0) << c.name;
    EXPECT_EQ(request.finalDrg, c.finalDrg) << c.name;
    EXPECT_EQ(request.groupCode, c.groupCode) << c.name;
    EXPECT_EQ(request.levelSourceIndex, c.levelSource) << c.name;
    EXPECT_EQ(std::string(grouper.state().diagnosisLevels.data(), 3), c.levels) << c.name;
  }
}

}  // namespace
}  // namespace tallow

// Group code digits changed by the procedure lists.
#include "refine/procedure_splits.h"

#include <gtest/gtest.h>

#include <vector>

#include "refine_case.h"

namespace tallow {
namespace {

using testing::RefineCase;

TEST(ApplyProcedureSplitsTest, ListsChangeTheCodeByDateLayout) {
  struct Case {
    const char* name;
    const char* date;
    int mdc;
    int drg;
    std::vector<std::string_view> procedures;
    int code;
    int expected;
  };
  constexpr const char* kNew = "20020315";
  constexpr const char* kOld = "19990315";
  const Case cases[] = {
      {"MDC 17, R, new", kNew, 17, 4100, {"P0001", "X5021"}, 410012, 500002},
      {"MDC 17, R, old", kOld, 17, 4100, {"X5021"}, 410120, 500020},
      {"MDC 17 without R, 1065 rule", kNew, 17, 1065, {"O1641", "E7210"}, 106500, 106600},
      {"MDC 4 with R", kNew, 4, 4100, {"X5021"}, 410012, 410012},
      {"1065, C1 and C2, new", kNew, 4, 1065, {"E7210", "O1641"}, 106500, 106600},
      {"1065, C1 and C2, old", kOld, 4, 1065, {"E7210", "O1641"}, 106500, 106501},
      {"1065, C3 and C2, new", kNew, 4, 1065, {"M6551", "E7210"}, 106500, 106700},
      {"1065, C3 and C2, old", kOld, 4, 1065, {"M6551", "E7210"}, 106500, 106502},
      {"1065, C1 and C3 without C2", kNew, 4, 1065, {"O1641", "M6551"}, 106500, 106500},
      {"1075, C1 before C3, new", kNew, 4, 1075, {"M6551", "O1641"}, 107500, 107600},
      {"1075, C1 before C3, old", kOld, 4, 1075, {"M6551", "O1641"}, 107500, 107501},
      {"1075, C3, new", kNew, 4, 1075, {"M6571"}, 107500, 107700},
      {"1075, nothing listed", kNew, 4, 1075, {"E7210"}, 107500, 107500},
      {"1060 and 1069 in the family", kNew, 4, 1069, {"O1830", "HA680"}, 106900, 107000},
      {"1070 in the family", kOld, 4, 1070, {"OA647"}, 107000, 107001},
      {"40, S2, new", kNew, 4, 40, {"N0444"}, 4001, 4231},
      {"40, S2, old", kOld, 4, 40, {"N0444"}, 4010, 4312},
      {"40, S3 searched before S1", kNew, 4, 40, {"S4691", "N0464"}, 4001, 4331},
      {"40, S1", kNew, 4, 40, {"S4703"}, 4001, 4131},
      {"40, S4", kNew, 4, 40, {"N1494"}, 4012, 4432},
      {"40, S5a", kOld, 4, 40, {"N0590"}, 4110, 4315},
      {"40, S6a", kNew, 4, 40, {"N0500"}, 4001, 4631},
      {"49, S6a", kNew, 4, 49, {"S4811"}, 4901, 5531},
      {"40, nothing listed", kNew, 4, 40, {"N0451"}, 4001, 4001},
      {"2145, N0500 not in S6b", kNew, 4, 2145, {"N0500"}, 214501, 214501},
      {"2145, S5b, new", kNew, 4, 2145, {"N0451"}, 214501, 215001},
      {"2145, S5b, old", kOld, 4, 2145, {"N0451"}, 214510, 214515},
      {"2140, S2 before S6b", kNew, 4, 2140, {"C8515", "N0447"}, 214000, 214200},
      {"39 outside", kNew, 4, 39, {"N0444"}, 3900, 3900},
      {"50 outside", kNew, 4, 50, {"N0444"}, 5000, 5000},
      {"2139 outside", kNew, 4, 2139, {"N0444"}, 213900, 213900},
      {"2150 outside", kNew, 4, 2150, {"N0444"}, 215000, 215000},
      // The request's codes count, not the converted working codes: in 2000
      // N0464 works as N0461, which is in no list.
      {"request code before conversion", "20000615", 4, 40, {"N0464"}, 4010, 4313},
  };
  auto tables = testing::BuildTables({});
  ASSERT_NE(tables, nullptr);
  for (const Case& c : cases) {
    RefineCase rc(tables);
    GroupState& s = rc.Date(c.date).Procedures(c.procedures).Prepare();
    s.mdc = c.mdc;
    s.finalDrg = c.drg;
    EXPECT_EQ(ApplyProcedureSplits(s, c.code), c.expected) << c.name;
  }
}

TEST(ApplyProcedureSplitsTest, NullRequestCodesAndCountsBoundTheSearch) {
  auto tables = testing::BuildTables({});
  ASSERT_NE(tables, nullptr);
  RefineCase rc(tables);
  GroupState& s = rc.Procedures({"P0001", "N0444"}).Prepare();
  s.finalDrg = 40;
  EXPECT_EQ(ApplyProcedureSplits(s, 4001), 4231);
  s.procedureCount = 1;  // N0444 is past the count
  EXPECT_EQ(ApplyProcedureSplits(s, 4001), 4001);
  s.procedureCount = 2;
  rc.request().procedureCodes[1] = nullptr;  // reads as blank
  EXPECT_EQ(ApplyProcedureSplits(s, 4001), 4001);
}

}  // namespace
}  // namespace tallow

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>

#include "engine/grouper.h"
#include "support/table_fixture.h"

namespace tallow {
namespace {

using testing::BuildTables;

// O80 gives MDC 14, I21 MDC 5, E10 is a CC. M0101 and Q2960 are
// operating-room procedures. MDC 14 yields 468 with an operating-room
// procedure (the MDC 30 list gives 468 back) and 373 without; MDC 5 yields
// 121. E10 as a secondary has level 3 unless its refined row names the
// first pass's DRG (373).
constexpr char kDiagnoses[] =
    "class 1 14 0 0 0000000000\nclass 2 5 0 0 0000000000\nclass 3 5 0 1 0000000000\n"
    "entry E10 3\nentry I21 2\nentry O80 1\n";
constexpr char kRules[] = "rule 14 4680 0 1:08\nrule 14 3730 0 -\nrule 5 1210 0 -\nrule 30 4680 0 1:08\n";
constexpr char kRefinedCc[] = "E10 0 0 3730 1\n";

std::shared_ptr<const TableSet> Tables() {
  return BuildTables({
      {"DXTAB9", kDiagnoses}, {"DXTAB0", kDiagnoses},
      {"SGTAB9", "class 1 0:01,1:01\nentry M0101 1\nentry Q2960 1\n"},
      {"SGTAB0", "row M0101 20020101 20991231 0:01,1:01\n"},
      {"DGTAB", kRules}, {"DGTAB0", kRules},
      {"RDRGCC9", kRefinedCc}, {"RDRGCC0", kRefinedCc},
      {"RDRGDRG", "1210 1210 0 1 -\n3730 3730 0 1 -\n4680 4680 0 1 -\n"},
      {"RDRGCL", "row 1 3\n"},
  });
}

struct Case {
  std::string date = "20010315";
  std::array<std::array<char, 5>, 16> dx{};
  std::array<std::array<char, 5>, 21> px{};
  GroupRequest request;

  Case(const char* caseDate, std::initializer_list<const char*> diagnoses,
       std::initializer_list<const char*> procedures, int age = 40) : date(caseDate) {
    int n = 0;
    for (const char* c : diagnoses) Set(dx[n], request.diagnosisCodes[n], c), ++n;
    request.diagnosisCount = static_cast<int16_t>(n);
    n = 0;
    for (const char* c : procedures) Set(px[n], request.procedureCodes[n], c), ++n;
    request.procedureCount = static_cast<int16_t>(n);
    request.age = static_cast<int16_t>(age);
    request.sexDigit = 1;
    request.dischargeStatus = 1;
    request.lengthOfStay = 5;
    // Sentinels that show whether an output was written.
    request.baseDrg = request.mdc = request.groupStatus = request.finalDrg = 77;
    request.groupCode = 77;
    request.underEighteen = request.finaliseStatus = 77;
  }
  static void Set(std::array<char, 5>& store, const char*& ref, const char* code) {
    store.fill(' ');
    std::memcpy(store.data(), code, std::strlen(code));
    ref = store.data();
  }
};

int16_t Group(Grouper& g, Case& c, int flags) {
  static const char kFields[] = "CASE0001";
  g.SetCaseFields(kFields, c.date.c_str(), "     ");
  return g.GroupCase(c.request, flags);
}

// Every output of a request and the level characters of the state.
std::string Outputs(const Grouper& g, const GroupRequest& r) {
  const int values[] = {r.baseDrg, r.mdc, r.groupStatus, r.orProcedureIndex, r.secondaryIndex,
                        r.secondSecondaryIndex, r.secondOrProcedureIndex, r.nonOrProcedureIndex,
                        r.secondNonOrProcedureIndex, r.ccIndex, r.finalDrg, r.groupCode,
                        r.finaliseStatus, r.levelSourceIndex, r.underEighteen};
  std::string text;
  for (int v : values) text += std::to_string(v) + " ";
  return text + std::string(g.state().diagnosisLevels.data(), kMaxDiagnoses);
}

TEST(GroupCase, RefusesWithoutTablesAndWithCountsOutsideTheWorkTables) {
  Grouper unloaded(nullptr);
  Case c("20010315", {"I21"}, {});
  char version[] = "........";
  c.request.versionDateOut = version;
  EXPECT_EQ(Group(unloaded, c, 3), -2);
  EXPECT_EQ(unloaded.state().request, nullptr);

  Grouper g(Tables());
  const Case untouched("20010315", {"I21"}, {});
  for (auto [dxCount, pxCount] : {std::pair{16, 0}, {0, 21}, {-1, 0}, {1, -1}}) {
    c.request.diagnosisCount = static_cast<int16_t>(dxCount);
    c.request.procedureCount = static_cast<int16_t>(pxCount);
    EXPECT_EQ(Group(g, c, 3), -1);
    EXPECT_EQ(g.state().request, nullptr);
  }
  EXPECT_EQ(Outputs(g, c.request), Outputs(g, untouched.request));
  EXPECT_STREQ(version, "........");
}

// A bound request is grouped with the layout it had when bound; after it is
// unbound, or bound again, a moved reference is read where it now points.
TEST(GroupCase, BoundCodesHoldUntilUnboundOrBoundAgain) {
  Grouper g(Tables());
  Grouper fresh(Tables());
  Case expected("20010315", {"I21", "E10"}, {});
  ASSERT_EQ(Group(fresh, expected, 3), 0);

  // The codes lie one after another; the blank secondary moves to E10.
  Case c("20010315", {"I21", ""}, {});
  std::array<char, 5> moved{};
  for (const bool rebind : {false, true}) {
    c.request.diagnosisCodes[1] = c.dx[1].data();
    g.BindCodes(nullptr);
    ASSERT_EQ(Group(g, c, 3), 0);
    g.BindCodes(&c.request);
    ASSERT_EQ(Group(g, c, 3), 0);
    EXPECT_NE(Outputs(g, c.request), Outputs(fresh, expected.request));
    Case::Set(moved, c.request.diagnosisCodes[1], "E10");
    g.BindCodes(rebind ? &c.request : nullptr);
    ASSERT_EQ(Group(g, c, 3), 0);
    EXPECT_EQ(Outputs(g, c.request), Outputs(fresh, expected.request)) << rebind;
  }
}

TEST(GroupCase, FlagsChooseWhatIsDecidedAndWritten) {
  Grouper g(Tables());
  char version[] = "12345678";

  Case none("20010315", {"O80"}, {"Q2960"});
  none.request.versionDateOut = version;
  EXPECT_EQ(Group(g, none, 0), 0);
  EXPECT_EQ(none.request.baseDrg, 77);
  EXPECT_EQ(none.request.finalDrg, 77);
  EXPECT_EQ(none.request.groupCode, 77);
  EXPECT_STREQ(version, "20050801");
  EXPECT_EQ(g.state().firstPassDrg, 3730);  // the first pass ran all the same

  // Finalise only: the caller's base DRG is finalised; decision outputs stay.
  Case finaliseOnly("20010315", {"O80"}, {"Q2960"});
  finaliseOnly.request.baseDrg = 1210;
  EXPECT_EQ(Group(g, finaliseOnly, GroupFlagFinalise), 0);
  EXPECT_EQ(finaliseOnly.request.finalDrg, 1210);
  EXPECT_EQ(finaliseOnly.request.mdc, 77);
  EXPECT_EQ(finaliseOnly.request.groupStatus, 77);
  EXPECT_EQ(g.state().firstPassDrg, 3730);

  Case decideOnly("20010315", {"O80"}, {"Q2960"});
  EXPECT_EQ(Group(g, decideOnly, GroupFlagDecide), 0);
  EXPECT_EQ(decideOnly.request.baseDrg, 4680);
  EXPECT_EQ(decideOnly.request.mdc, 14);
  EXPECT_EQ(decideOnly.request.finalDrg, 77);
}

TEST(GroupCase, UnrelatedProcedureOutcomeRunsOneMorePass) {
  Grouper g(Tables());
  // 2001: the second pass drops M0101 and decides without it.
  Case dropped("20010315", {"O80"}, {"M0101"});
  g.SelectEdition("19980101");  // GroupCase chooses the edition of the case date itself
  EXPECT_EQ(Group(g, dropped, 3), 0);
  EXPECT_EQ(dropped.request.finalDrg, 3730);
  EXPECT_EQ(dropped.request.baseDrg, 3730);
  EXPECT_EQ(dropped.request.orProcedureIndex, -1);

  // Another operating-room code stays: the second pass ends the same way,
  // and no third pass follows.
  Case kept("20010315", {"O80"}, {"Q2960"});
  EXPECT_EQ(Group(g, kept, 3), 0);
  EXPECT_EQ(kept.request.finalDrg, 4680);
  EXPECT_EQ(kept.request.mdc, 14);

  // 2002: nothing is dropped.
  Case dated("20020315", {"O80"}, {"M0101"});
  EXPECT_EQ(Group(g, dated, 3), 0);
  EXPECT_EQ(dated.request.finalDrg, 4680);
  EXPECT_EQ(dated.request.orProcedureIndex, 0);
}

TEST(GroupCase, EveryCaseStandsAlone) {
  for (int flags : {GroupFlagDecide, GroupFlagDecide | GroupFlagFinalise}) {
    SCOPED_TRACE(flags);
    Grouper fresh(Tables());
    Case alone("20010315", {"I21", "E10"}, {});
    ASSERT_EQ(Group(fresh, alone, flags), 0);
    EXPECT_EQ(fresh.state().diagnosisLevels[1], '3');

    Grouper used(Tables());
    Case first("20010315", {"O80", "E10"}, {"M0101"});
    Case second("20020315", {"I21", "E10", "E10"}, {"M0101"});
    Case again("20010315", {"I21", "E10"}, {});
    Group(used, second, 3);
    Group(used, first, 3);  // leaves 373 from its first pass behind
    ASSERT_EQ(Group(used, again, flags), 0);
    EXPECT_EQ(Outputs(used, again.request), Outputs(fresh, alone.request));
  }
  // Levels of an earlier case do not survive a case that finalisation
  // leaves early.
  Grouper g(Tables());
  Case levels("20010315", {"I21", "E10"}, {});
  Case unknown("20010315", {"K99", "E10"}, {});
  Group(g, levels, 3);
  Group(g, unknown, 3);
  EXPECT_EQ(std::string(g.state().diagnosisLevels.data(), kMaxDiagnoses), std::string(15, '0'));
}

TEST(GroupCase, SmallOutputs) {
  Grouper g(Tables());
  for (auto [age, expected] : {std::pair{17, 1}, {18, 0}, {-1, 1}}) {
    Case c("20010315", {"I21"}, {}, age);
    Group(g, c, 3);
    EXPECT_EQ(c.request.underEighteen, expected) << "age " << age;
  }
  for (auto [digit, sex] : {std::pair{0, 2}, {8, 2}, {-2, 1}, {9, 1}, {10, 1}}) {
    Case c("20010315", {"I21"}, {});
    c.request.sexDigit = static_cast<int16_t>(digit);
    Group(g, c, 3);
    EXPECT_EQ(g.state().sex, sex) << "digit " << digit;
  }
  char seven[] = "1234567";
  char nine[] = "123456789";
  Case c("20010315", {"I21"}, {});
  c.request.versionDateOut = seven;
  Group(g, c, 3);
  EXPECT_STREQ(seven, "1234567");
  c.request.versionDateOut = nine;
  Group(g, c, 3);
  EXPECT_STREQ(nine, "20050801");
}

}  // namespace
}  // namespace tallow

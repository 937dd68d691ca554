#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>

#include "grouper/test_case.h"
#include "support/table_fixture.h"

namespace tallow {
namespace {

using testing::BuildTables;
using testing::TestCase;

// Classes: 1 plain (dxMask byte 0 0x80), 2 drgKey 7, 3 MDC 0, 4 and 5 CCs,
// 6 MDC 14, 7 MDC 31, 8 dxMask byte 0 0x20, 9 ccFlag 2.
// Entries in table order: E10 0, E11 1, I20 2, I21 3, I25 4/5 (male/female),
// N18 6, N19 7, O80 8, R69 9, Z99 10. The third column is the CC row of the
// 1999 edition.
constexpr char kDiagnoses[] =
    "class 1 5 0 0 8000000000\nclass 2 5 7 0 8000000000\nclass 3 0 0 0 8000000000\n"
    "class 4 5 0 1 0080000000\nclass 5 5 0 1 0040000000\nclass 6 14 0 0 0000000000\n"
    "class 7 31 0 0 0000000000\nclass 8 5 0 0 2000000000\nclass 9 5 0 2 0000000001\n"
    "entry E10 5 21\nentry E11 4 20\nentry I20 2\nentry I21 1 10\nentry I25 1 11\n"
    "entry I25 1 12\nentry N18 8\nentry N19 9\nentry O80 6\nentry R69 3\nentry Z99 7\n";

// Rows 0-7: P0001-P0003 operating-room procedures with procMask byte 0 bits
// 0x01, 0x02, 0x03; P0004 second property, nonOrMask 0x01; P0005 nonOrMask
// 0x02; P0006/P0007 the two halves of a pair; P0008 the further bytes.
constexpr char kProcedures[] =
    "row P0001 20020101 20991231 0:01,1:01\nrow P0002 20020101 20991231 0:01,1:02\n"
    "row P0003 20020101 20991231 0:01,1:03\nrow P0004 20020101 20991231 0:02,21:01\n"
    "row P0005 20020101 20991231 21:02\nrow P0006 20020101 20991231 19:04\n"
    "row P0007 20020101 20991231 20:04\nrow P0008 20020101 20991231 23:01,24:02,25:04\n";

struct Demographics {
  int age = 40;
  int sex = 1;
  int status = 1;
};

// A case of 2002 decided over the tables above with the given rules.
std::unique_ptr<TestCase> Decided(const std::string& rules, std::initializer_list<const char*> dx,
                                  std::initializer_list<const char*> px, Demographics d = {}) {
  auto tables = BuildTables({{"DXTAB0", kDiagnoses},
                             {"SGTAB0", kProcedures},
                             {"CCTAB0", "row 1 4\n"},
                             {"DGTAB0", rules}});
  if (!tables) return nullptr;
  auto t = std::make_unique<TestCase>(tables, "20020315");
  t->s.age = d.age;
  t->s.sex = static_cast<int16_t>(d.sex);
  t->s.dischargeStatus = d.status;
  t->Diagnoses(dx);
  t->Procedures(px);
  t->Decide();
  return t;
}

TEST(ResetDecision, DemographicBits) {
  struct Case {
    const char* name;
    Demographics d;
    uint8_t byte0, byte1, errors;
  } cases[] = {
      {"age 17", {17, 1, 0}, 0x01, 0x80, 0},
      {"age 18", {18, 1, 0}, 0x81, 0x80, 0},
      {"age 35", {35, 1, 0}, 0x81, 0x80, 0},
      {"age 36", {36, 1, 0}, 0x81, 0xA0, 0},
      {"age 124", {124, 1, 0}, 0x81, 0xA0, 0},
      {"age 125", {125, 1, 0}, 0x01, 0x80, kAgeInvalid},
      {"age -1", {-1, 1, 0}, 0x01, 0x80, kAgeInvalid},
      {"sex 2, status 4", {30, 2, 4}, 0x86, 0x00, 0},
      {"sex 0, status 9", {30, 0, 9}, 0x80, 0x80, kSexInvalid},
      {"status -1", {30, 1, -1}, 0x81, 0x00, kStatusInvalid},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GroupState s;
    s.age = c.d.age;
    s.sex = static_cast<int16_t>(c.d.sex);
    s.dischargeStatus = c.d.status;
    s.mdc = 7;
    s.groupStatus = 0;
    ResetDecision(s);
    EXPECT_EQ(s.caseMask[0], c.byte0);
    EXPECT_EQ(s.caseMask[1], c.byte1);
    EXPECT_EQ(s.caseErrors, c.errors);
    EXPECT_EQ(s.mdc, 24);
    EXPECT_EQ(s.groupStatus, 1);
  }
}

TEST(DecideDrg, CaseMaskFromDiagnosesAndProcedures) {
  // No rules for MDC 5: the walk ends with status 2 and leaves the mask.
  auto t = Decided("", {"I21", "E10", "N18", "K99", "E11", "N19"}, {"P0001", "P0008", "P0004", "X0000"});
  ASSERT_TRUE(t);
  const GroupState& s = t->s;
  EXPECT_EQ(s.mdc, 5);
  EXPECT_EQ(s.groupStatus, 2);
  EXPECT_EQ(s.caseMask[0] & 0x18, 0x18);  // CC and operating-room procedure
  EXPECT_EQ(s.ccIndex, 1);
  const std::array<uint8_t, 15> dx = {0x80, 0, 0, 0, 0, 0x20, 0xC0, 0, 0, 0x01, 0xA0, 0xC0, 0, 0, 0x01};
  for (int k = 0; k < 15; ++k) EXPECT_EQ(s.caseMask[3 + k], dx[k]) << "byte " << 3 + k;
  EXPECT_EQ(s.caseMask[18], 0x01);
  EXPECT_EQ(s.caseMask[38], 0x01);
  EXPECT_EQ(s.caseMask[40], 0x01);
  EXPECT_EQ(s.caseMask[41], 0x02);
  EXPECT_EQ(s.caseMask[42], 0x04);
  EXPECT_TRUE(s.bit1ProcedurePresent);
  EXPECT_EQ(s.procedureWork[0].workFlags, 0x01);
  EXPECT_EQ(s.procedureWork[2].workFlags, 0x00);
  EXPECT_EQ(s.procedureWork[2].nonOrMask[0], 0x01);
  EXPECT_EQ(s.diagnosisWork[2].dxMask[0], 0x20);
}

TEST(DecideDrg, UnusablePrincipalDiagnosis) {
  struct Case {
    const char* name;
    const char* principal;
    int mdc, status, ccIndex;
  } cases[] = {
      {"blank", nullptr, 24, 1, -1},
      {"absent", "K99", 24, 1, -1},
      {"malformed", "I2X", 24, 1, -1},
      {"class without MDC", "R69", 0, 1, -1},
      {"MDC without rule list", "Z99", 31, 2, 1},  // the walk keeps what the first half found
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto t = Decided("rule 24 1010 0 -\nrule 5 1020 0 -\n", {c.principal, "E10"}, {});
    ASSERT_TRUE(t);
    EXPECT_EQ(t->s.mdc, c.mdc);
    EXPECT_EQ(t->s.groupStatus, c.status);
    EXPECT_EQ(t->s.baseDrg, 4700);
    EXPECT_EQ(t->s.ccIndex, c.ccIndex);
  }
  // Without any diagnosis the rules of the reset MDC 24 are walked.
  auto t = Decided("rule 24 1010 0 -\n", {}, {});
  ASSERT_TRUE(t);
  EXPECT_EQ(t->s.baseDrg, 1010);
}

TEST(DecideDrg, ProcedurePair) {
  auto t = Decided("", {"I21"}, {"P0007", "P0006", "P0005"});
  ASSERT_TRUE(t);
  const GroupState& s = t->s;
  EXPECT_EQ(s.caseMask[0] & 0x08, 0x08);  // though no class is an operating-room one
  EXPECT_EQ(s.procedureWork[0].workFlags, 0x03);
  EXPECT_EQ(s.procedureWork[1].workFlags, 0x03);
  EXPECT_EQ(s.procedureWork[2].workFlags, 0x00);
  EXPECT_EQ(s.pairFirstIndex, 1);
  EXPECT_EQ(s.pairSecondIndex, 0);
}

struct WalkCase {
  const char* name;
  const char* rule;  // REQUIRE of an MDC 5 rule for DRG 1010 (with key 0), or a whole rule line
  std::initializer_list<const char*> dx;
  std::initializer_list<const char*> px;
  int expected;  // 1010 when the rule was accepted, 1990 when rejected
};

std::string RulesWithFallback(const char* rule) {
  const std::string first = std::string(rule).rfind("rule", 0) == 0 ? rule : std::string("rule 5 1010 0 ") + rule;
  return first + "\nrule 5 1990 0 -\n";
}

TEST(DecideDrg, RuleConditions) {
  const WalkCase cases[] = {
      {"key differs", "rule 5 1010 7 -", {"I21"}, {}, 1990},
      {"key equal", "rule 5 1010 7 -", {"I20"}, {}, 1010},
      {"every OR covered, no procedure", "2:01", {"I21"}, {}, 1990},
      {"every OR covered, none is OR", "2:01", {"I21"}, {"P0005"}, 1010},
      {"every OR covered, all are", "2:01,19:01", {"I21"}, {"P0001", "P0003", "P0005"}, 1010},
      {"every OR covered, one is not", "2:01,19:01", {"I21"}, {"P0001", "P0002"}, 1990},
      {"some OR uncovered, no procedure", "3:40,19:01", {"I21"}, {}, 1990},
      {"some OR uncovered, all covered", "3:40,19:01", {"I21"}, {"P0001", "P0003"}, 1990},
      {"some OR uncovered, one is", "3:40,19:01", {"I21"}, {"P0001", "P0002"}, 1010},
      {"every dx covered", "2:08,14:80", {"I21", "I25"}, {}, 1010},
      {"every dx covered, a secondary is not", "2:08,14:80", {"I21", "N18"}, {}, 1990},
      {"every dx covered, unknown codes ignored", "2:08,14:80", {"I21", "K99"}, {}, 1010},
      {"two OR covered", "3:80,19:03", {"I21"}, {"P0001", "P0002"}, 1010},
      {"two OR covered, only one", "3:80,19:03", {"I21"}, {"P0001", "P0005"}, 1990},
      {"two OR covered, no procedure", "3:80", {"I21"}, {}, 1990},
      {"no second property, present", "3:20", {"I21"}, {"P0004"}, 1990},
      {"no second property, absent", "3:20", {"I21"}, {"P0005"}, 1010},
      {"ignored bit", "2:04", {"I21"}, {}, 1010},
      {"bit no case sets", "3:01", {"I21"}, {}, 1990},
      {"CC demanded, none", "1:10", {"I21", "N18", "N19"}, {}, 1990},
      {"CC demanded, present", "1:10", {"I21", "E10"}, {}, 1010},
      {"principal mask", "4:80", {"I21"}, {}, 1010},
      {"secondary mask is not the principal's", "9:80", {"I21"}, {}, 1990},
      {"any diagnosis mask", "14:20", {"I21", "N18"}, {}, 1010},
      {"further procedure bytes", "41:01,42:02", {"I21"}, {"P0008"}, 1010},
      {"pair counts as OR", "1:08", {"I21"}, {"P0006", "P0007"}, 1010},
  };
  for (const WalkCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto t = Decided(RulesWithFallback(c.rule), c.dx, c.px);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->s.baseDrg, c.expected);
    EXPECT_EQ(t->s.groupStatus, 0);
  }
}

TEST(DecideDrg, SomeUncoveredProcedureIsRecorded) {
  auto t = Decided("rule 5 1010 0 3:40,19:01\n", {"I21"}, {"P0001", "P0002", "P0002"});
  ASSERT_TRUE(t);
  EXPECT_EQ(t->s.secondOrProcedureIndex, 1);
}

TEST(DecideDrg, ValidityStops) {
  struct Case {
    const char* name;
    Demographics d;
    const char* rule;
    int status, baseDrg;
  } cases[] = {
      {"age tested", {-1, 1, 1}, "rule 5 1010 0 1:80", 3, 4700},
      {"age 36 tested", {125, 1, 1}, "rule 5 1010 0 2:20", 3, 4700},
      {"stop comes before the comparison", {-1, 1, 1}, "rule 5 1010 0 1:90", 3, 4700},
      {"age not tested", {-1, 1, 1}, "rule 5 1010 0 -", 0, 1010},
      {"rule skipped by key first", {-1, 1, 1}, "rule 5 1010 7 1:80", 0, 1990},
      {"sex tested", {30, 3, 1}, "rule 5 1010 0 1:01", 4, 4700},
      {"age before sex", {-1, 3, 1}, "rule 5 1010 0 1:81", 3, 4700},
      {"status tested, 1240", {30, 1, -1}, "rule 5 1240 0 1:04", 5, 4700},
      {"status tested, 1231", {30, 1, -1}, "rule 5 1231 0 2:02", 5, 4700},
      {"status tested, 1220 otherwise matching", {30, 1, -1}, "rule 5 1220 0 2:80", 5, 4700},
      {"status tested, 1210 otherwise matching", {30, 1, -1}, "rule 5 1210 0 2:40", 5, 4700},
      {"status tested, 1220 not matching", {30, 1, -1}, "rule 5 1220 0 2:80,1:10", 0, 1990},
      {"status valid", {30, 1, 1}, "rule 5 1220 0 2:80", 0, 1220},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto t = Decided(RulesWithFallback(c.rule), {"I21"}, {}, c.d);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->s.groupStatus, c.status);
    EXPECT_EQ(t->s.baseDrg, c.baseDrg);
    EXPECT_EQ(t->s.mdc, 5);
  }
}

TEST(DecideDrg, UnrelatedProcedureRepeatWalk) {
  struct Case {
    const char* name;
    const char* rules;
    std::initializer_list<const char*> px;
    int age;
    int baseDrg, mdc, status;
  } cases[] = {
      {"MDC 30 rule decides", "rule 30 4681 0 1:08\nrule 30 4690 0 -", {"P0001"}, 40, 4681, 5, 0},
      {"first MDC 30 rule rejected", "rule 30 4681 0 1:08\nrule 30 4690 0 -", {}, 40, 4690, 5, 0},
      {"MDC 30 gives 4680 again", "rule 30 4680 0 -", {}, 40, 4680, 5, 0},
      {"MDC 30 without rules", "", {}, 40, 4700, 30, 2},
      {"MDC 30 stops", "rule 30 4681 0 1:80", {}, -1, 4700, 30, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto t = Decided(std::string("rule 5 4680 0 -\nrule 5 1010 0 -\n") + c.rules, {"I21"}, c.px, {c.age, 1, 1});
    ASSERT_TRUE(t);
    EXPECT_EQ(t->s.baseDrg, c.baseDrg);
    EXPECT_EQ(t->s.mdc, c.mdc);
    EXPECT_EQ(t->s.groupStatus, c.status);
  }
}

TEST(DecideDrg, RecordsTheCodesUsed) {
  struct Case {
    const char* name;
    const char* rules;
    std::initializer_list<const char*> dx;
    std::initializer_list<const char*> px;
    // orProcedure, secondOrProcedure, nonOrProcedure, secondNonOrProcedure,
    // secondary, secondSecondary, cc
    std::array<int, 7> indexes;
  } cases[] = {
      {"pair, rule without procedure bits", "rule 5 1010 0 1:08", {"I21"}, {"P0007", "P0006"},
       {1, 0, -1, -1, -1, -1, -1}},
      {"single OR, rule without procedure bits", "rule 5 1010 0 1:08", {"I21"},
       {"P0005", "P0001", "P0002"}, {1, -1, -1, -1, -1, -1, -1}},
      {"first covered procedure", "rule 5 1010 0 1:08,19:01", {"I21"}, {"P0002", "P0001", "P0003"},
       {1, -1, -1, -1, -1, -1, -1}},
      {"narrowed mask finds a second", "rule 5 1010 0 1:08,19:03", {"I21"}, {"P0001", "P0002"},
       {0, 1, -1, -1, -1, -1, -1}},
      {"no OR recording without byte 1 0x08", "rule 5 1010 0 19:01", {"I21"}, {"P0001"},
       {-1, -1, -1, -1, -1, -1, -1}},
      {"two demanded", "rule 5 1010 0 1:08,3:80,19:01", {"I21"}, {"P0001", "P0003", "P0002"},
       {0, 1, -1, -1, -1, -1, -1}},
      {"two non-OR procedures", "rule 5 1010 0 39:03", {"I21"}, {"P0001", "P0004", "P0005"},
       {-1, -1, 1, 2, -1, -1, -1}},
      {"one non-OR covers the mask", "rule 5 1010 0 39:01", {"I21"}, {"P0004", "P0005"},
       {-1, -1, 0, -1, -1, -1, -1}},
      {"two secondaries", "rule 5 1010 0 14:20,10:40", {"I21", "E10", "N18", "N18"}, {},
       {-1, -1, -1, -1, 1, 2, -1}},
      {"one secondary covers the mask", "rule 5 1010 0 14:20", {"I21", "E10", "N18", "N18"}, {},
       {-1, -1, -1, -1, 2, -1, -1}},
      {"3910 records no secondary", "rule 5 3910 0 14:20", {"I21", "N18"}, {}, {-1, -1, -1, -1, -1, -1, -1}},
      {"3900 takes the first outside the every-dx mask",
       "rule 5 1010 0 2:08,14:20\nrule 5 3900 0 -", {"I21", "N18", "E10"}, {},
       {-1, -1, -1, -1, 2, -1, -1}},
      {"CC kept when demanded", "rule 5 1010 0 1:10", {"I21", "N18", "E10", "E11"}, {},
       {-1, -1, -1, -1, -1, -1, 2}},
      {"CC dropped otherwise", "rule 5 1010 0 -", {"I21", "N18", "E10"}, {}, {-1, -1, -1, -1, -1, -1, -1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto t = Decided(c.rules, c.dx, c.px);
    ASSERT_TRUE(t);
    const GroupState& s = t->s;
    EXPECT_EQ(s.groupStatus, 0);
    const std::array<int, 7> got = {s.orProcedureIndex,    s.secondOrProcedureIndex,
                                    s.nonOrProcedureIndex, s.secondNonOrProcedureIndex,
                                    s.secondaryIndex,      s.secondSecondaryIndex,
                                    s.ccIndex};
    EXPECT_EQ(got, c.indexes);
    EXPECT_FALSE(s.twoProceduresDemanded);
  }
}

TEST(IsCcExcluded, TablesByDate) {
  auto tables = BuildTables({{"DXTAB9", kDiagnoses},
                             {"DXTAB0", kDiagnoses},
                             {"DXTAB1", kDiagnoses},
                             {"CCTAB", "row 10 0 20\nrow 12 0 20+1\n"},
                             {"CCTAB0", "row -1 3,4\nrow 1 4\n"}});
  ASSERT_NE(tables, nullptr);
  struct Case {
    const char* name;
    const char* date;
    const char* principal;
    int sex;
    int excluded;  // of E11 and of E10
    int excludedE10;
  } cases[] = {
      {"1999 edition, principal row", "20010101", "I21", 1, 1, 0},
      {"1999 edition, male entry of a pair", "20010101", "I25", 1, 0, 0},
      {"1999 edition, female entry of a pair", "20010101", "I25", 2, 1, 1},
      {"1999 edition, principal in no row", "20010101", "N18", 1, 0, 0},
      {"2002 edition, first entry of a pair", "20020315", "I25", 1, 1, 0},
      {"2002 edition, female uses the first entry", "20020315", "I25", 2, 1, 0},
      {"2002 edition, principal not listed", "20020315", "I21", 1, 0, 0},
      {"2003 edition has its own table", "20030101", "I25", 2, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestCase t(tables, c.date);
    t.s.sex = static_cast<int16_t>(c.sex);
    t.Diagnoses({c.principal, "E11", "E10", "K99"});
    t.LookUp();
    EXPECT_EQ(IsCcExcluded(t.s, t.s.diagnosisEntry[1], 1), c.excluded);
    EXPECT_EQ(IsCcExcluded(t.s, t.s.diagnosisEntry[2], 2), c.excludedE10);
    EXPECT_EQ(IsCcExcluded(t.s, t.s.diagnosisEntry[3], 3), 0);
  }
}

}  // namespace
}  // namespace tallow

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "grouper/code_maps.h"
#include "grouper/test_case.h"

namespace tallow {
namespace {

using testing::TestCase;

struct Conversion {
  const char* name;
  const char* date;
  const char* code;
  const char* expected;  // five characters
};

// Case dates at the edges of every window and the cases where several steps
// meet the same code (later steps decide, nothing chains).
const Conversion kConversions[] = {
    {"before every window", "19991114", "C8531", "C8531"},
    {"1999 list on its first day", "19991115", "C8531", "C8530"},
    {"1999 list on its last day", "20011231", "M0031", "M0030"},
    {"no conversion from 2002", "20020101", "C8531", "C8531"},
    {"withdrawn code", "20000615", "C8530", "     "},
    {"withdrawn code, its last day", "20011231", "S5170", "     "},
    {"N0471 before its window", "20000307", "N0471", "N0471"},
    {"N0471 on its first day", "20000308", "N0471", "N0470"},
    {"N0471, February 2001 list decides", "20010315", "N0471", "N0461"},
    {"P4555 before its window", "20000331", "P4555", "P4555"},
    {"P4555 withdrawn", "20000401", "P4555", "     "},
    {"C8592 by the 2000 list", "20000615", "C8592", "P4555"},
    {"C8592, January 2001 list decides", "20010115", "C8592", "P4551"},
    {"C8592, February 2001 list decides", "20010315", "C8592", "P4555"},
    {"S5521 before its window", "20000430", "S5521", "S5521"},
    {"S5521 on its first day", "20000501", "S5521", "S5520"},
    {"S5522", "20011231", "S5522", "S5520"},
    {"Q2992 by the 1999 list", "20000615", "Q2992", "Q2981"},
    {"Q2992 in January 2001", "20010115", "Q2992", "Q2962"},
    {"Q2992 from February 2001", "20010315", "Q2992", "Q2986"},
    {"January 2001 list, first day", "20010101", "R3433", "R3512"},
    {"January 2001 list, last day", "20010131", "R3433", "R3512"},
    {"R3512 is converted itself, not after R3433", "20010115", "R3512", "R3972"},
    {"February 2001 list, first day", "20010201", "R3433", "R3431"},
    {"R3433 in December 2000", "20001231", "R3433", "R3433"},
    {"R3241 by the 1999 list", "20000615", "R3241", "R3250"},
    {"R3241 to a withdrawn code", "20010315", "R3241", "R3240"},
    {"letter in the second position", "20010115", "SB023", "M0101"},
    {"00000 is no blank for the lists", "20000615", "00000", "00000"},
    {"blank date", "        ", "C8531", "C8531"},
};

TEST(PrepareCaseCodes, ConvertsProceduresByDate) {
  const CodeConversions index(nullptr);
  const CodeConversions* const ways[] = {nullptr, &index};
  for (const CodeConversions* by : ways) {
    for (const Conversion& c : kConversions) {
      SCOPED_TRACE(std::string(c.name) + (by != nullptr ? ", by the index" : ", by the lists"));
      TestCase t(nullptr, c.date);
      t.s.conversions = by;
      t.Procedures({"Q2950", c.code, nullptr});
      EXPECT_EQ(PrepareCaseCodes(t.s), 0);
      EXPECT_EQ(t.WorkProcedure(0), "Q2950");
      EXPECT_EQ(t.WorkProcedure(1), c.expected);
      EXPECT_EQ(t.WorkProcedure(2), "     ");
      EXPECT_EQ(t.s.procedureWork[1].code[5], '\0');
    }
  }
}

TEST(PrepareCaseCodes, CopiesDiagnosesUnchanged) {
  TestCase t(nullptr, "20000615");
  t.Diagnoses({"C8531", "P4555", nullptr, "O800"});
  t.Procedures({});
  PrepareCaseCodes(t.s);
  EXPECT_EQ(t.WorkDiagnosis(0), "C8531");
  EXPECT_EQ(t.WorkDiagnosis(1), "P4555");
  EXPECT_EQ(t.WorkDiagnosis(2), "     ");
  EXPECT_EQ(t.WorkDiagnosis(3), "O800 ");
}

TEST(PrepareCaseCodes, CompleteListFromTheTablesReplacesTheBuiltInOne) {
  auto tables = std::make_shared<TableSet>();
  tables->codeMap2001.present = true;
  tables->codeMap2001.pairs = {{{'Q', '2', '9', '9', '2'}, {'Q', '2', '9', '9', '9'}}};
  const CodeConversions index(tables.get());
  const CodeConversions* const ways[] = {nullptr, &index};
  for (const CodeConversions* by : ways) {
    SCOPED_TRACE(by != nullptr ? "by the index" : "by the lists");
    TestCase t(tables, "20010315");
    t.s.conversions = by;
    t.Procedures({"Q2992", "R3433", "N0471"});
    PrepareCaseCodes(t.s);
    EXPECT_EQ(t.WorkProcedure(0), "Q2999");
    EXPECT_EQ(t.WorkProcedure(1), "R3433");  // built-in pair not used
    EXPECT_EQ(t.WorkProcedure(2), "N0470");  // earlier steps still apply

    t.Date("20010115");  // the January list is still the built-in one
    PrepareCaseCodes(t.s);
    EXPECT_EQ(t.WorkProcedure(1), "R3512");
  }
}

// The index of every code the lists name gives the work code the lists give,
// on a day in and at each edge of every window, for the built-in lists and
// for complete lists from the tables (one of them naming a code twice);
// so do the neighbours of those codes and codes ending early at a NUL.
TEST(PrepareCaseCodes, IndexConvertsAsTheListsDo) {
  auto tables = std::make_shared<TableSet>();
  tables->codeMapJan2001.present = true;
  tables->codeMapJan2001.pairs = {{{'N', '0', '4', '7', '1'}, {'Q', '2', '9', '9', '9'}},
                                  {{'Q', '2', '9', '9', '2'}, {'S', '5', '5', '2', '1'}}};
  tables->codeMap2001.present = true;
  tables->codeMap2001.pairs = {{{'C', '8', '5', '3', '0'}, {'P', '4', '5', '5', '5'}},
                               {{'P', '4', '5', '5', '5'}, {'N', '0', '4', '7', '0'}},
                               {{'P', '4', '5', '5', '5'}, {'N', '0', '4', '7', '1'}},
                               {{'S', '5', '\0', '2', '1'}, {'S', '5', '5', '2', '0'}}};
  const char* const dates[] = {"19991114", "19991115", "20000307", "20000308", "20000331",
                               "20000401", "20000430", "20000501", "20001231", "20010101",
                               "20010131", "20010201", "20011231", "20020101", "        "};
  const TableSet* const sets[] = {nullptr, tables.get()};
  for (const TableSet* set : sets) {
    std::vector<std::string> codes = {"N0471", "P4555", "S5521", "S5522",
                                      std::string("S5\0  ", 5), std::string("N04\0 ", 5)};
    for (const RowCode& code : WithdrawnCodes1999()) codes.emplace_back(code.data(), 5);
    for (CodeMap map : {CodeMap1999(), CodeMap2000(), ActiveCodeMapJan2001(set),
                        ActiveCodeMap2001(set)}) {
      for (const CodePair& pair : map) codes.emplace_back(pair.from.data(), 5);
    }
    const std::size_t listed = codes.size();
    for (std::size_t i = 0; i < listed; ++i) {
      for (char last : {'0', '9', ' '}) codes.push_back(codes[i].substr(0, 4) + last);
    }
    const CodeConversions index(set);
    int changed = 0;
    for (const char* date : dates) {
      for (const std::string& code : codes) {
        TestCase lists(nullptr, date);
        TestCase indexed(nullptr, date);
        lists.s.tables = indexed.s.tables = set;
        indexed.s.conversions = &index;
        lists.Procedures({"     "});
        indexed.Procedures({"     "});
        lists.request.procedureCodes[0] = indexed.request.procedureCodes[0] = code.data();
        PrepareCaseCodes(lists.s);
        PrepareCaseCodes(indexed.s);
        ASSERT_EQ(indexed.WorkProcedure(0), lists.WorkProcedure(0))
            << (set != nullptr ? "table lists" : "built-in lists") << ", " << date << ", "
            << code;
        changed += lists.WorkProcedure(0) != code;
      }
    }
    EXPECT_GT(changed, 1000);
  }
}

// Codes laid out one after another (as in the case line) take the wide scan
// for the span; codes apart, or a null among them, take the scan code by
// code. A state reused for many cases blanks only what an earlier case
// filled. Both give the spans and work codes a fresh state gives, over codes
// with blanks, NULs and other characters in every place, for every count and
// with the references moving between cases.
TEST(PrepareCaseCodes, CodesInARowPrepareAsCodesApart) {
  constexpr int kAll = kMaxDiagnoses + kMaxProcedures;
  std::mt19937 random(11);
  auto pick = [&random](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  const char kChars[] = {' ', ' ', ' ', ' ', 'A', '1', '\0', '0', 'Z'};
  std::vector<char> rows(2 * kAll * kCodeLength + 3);  // two rows, the second not aligned
  std::vector<std::array<char, 8>> apart(kAll);       // codes three characters apart
  GroupState inRow;
  GroupState byCode;
  GroupRequest inRowRequest;
  GroupRequest byCodeRequest;
  inRow.request = &inRowRequest;
  byCode.request = &byCodeRequest;
  inRow.caseDate = byCode.caseDate = "20030315";
  int wide = 0;
  for (int n = 0; n < 20000; ++n) {
    const int diagnoses = pick(kMaxDiagnoses + 1);
    const int procedures = pick(kMaxProcedures + 1);
    char* row = rows.data() + (n % 5 == 4 ? kAll * kCodeLength + 3 : 0);
    for (int k = 0; k < kAll; ++k) {
      char* code = row + k * kCodeLength;
      const int kind = pick(4);  // blank, one character, any characters, a code
      std::memcpy(code, "     ", kCodeLength);
      if (kind == 1) code[pick(kCodeLength)] = kChars[pick(std::size(kChars))];
      if (kind == 2) for (int c = 0; c < kCodeLength; ++c) code[c] = kChars[pick(std::size(kChars))];
      if (kind == 3) std::memcpy(code, "C8531", kCodeLength);
      std::memcpy(apart[static_cast<std::size_t>(k)].data(), code, kCodeLength);
    }
    const bool withNull = n % 7 == 6;
    for (int i = 0; i < kMaxDiagnoses; ++i) {
      inRowRequest.diagnosisCodes[i] = row + i * kCodeLength;
      byCodeRequest.diagnosisCodes[i] = apart[static_cast<std::size_t>(i)].data();
    }
    for (int j = 0; j < kMaxProcedures; ++j) {
      const int k = kMaxDiagnoses + j;
      inRowRequest.procedureCodes[j] = row + k * kCodeLength;
      byCodeRequest.procedureCodes[j] = apart[static_cast<std::size_t>(k)].data();
    }
    if (withNull) {
      const int i = pick(kMaxDiagnoses);
      const int j = pick(kMaxProcedures);
      inRowRequest.diagnosisCodes[i] = byCodeRequest.diagnosisCodes[i] = nullptr;
      inRowRequest.procedureCodes[j] = byCodeRequest.procedureCodes[j] = nullptr;
    }
    GroupState fresh;
    GroupRequest freshRequest = byCodeRequest;
    fresh.request = &freshRequest;
    fresh.caseDate = inRow.caseDate;
    for (GroupState* s : {&inRow, &byCode, &fresh}) {
      s->diagnosisCount = diagnoses;
      s->procedureCount = procedures;
      ASSERT_EQ(PrepareCaseCodes(*s), 0);
    }
    wide += !withNull && diagnoses > 0 && procedures > 0;
    for (const GroupState* s : {&inRow, &byCode}) {
      ASSERT_EQ(s->diagnosisSpan, fresh.diagnosisSpan) << n;
      ASSERT_EQ(s->procedureSpan, fresh.procedureSpan) << n;
      for (int i = 0; i < diagnoses; ++i) {
        ASSERT_EQ(std::memcmp(s->diagnosisWork[i].code, fresh.diagnosisWork[i].code, 6), 0) << n << " " << i;
      }
      for (int j = 0; j < procedures; ++j) {
        ASSERT_EQ(std::memcmp(s->procedureWork[j].code, fresh.procedureWork[j].code, 6), 0) << n << " " << j;
      }
      for (int i = s->diagnosisWorkBlankFrom; i < kMaxDiagnoses; ++i) {
        ASSERT_EQ(std::memcmp(s->diagnosisWork[i].code, "     ", 6), 0) << n << " " << i;
      }
      for (int j = s->procedureWorkBlankFrom; j < kMaxProcedures; ++j) {
        ASSERT_EQ(std::memcmp(s->procedureWork[j].code, "     ", 6), 0) << n << " " << j;
      }
    }
  }
  EXPECT_GT(wide, 10000);
}

TEST(CodeMaps, ListsAreSortedWithoutRepeatsAndFindEveryFromCode) {
  for (CodeMap map : {CodeMap1999(), CodeMap2000(), BuiltInCodeMapJan2001(), BuiltInCodeMap2001()}) {
    for (std::size_t i = 0; i < map.size(); ++i) {
      if (i > 0) {
        EXPECT_LT(CompareCodes(map[i - 1].from.data(), map[i].from.data()), 0);
      }
      const RowCode* to = FindConversion(map, map[i].from.data());
      ASSERT_NE(to, nullptr);
      EXPECT_EQ(*to, map[i].to);
    }
  }
  EXPECT_EQ(CodeMap1999().size(), 127u);
  EXPECT_EQ(CodeMap2000().size(), 5u);
  EXPECT_EQ(WithdrawnCodes1999().size(), 44u);
  EXPECT_EQ(FindConversion(CodeMap1999(), "C8530"), nullptr);
  EXPECT_TRUE(ContainsCode(WithdrawnCodes1999(), "S5171"));
  EXPECT_FALSE(ContainsCode(WithdrawnCodes1999(), "S5172"));
}

}  // namespace
}  // namespace tallow

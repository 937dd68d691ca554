// Groupers on several threads share one table set and must group exactly as
// one grouper alone does: nothing of a grouping may live outside its Grouper.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/grouper.h"
#include "tables/loader.h"
#include "toolkit/toolkit.h"

namespace tallow {
namespace {

struct Outcome {
  int16_t result, mdc, baseDrg, finalDrg, finaliseStatus;
  int32_t groupCode;
  std::array<char, kMaxDiagnoses> levels;
  bool operator==(const Outcome&) const = default;
};

// Fixed-width case texts: identifier, date and modifiers, 15 diagnoses, 20
// procedures, drawn from the codes of the table set.
struct CaseText {
  char identifier[8];
  char date[8];
  char modifiers[5];
  char dx[kMaxDiagnoses][5];
  char px[kMaxProcedures][5];
  int16_t age, sexDigit;
};

std::vector<CaseText> MakeCases(const TableSet& tables, int count) {
  std::vector<std::string> dx;
  const DiagnosisTable& d = tables.diagnosis[static_cast<int>(Edition::k0)];
  for (int c = 0; c < kCategorySlots; c += 3) {
    for (int e = d.categoryStart[c]; e < d.categoryStart[c] + d.categoryCount[c]; ++e) {
      dx.push_back(CodeText(c, d.entryTail[e]));
    }
  }
  std::vector<std::string> px;
  for (const RowCode& code : tables.datedProcedure.codes) px.emplace_back(code.data(), 5);
  static const char* const kDates[] = {"19980615", "19990715", "20000615", "20010115",
                                       "20020615", "20030615", "20040101"};
  std::vector<CaseText> cases(static_cast<size_t>(count));
  uint32_t x = 12345;
  auto next = [&x] { return x = x * 1664525u + 1013904223u, x >> 8; };
  for (CaseText& c : cases) {
    std::memcpy(c.identifier, next() % 5 == 0 ? "99099999" : "12345678", 8);
    std::memcpy(c.date, kDates[next() % 7], 8);
    std::memcpy(c.modifiers, next() % 2 ? "SBL  " : "     ", 5);
    for (auto& code : c.dx) std::memcpy(code, next() % 3 ? dx[next() % dx.size()].data() : "     ", 5);
    for (auto& code : c.px) std::memcpy(code, next() % 2 ? px[next() % px.size()].data() : "     ", 5);
    c.age = static_cast<int16_t>(next() % 90);
    c.sexDigit = static_cast<int16_t>(next() % 10);
  }
  return cases;
}

Outcome Group(Grouper& grouper, const CaseText& c) {
  GroupRequest request;
  for (int i = 0; i < kMaxDiagnoses; ++i) request.diagnosisCodes[i] = c.dx[i];
  for (int i = 0; i < kMaxProcedures; ++i) request.procedureCodes[i] = c.px[i];
  request.diagnosisCount = kMaxDiagnoses;
  request.procedureCount = kMaxProcedures;
  request.age = c.age;
  request.sexDigit = c.sexDigit;
  request.dischargeStatus = 1;
  request.lengthOfStay = 4;
  grouper.SetCaseFields(c.identifier, c.date, c.modifiers);
  grouper.SelectEdition(c.date);
  const int16_t result = grouper.GroupCase(request, GroupFlagDecide | GroupFlagFinalise);
  return {result,           request.mdc,       request.baseDrg,
          request.finalDrg, request.finaliseStatus, request.groupCode,
          grouper.state().diagnosisLevels};
}

TEST(ThreadsTest, GroupersOnSeveralThreadsAgreeWithOneGrouper) {
  auto loaded = LoadTablesFromImages(SynthTables(31));
  ASSERT_TRUE(loaded.ok()) << loaded.message();
  const std::shared_ptr<const TableSet> tables = *loaded;
  const std::vector<CaseText> cases = MakeCases(*tables, 3000);

  std::vector<Outcome> expected;
  Grouper alone(tables);
  for (const CaseText& c : cases) expected.push_back(Group(alone, c));
  // The mix must reach many DRGs and codes, or agreement would prove little.
  std::set<int> drgs, codes;
  for (const Outcome& o : expected) drgs.insert(o.finalDrg), codes.insert(o.groupCode);
  ASSERT_GT(drgs.size(), 20u);
  ASSERT_GT(codes.size(), 20u);

  constexpr int kThreads = 4;
  std::vector<std::vector<Outcome>> got(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      Grouper grouper(tables);
      // Each thread walks the cases from a different start, so neighbouring
      // cases differ between threads.
      got[t].resize(cases.size());
      for (size_t k = 0; k < cases.size(); ++k) {
        const size_t i = (k + static_cast<size_t>(t) * 731) % cases.size();
        got[t][i] = Group(grouper, cases[i]);
      }
    });
  }
  for (std::thread& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) {
    for (size_t i = 0; i < cases.size(); ++i) {
      ASSERT_TRUE(got[t][i] == expected[i]) << "thread " << t << ", case " << i;
    }
  }
}

}  // namespace
}  // namespace tallow

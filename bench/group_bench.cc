// Speed of the grouper on a synthetic full-size table set.
//
//   BM_LoadTables   parse and validate all twenty-two files (from memory)
//   BM_Parse        the request fields of one case line (PrepareRequest)
//   BM_Lookup       code preparation and the lookups of one pass
//   BM_Walk         the decision of one pass: case mask and rule walk
//   BM_Finalise     finalisation and the refined group code of one pass
//   BM_GroupCase    one GroupCase call per iteration
//   BM_BatchStream  the whole batch loop: read a line, group, write a line
//
// The stages and GroupCase run over the same mix of case lines as the large
// input: every edition, 1-10 diagnoses, 0-20 procedures, newborns, exempt
// identifiers, a few unknown codes. A stage runs on states that the stages
// before it have prepared, so its figure is its own.
//
// Numbers from an unoptimised build mean little; `make bench` builds with
// optimisation.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/batch.h"
#include "app/case_line.h"
#include "engine/grouper.h"
#include "grouper/decide.h"
#include "grouper/lookup.h"
#include "grouper/prepare.h"
#include "grouper/values.h"
#include "refine/refine.h"
#include "tables/loader.h"
#include "toolkit/code_pool.h"
#include "toolkit/split_mix.h"
#include "toolkit/toolkit.h"

namespace tallow {
namespace {

uint64_t Next(uint64_t& state) {  // splitmix64
  return tallow::SplitMix64(state);
}

const TableImages& Images() {
  static const TableImages images = SynthTables(20261208);
  return images;
}

std::shared_ptr<const TableSet> Tables() {
  static const std::shared_ptr<const TableSet> tables = [] {
    auto loaded = LoadTablesFromImages(Images());
    if (!loaded.ok()) {
      std::fprintf(stderr, "synthetic tables do not load: %s\n", loaded.message().c_str());
      std::abort();
    }
    return *loaded;
  }();
  return tables;
}

// Case lines of 214 characters with codes drawn from the synthetic tables.
std::vector<std::string> MakeCaseLines(int count) {
  CodePool pool = CodesOf(*Tables());
  for (auto& list : pool.diagnoses) {
    if (list.empty()) list.emplace_back("Z33  ");
  }
  for (auto& list : pool.procedures) {
    if (list.empty()) list.emplace_back("Q2950");
  }
  static const char* const kDates[kEditionCount][3] = {
      {"19980315", "19980815", "19990115"},
      {"19990615", "20000615", "20010715"},
      {"20020115", "20020615", "20021215"},
      {"20030315", "20031015", "20050101"}};
  static const char* const kExempt[] = {"99099999", "99399999", "11100010"};
  uint64_t rng = 42;
  auto below = [&rng](uint64_t n) { return static_cast<int>(Next(rng) % n); };
  std::vector<std::string> lines;
  for (int i = 0; i < count; ++i) {
    std::string line(214, ' ');
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%08d", i);
    if (below(40) == 0) std::memcpy(buffer, kExempt[below(3)], 8);
    std::memcpy(line.data(), buffer, 8);
    const int edition = below(kEditionCount);
    const char* date = kDates[edition][below(3)];
    if (below(12) == 0) {
      // A newborn: born in the month of the case.
      std::snprintf(buffer, sizeof buffer, "%.4s01", date + 2);
    } else {
      std::snprintf(buffer, sizeof buffer, "%02d%02d%02d", below(100), 1 + below(12), 1 + below(28));
    }
    std::memcpy(line.data() + 8, buffer, 6);
    line[14] = static_cast<char>('1' + below(4));
    std::memcpy(line.data() + 15, "000000", 6);
    std::memcpy(line.data() + 21, date, 8);
    std::snprintf(buffer, sizeof buffer, "%3d", below(10) == 0 ? below(400) : below(30));
    std::memcpy(line.data() + 29, buffer, 3);
    line[32] = static_cast<char>('0' + below(10));
    const auto& dx = pool.diagnoses[edition];
    const auto& px = pool.procedures[edition];
    const int diagnoses = 1 + below(below(4) == 0 ? 10 : 4);
    for (int k = 0; k < diagnoses; ++k) {
      const char* code = below(50) == 0 ? "X9999" : dx[Next(rng) % dx.size()].data();
      std::memcpy(line.data() + 33 + 5 * k, code, 5);
    }
    const int procedures = below(3) == 0 ? below(below(4) == 0 ? 21 : 8) : 0;
    for (int k = 0; k < procedures; ++k) {
      std::memcpy(line.data() + 83 + 5 * k, px[Next(rng) % px.size()].data(), 5);
    }
    if (below(20) == 0) line[183] = "BSL"[below(3)];
    lines.push_back(line);
  }
  return lines;
}

// One case of the mix with its request bound to its line, as the batch
// binds it: ten diagnosis and twenty procedure positions.
struct BoundCase {
  std::string line;
  GroupRequest request;
};

std::vector<BoundCase> BindCases(int count) {
  const std::vector<std::string> lines = MakeCaseLines(count);
  std::vector<BoundCase> cases(lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    BoundCase& c = cases[i];
    c.line = lines[i];
    app::CaseLine caseLine;
    caseLine.Assign(c.line.data(), c.line.size(), false);
    const char* p = c.line.data();
    for (int k = 0; k < 10; ++k) c.request.diagnosisCodes[k] = p + 33 + 5 * k;
    for (int k = 0; k < 20; ++k) c.request.procedureCodes[k] = p + 83 + 5 * k;
    c.request.diagnosisCount = 10;
    c.request.procedureCount = 20;
    app::PrepareRequest(c.request, caseLine);
  }
  return cases;
}

// The steps of GroupCase up to and including the lookups of the first real
// pass, on the grouper's state.
void PrepareAndLookUp(Grouper& grouper, BoundCase& c) {
  const char* p = c.line.data();
  grouper.SetCaseFields(p, p + 21, p + 183);
  grouper.SelectEdition(p + 21);
  GroupState& s = grouper.mutableState();
  s.request = &c.request;
  s.diagnosisCount = c.request.diagnosisCount;
  s.procedureCount = c.request.procedureCount;
  PrepareCaseCodes(s);
  s.age = c.request.age;
  s.dischargeStatus = c.request.dischargeStatus;
  s.lengthOfStay = c.request.lengthOfStay;
  s.sex = (c.request.sexDigit >= 0 && c.request.sexDigit <= 8 && c.request.sexDigit % 2 == 0) ? 2 : 1;
  for (int i = 0; i < s.diagnosisCount; ++i) s.diagnosisEntry[i] = LookupDiagnosis(s, i);
  s.mdc = kResetMdc;
  s.finalDrg = kUngroupableDrg;
  for (int i = 0; i < s.procedureCount; ++i) s.procedureEntry[i] = LookupProcedure(s, i);
}

// States of the mix after the stage before `stage`: 0 lookups done, 1 the
// decision done too.
std::vector<GroupState> PreparedStates(std::vector<BoundCase>& cases, int stage) {
  Grouper grouper(Tables());
  std::vector<GroupState> states;
  for (BoundCase& c : cases) {
    PrepareAndLookUp(grouper, c);
    GroupState& s = grouper.mutableState();
    if (stage >= 1) {
      ResetDecision(s);
      DecideDrg(s);
    }
    states.push_back(s);
  }
  return states;
}

constexpr int kMixSize = 4096;
constexpr int kStateMixSize = 1024;  // states are a kilobyte each: they stay in cache

void SetRate(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations());
  state.counters["cases/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Parse(benchmark::State& state) {
  const std::vector<std::string> lines = MakeCaseLines(256);
  std::vector<std::unique_ptr<app::CaseLine>> caseLines;
  for (const std::string& l : lines) {
    caseLines.push_back(std::make_unique<app::CaseLine>());
    caseLines.back()->Assign(l.data(), l.size(), false);
  }
  GroupRequest request;
  std::size_t next = 0;
  for (auto _ : state) {
    app::PrepareRequest(request, *caseLines[next++ & 255]);
    benchmark::DoNotOptimize(request);
  }
  SetRate(state);
}
BENCHMARK(BM_Parse);

void BM_Lookup(benchmark::State& state) {
  std::vector<BoundCase> cases = BindCases(kMixSize);
  Grouper grouper(Tables());
  std::size_t next = 0;
  for (auto _ : state) {
    PrepareAndLookUp(grouper, cases[next++ & (kMixSize - 1)]);
    benchmark::DoNotOptimize(grouper.state().procedureEntry);
  }
  SetRate(state);
}
BENCHMARK(BM_Lookup);

void BM_Walk(benchmark::State& state) {
  std::vector<BoundCase> cases = BindCases(kStateMixSize);
  std::vector<GroupState> states = PreparedStates(cases, 0);
  std::size_t next = 0;
  for (auto _ : state) {
    GroupState& s = states[next++ & (kStateMixSize - 1)];
    ResetDecision(s);
    DecideDrg(s);
    benchmark::DoNotOptimize(s.baseDrg);
  }
  SetRate(state);
}
BENCHMARK(BM_Walk);

void BM_Finalise(benchmark::State& state) {
  std::vector<BoundCase> cases = BindCases(kStateMixSize);
  std::vector<GroupState> states = PreparedStates(cases, 1);
  std::size_t next = 0;
  for (auto _ : state) {
    GroupState& s = states[next++ & (kStateMixSize - 1)];
    s.finaliseStatus = FinaliseDrg(s);
    benchmark::DoNotOptimize(MakeRefinedCode(s));
  }
  SetRate(state);
}
BENCHMARK(BM_Finalise);

void BM_LoadTables(benchmark::State& state) {
  const TableImages& images = Images();
  for (auto _ : state) {
    auto loaded = LoadTablesFromImages(images);
    benchmark::DoNotOptimize(loaded);
  }
}
BENCHMARK(BM_LoadTables)->Unit(benchmark::kMillisecond);

void BM_GroupCase(benchmark::State& state) {
  std::vector<BoundCase> cases = BindCases(kMixSize);
  Grouper grouper(Tables());
  std::size_t next = 0;
  for (auto _ : state) {
    BoundCase& c = cases[next++ & (kMixSize - 1)];
    const char* p = c.line.data();
    grouper.SetCaseFields(p, p + 21, p + 183);
    grouper.SelectEdition(p + 21);
    benchmark::DoNotOptimize(grouper.GroupCase(c.request, GroupFlagDecide | GroupFlagFinalise));
  }
  SetRate(state);
}
BENCHMARK(BM_GroupCase);

void BM_BatchStream(benchmark::State& state) {
  const std::vector<std::string> lines = MakeCaseLines(20000);
  std::string input;
  for (const std::string& l : lines) input += l + "\n";
  app::BatchOptions options;
  for (auto _ : state) {
    std::FILE* in = fmemopen(input.data(), input.size(), "r");
    std::FILE* out = std::fopen("/dev/null", "w");
    benchmark::DoNotOptimize(app::GroupStream(Tables(), in, out, options));
    std::fclose(in);
    std::fclose(out);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(lines.size()));
  state.counters["cases/s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * static_cast<int64_t>(lines.size())),
      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BatchStream)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tallow

BENCHMARK_MAIN();

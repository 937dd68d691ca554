// Speed of the grouper on a synthetic full-size table set.
//
//   BM_LoadTables   parse and validate all twenty-two files (from memory)
//   BM_GroupCase    one GroupCase call per iteration, over a mix of cases
//                   from every edition
//   BM_BatchStream  the whole batch loop: read a line, group, write a line
//
// Numbers from an unoptimised build mean little; `make bench` builds with
// optimisation.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/batch.h"
#include "engine/grouper.h"
#include "tables/loader.h"
#include "tables/toolkit/code_pool.h"
#include "tables/toolkit/toolkit.h"

#include "tables/toolkit/split_mix.h"

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

// Case lines with codes drawn from the synthetic tables: mostly known codes,
// some blanks, dates spread over every edition.
std::vector<std::string> MakeCaseLines(int count) {
  const CodePool pool = CodesOf(*Tables());
  const std::vector<std::string>& dx = pool.diagnoses[static_cast<int>(Edition::k1)];
  const std::vector<std::string>& px = pool.procedures[static_cast<int>(Edition::k1)];
  if (dx.empty() || px.empty()) std::abort();
  static const char* const kDates[] = {"19980615", "19990715", "20000615", "20010115",
                                       "20010715", "20020615", "20030615", "20040101"};
  uint64_t rng = 42;
  std::vector<std::string> lines;
  for (int i = 0; i < count; ++i) {
    std::string line(214, ' ');
    std::snprintf(line.data(), 9, "%08d", i);
    std::memcpy(line.data() + 8, "6503151", 7);
    std::memcpy(line.data() + 21, kDates[Next(rng) % 8], 8);
    std::snprintf(line.data() + 29, 4, "%3d", static_cast<int>(Next(rng) % 30));
    line[32] = static_cast<char>('0' + Next(rng) % 10);
    const int ndx = 1 + static_cast<int>(Next(rng) % 6);
    for (int k = 0; k < ndx; ++k) {
      std::memcpy(line.data() + 33 + 5 * k, dx[Next(rng) % dx.size()].data(), 5);
    }
    const int npx = static_cast<int>(Next(rng) % 5);
    for (int k = 0; k < npx; ++k) {
      std::memcpy(line.data() + 83 + 5 * k, px[Next(rng) % px.size()].data(), 5);
    }
    line.resize(188);
    lines.push_back(line);
  }
  return lines;
}

void BM_LoadTables(benchmark::State& state) {
  const TableImages& images = Images();
  for (auto _ : state) {
    auto loaded = LoadTablesFromImages(images);
    benchmark::DoNotOptimize(loaded);
  }
}
BENCHMARK(BM_LoadTables)->Unit(benchmark::kMillisecond);

void BM_GroupCase(benchmark::State& state) {
  const std::vector<std::string> lines = MakeCaseLines(4096);
  Grouper grouper(Tables());
  GroupRequest request;
  std::string line;
  size_t next = 0;
  for (auto _ : state) {
    line = lines[next++ & 4095];
    const char* p = line.data();
    for (int k = 0; k < 10; ++k) request.diagnosisCodes[k] = p + 33 + 5 * k;
    for (int k = 0; k < 20; ++k) request.procedureCodes[k] = p + 83 + 5 * k;
    request.diagnosisCount = 10;
    request.procedureCount = 20;
    request.age = 40;
    request.sexDigit = static_cast<int16_t>(p[14] - '0');
    request.dischargeStatus = static_cast<int16_t>(p[32] - '0');
    request.lengthOfStay = 5;
    grouper.SetCaseFields(p, p + 21, p + 183);
    grouper.SelectEdition(p + 21);
    benchmark::DoNotOptimize(grouper.GroupCase(request, GroupFlagDecide | GroupFlagFinalise));
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["cases/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
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

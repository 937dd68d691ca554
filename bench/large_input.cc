// Writes a large case file for the synthetic table set of a seed, for
// checking that the batch runs in memory that does not grow with its input
// (see bench/whole_program.sh and the README).
//
//   tallow_large_input --seed N --lines COUNT OUT_FILE|-
//
// The lines are 214 characters: codes drawn from the set of the seed
// (`tallow tables synth --seed N DIR` writes the same set), dates in every
// edition, 1 to 10 diagnoses, 0 to 20 procedures, newborns, exempt
// identifiers, a few unknown codes and blank fields. The same arguments give the
// same bytes. Lines are written as they are made; nothing is held.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tables/codes.h"
#include "tables/loader.h"
#include "toolkit/code_pool.h"
#include "toolkit/toolkit.h"
#include "toolkit/split_mix.h"

namespace tallow {
namespace {

class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {  // splitmix64
    return SplitMix64(state_);
  }
  std::size_t Below(std::size_t n) { return static_cast<std::size_t>(Next() % n); }

 private:
  uint64_t state_;
};

// The codes of the set, with a stand-in for an edition that has none.
CodePool PoolsOf(const TableSet& t) {
  CodePool pools = CodesOf(t);
  for (auto& list : pools.diagnoses) {
    if (list.empty()) list.emplace_back("Z33  ");
  }
  for (auto& list : pools.procedures) {
    if (list.empty()) list.emplace_back("Q2950");
  }
  return pools;
}

// Case dates spread over the four editions (8, 9, 0, 1).
constexpr const char* kDates[kEditionCount][3] = {
    {"19980315", "19980815", "19990115"},
    {"19990615", "20000615", "20010715"},
    {"20020115", "20020615", "20021215"},
    {"20030315", "20031015", "20050101"},
};

void Put(std::string& line, std::size_t at, const std::string& text) {
  line.replace(at, text.size(), text);
}

constexpr const char* kExemptIdentifiers[] = {"99099999", "99199999", "99299999", "99399999"};

// One case line of 214 characters (results positions blank): 1 to 10
// diagnoses, 0 to 20 procedures, dates in every edition, now and then a
// newborn, an exempt identifier or an unknown code.
void MakeLine(Random& rng, const CodePool& pools, long number, std::string& line) {
  line.assign(214, ' ');
  char buffer[16];
  if (rng.Below(100) == 0) {
    Put(line, 0, kExemptIdentifiers[rng.Below(4)]);
  } else {
    std::snprintf(buffer, sizeof buffer, "%08ld", number % 100000000);
    Put(line, 0, buffer);
  }
  const std::size_t edition = rng.Below(kEditionCount);
  const std::string date = kDates[edition][rng.Below(3)];
  Put(line, 21, date);
  const bool newborn = rng.Below(20) == 0;
  if (newborn) {
    // Born on the first of the case's month, in the same century.
    Put(line, 8, date.substr(2, 4) + "01");
    line[14] = static_cast<char>((date[0] == '1' ? '1' : '3') + rng.Below(2));
    std::snprintf(buffer, sizeof buffer, "%3zu", rng.Below(6));
  } else {
    std::snprintf(buffer, sizeof buffer, "%02zu%02zu%02zu", 10 + rng.Below(90), 1 + rng.Below(12),
                  1 + rng.Below(28));
    Put(line, 8, buffer);
    line[14] = static_cast<char>('1' + rng.Below(2));
    std::snprintf(buffer, sizeof buffer, "%3zu",
                  rng.Below(10) == 0 ? rng.Below(400) : rng.Below(30));
  }
  Put(line, 29, buffer);
  Put(line, 15, "000000");
  line[32] = static_cast<char>('0' + rng.Below(10));
  const std::vector<std::string>& dx = pools.diagnoses[edition];
  const std::vector<std::string>& px = pools.procedures[edition];
  const std::size_t diagnoses = 1 + rng.Below(rng.Below(4) == 0 ? 10 : 4);
  for (std::size_t i = 0; i < diagnoses; ++i) {
    Put(line, 33 + 5 * i, rng.Below(50) == 0 ? std::string("X9999") : dx[rng.Below(dx.size())]);
  }
  const std::size_t roll = rng.Below(10);
  const std::size_t procedures = roll < 4 ? 0 : roll < 8 ? 1 + rng.Below(3) : rng.Below(21);
  for (std::size_t i = 0; i < procedures; ++i) Put(line, 83 + 5 * i, px[rng.Below(px.size())]);
  if (rng.Below(20) == 0) line[183] = "BSL"[rng.Below(3)];
}

int Usage() {
  std::fprintf(stderr, "usage: tallow_large_input --seed N --lines COUNT OUT_FILE|-\n");
  return 2;
}

int Run(int argc, char** argv) {
  uint64_t seed = 1;
  long lines = -1;
  const char* outPath = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--seed" || arg == "--lines") && i + 1 < argc) {
      char* end = nullptr;
      errno = 0;
      const unsigned long long value = std::strtoull(argv[++i], &end, 10);
      if (errno != 0 || end == argv[i] || *end != '\0') return Usage();
      if (arg == "--seed") {
        seed = value;
      } else {
        lines = static_cast<long>(value);
      }
    } else if (outPath == nullptr && (arg == "-" || arg[0] != '-')) {
      outPath = argv[i];
    } else {
      return Usage();
    }
  }
  if (lines < 0 || outPath == nullptr) return Usage();

  auto loaded = LoadTablesFromImages(SynthTables(seed));
  if (!loaded.ok()) {
    std::fprintf(stderr, "tallow_large_input: synthetic set %llu does not load: %s\n",
                 static_cast<unsigned long long>(seed), loaded.message().c_str());
    return 1;
  }
  const CodePool pools = PoolsOf(**loaded);

  const bool toStdout = std::strcmp(outPath, "-") == 0;
  std::FILE* out = toStdout ? stdout : std::fopen(outPath, "wb");
  if (out == nullptr) {
    std::fprintf(stderr, "tallow_large_input: cannot open %s: %s\n", outPath, std::strerror(errno));
    return 1;
  }
  Random rng(seed ^ 0x5DEECE66DULL);
  std::string line;
  bool ok = true;
  for (long n = 0; n < lines && ok; ++n) {
    MakeLine(rng, pools, n + 1, line);
    line += '\n';
    ok = std::fwrite(line.data(), 1, line.size(), out) == line.size();
  }
  ok = std::fflush(out) == 0 && ok;
  if (!toStdout) ok = std::fclose(out) == 0 && ok;
  if (!ok) {
    std::fprintf(stderr, "tallow_large_input: cannot write %s\n", outPath);
    return 1;
  }
  return 0;
}

}  // namespace
}  // namespace tallow

int main(int argc, char** argv) { return tallow::Run(argc, argv); }

// Runs a fuzz target without libFuzzer: every input file named on the
// command line once (a directory stands for the files in it, in name order), and with --mutate N also N mutations of them made by a
// fixed pseudo-random sequence (byte flips, overwrites, truncations and
// insertions), so the same command always tries the same inputs.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/split_mix.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

uint64_t Next(uint64_t& state) {  // splitmix64
  return tallow::SplitMix64(state);
}

void Run(const std::string& input) {
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

std::string Mutate(std::string s, uint64_t& rng) {
  const int edits = 1 + static_cast<int>(Next(rng) % 8);
  for (int i = 0; i < edits; ++i) {
    const size_t pos = s.empty() ? 0 : Next(rng) % s.size();
    switch (Next(rng) % 5) {
      case 0:  // flip a bit
        if (!s.empty()) s[pos] = static_cast<char>(s[pos] ^ (1 << (Next(rng) % 8)));
        break;
      case 1:  // overwrite with an interesting byte
        if (!s.empty()) {
          static const unsigned char kBytes[] = {0x00, 0xFF, 0x7F, 0x80, ' ', '\n', '\r', '9', 'Z'};
          s[pos] = static_cast<char>(kBytes[Next(rng) % sizeof kBytes]);
        }
        break;
      case 2:  // truncate
        s.resize(pos);
        break;
      case 3:  // insert a byte
        s.insert(s.begin() + static_cast<std::ptrdiff_t>(pos), static_cast<char>(Next(rng) & 0xFF));
        break;
      default:  // duplicate a slice
        if (!s.empty()) {
          const size_t len = 1 + Next(rng) % 16;
          s.insert(pos, s.substr(pos, len));
        }
        break;
    }
  }
  return s;
}

bool ReadInput(const std::string& path, std::vector<std::string>& inputs) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  std::string input;
  char chunk[4096];
  size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) input.append(chunk, n);
  std::fclose(file);
  inputs.push_back(std::move(input));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  long mutations = 0;
  std::vector<std::string> inputs;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--mutate") == 0 && i + 1 < argc) {
      mutations = std::strtol(argv[++i], nullptr, 10);
      continue;
    }
    std::error_code ec;
    if (std::filesystem::is_directory(argv[i], ec)) {
      std::vector<std::string> paths;
      for (const auto& entry : std::filesystem::directory_iterator(argv[i], ec)) {
        if (entry.is_regular_file()) paths.push_back(entry.path().string());
      }
      std::sort(paths.begin(), paths.end());
      for (const std::string& path : paths) {
        if (!ReadInput(path, inputs)) return 2;
      }
      continue;
    }
    if (!ReadInput(argv[i], inputs)) return 2;
  }
  if (inputs.empty()) inputs.emplace_back();
  for (const std::string& input : inputs) Run(input);
  uint64_t rng = 20261208;
  for (long m = 0; m < mutations; ++m) {
    Run(Mutate(inputs[static_cast<size_t>(m) % inputs.size()], rng));
  }
  std::printf("%zu inputs and %ld mutations ran\n", inputs.size(), mutations);
  return 0;
}

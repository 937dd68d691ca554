// Writes the generated seed corpora of the fuzz targets, too big to keep in
// the repository: OUT_DIR/T/NAME for every target fuzz_T, beside the
// committed seeds in fuzz/corpus/T.
//
//   fuzz_write_seeds OUT_DIR DEMO_DIR
//
// DEMO_DIR is data/demo (its tables/*.txt sources and tallow.in).
//  - table family targets: byte 0 choosing the file, then the bytes of that
//    file from the synthetic set of the fuzz support and from the demo set;
//  - fuzz_table_source: byte 0 choosing the table, then the demo source and
//    the synthetic source of the table, for both compiler paths;
//  - fuzz_case_line: the demo case file and the sample case lines.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "fuzz/fuzz_support.h"
#include "toolkit/toolkit.h"

namespace {

namespace fs = std::filesystem;

// Writes DIR/NAME: the selector byte (when not negative), then the body.
bool WriteSeed(const fs::path& dir, const std::string& name, int selector, const std::string& body) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  const std::string path = (dir / name).string();
  std::FILE* out = std::fopen(path.c_str(), "wb");
  bool ok = out != nullptr;
  if (ok && selector >= 0) ok = std::fputc(selector, out) != EOF;
  if (ok) ok = std::fwrite(body.data(), 1, body.size(), out) == body.size();
  if (out != nullptr && std::fclose(out) != 0) ok = false;
  if (!ok) std::fprintf(stderr, "cannot write %s\n", path.c_str());
  return ok;
}

std::string ReadFile(const fs::path& path) {
  std::string text;
  std::FILE* in = std::fopen(path.string().c_str(), "rb");
  if (in == nullptr) return text;
  char chunk[4096];
  size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0) text.append(chunk, n);
  std::fclose(in);
  return text;
}

int TableIndex(const std::string& name) {
  for (int i = 0; i < 22; ++i) {
    if (name == tallow::kTableFiles[i]) return i;
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tallow;
  if (argc != 3) {
    std::fprintf(stderr, "usage: fuzz_write_seeds OUT_DIR DEMO_DIR\n");
    return 2;
  }
  const fs::path out = argv[1];
  const fs::path demo = argv[2];

  auto demoSources = ReadTableSources((demo / "tables").string());
  if (!demoSources.ok()) {
    std::fprintf(stderr, "%s\n", demoSources.message().c_str());
    return 1;
  }
  auto demoImages = BuildTableImages(*demoSources);
  if (!demoImages.ok()) {
    std::fprintf(stderr, "%s\n", demoImages.message().c_str());
    return 1;
  }
  const std::map<std::string, const TableImages*> sets = {{"synth", &fuzz::SynthImages()},
                                                          {"demo", &*demoImages}};

  bool ok = true;
  int seeds = 0;
  for (const fuzz::TableFamily& family : fuzz::TableFamilies()) {
    for (size_t i = 0; i < family.files.size(); ++i) {
      for (const auto& [setName, images] : sets) {
        const std::string file = family.files[i];
        // fuzz_dxtab writes to dxtab/
        ok &= WriteSeed(out / (family.target + 5), setName + "_" + file, static_cast<int>(i),
                        images->at(file));
        ++seeds;
      }
    }
  }

  const std::map<std::string, std::string> synthSources = SynthSources(7);
  for (const auto& [setName, sources] :
       std::map<std::string, const std::map<std::string, std::string>*>{{"synth", &synthSources},
                                                                         {"demo", &*demoSources}}) {
    for (const auto& [table, text] : *sources) {
      const int index = TableIndex(table);
      if (index < 0) continue;  // conversion files are copied, not compiled
      const fs::path dir = out / "table_source";
      ok &= WriteSeed(dir, setName + "_" + table, index, text);
      ok &= WriteSeed(dir, setName + "_set_" + table, 0x80 | index, text);
      seeds += 2;
    }
  }

  const std::string cases = ReadFile(demo / "tallow.in");
  if (cases.empty()) {
    std::fprintf(stderr, "cannot read %s\n", (demo / "tallow.in").c_str());
    return 1;
  }
  ok &= WriteSeed(out / "case_line", "demo_tallow_in", -1, cases);
  std::string samples;
  for (const std::string& line : fuzz::SampleCaseLines()) samples += line + "\n";
  ok &= WriteSeed(out / "case_line", "sample_lines", -1, samples);
  seeds += 2;

  if (!ok) return 1;
  std::printf("%d seeds written to %s\n", seeds, out.c_str());
  return 0;
}

#include "fuzz/fuzz_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "app/batch.h"
#include "toolkit/toolkit.h"

namespace tallow::fuzz {

const TableImages& SynthImages() {
  static const TableImages images = SynthTables(7);
  return images;
}

const std::shared_ptr<const TableSet>& SynthTableSet() { return SynthBase().set(); }

const std::vector<std::string>& SampleCaseLines() {
  static const std::vector<std::string> lines = [] {
    auto loaded = LoadTablesFromImages(SynthImages());
    if (!loaded.ok()) std::abort();
    const TableSet& t = **loaded;
    std::vector<std::string> dx;
    const DiagnosisTable& d = t.diagnosis[static_cast<int>(Edition::k9)];
    for (int c = 0; c < kCategorySlots && dx.size() < 400; c += 7) {
      for (int e = d.categoryStart[c]; e < d.categoryStart[c] + d.categoryCount[c]; ++e) {
        dx.push_back(CodeText(c, d.entryTail[e]));
      }
    }
    std::vector<std::string> px;
    for (size_t r = 0; r < t.datedProcedure.codes.size() && px.size() < 200; r += 5) {
      const RowCode& code = t.datedProcedure.codes[r];
      if (code[0] >= 'A' && code[0] <= 'Z') px.emplace_back(code.data(), 5);
    }
    px.emplace_back("R4380");
    px.emplace_back("M0101");
    px.emplace_back("S5113");
    static const char* const kDates[] = {"19980615", "19990715", "20000615", "20010115",
                                         "20010715", "20020615", "20030615", "20040101"};
    std::vector<std::string> out;
    for (int i = 0; i < 48; ++i) {
      std::string line(188, ' ');
      std::memcpy(line.data(), i % 7 == 0 ? "99099999" : "11100010", 8);
      std::memcpy(line.data() + 8, i % 3 == 0 ? "0506014" : "6503151", 7);
      std::memcpy(line.data() + 21, kDates[i % 8], 8);
      std::memcpy(line.data() + 29, i % 5 == 0 ? "  1" : " 12", 3);
      line[32] = static_cast<char>('0' + i % 10);
      for (int k = 0; k < 1 + i % 9; ++k) {
        std::memcpy(line.data() + 33 + 5 * k, dx[(static_cast<size_t>(i) * 13 + k * 31) % dx.size()].data(), 5);
      }
      for (int k = 0; k < i % 6; ++k) {
        std::memcpy(line.data() + 83 + 5 * k, px[(static_cast<size_t>(i) * 17 + k * 7) % px.size()].data(), 5);
      }
      std::memcpy(line.data() + 183, i % 2 ? "SBL  " : "     ", 5);
      out.push_back(line);
    }
    return out;
  }();
  return lines;
}

void GroupText(const std::shared_ptr<const TableSet>& tables, std::string input, std::size_t blockBytes) {
  // fmemopen refuses an empty buffer; an empty line ends a case file too.
  if (input.empty()) input.push_back('\n');
  static std::FILE* const out = std::fopen("/dev/null", "w");
  static std::FILE* const err = std::fopen("/dev/null", "w");
  std::FILE* in = fmemopen(input.data(), input.size(), "r");
  if (in == nullptr || out == nullptr || err == nullptr) std::abort();
  app::BatchOptions options;
  options.err = err;
  options.blockBytes = blockBytes;
  options.jobs = 1;  // no worker threads to start for 48 lines
  (void)app::GroupStream(tables, in, out, options);
  std::fclose(in);
}

std::string GroupTextTo(const std::shared_ptr<const TableSet>& tables, std::string input,
                        std::size_t blockBytes, bool pad, int jobs) {
  if (input.empty()) input.push_back('\n');
  std::FILE* in = fmemopen(input.data(), input.size(), "r");
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&buffer, &size);
  std::FILE* err = std::fopen("/dev/null", "w");
  if (in == nullptr || out == nullptr || err == nullptr) std::abort();
  app::BatchOptions options;
  options.err = err;
  options.blockBytes = blockBytes;
  options.pad = pad;
  options.jobs = jobs;
  (void)app::GroupStream(tables, in, out, options);
  std::fclose(in);
  std::fclose(out);
  std::fclose(err);
  std::string written(buffer, size);
  std::free(buffer);
  return written;
}

void GroupSamples(const std::shared_ptr<const TableSet>& tables) {
  static const std::string input = [] {
    std::string lines;
    for (const std::string& line : SampleCaseLines()) lines += line + "\n";
    return lines;
  }();
  // Blocks that hold the 48 lines, not the batch's 256 KiB ones.
  GroupText(tables, input, 16 << 10);
}

const std::vector<TableFamily>& TableFamilies() {
  static const std::vector<TableFamily> families = {
      {"fuzz_dxtab", {"DXTAB8", "DXTAB9", "DXTAB0", "DXTAB1"}},
      {"fuzz_sgtab", {"SGTAB8", "SGTAB9", "SGTAB0"}},
      {"fuzz_dgtab", {"DGTAB", "DGTAB0"}},
      {"fuzz_cctab", {"CCTAB0", "CCTAB1", "CCTAB"}},
      {"fuzz_rdrg",
       {"RDRGCC8", "RDRGCC9", "RDRGCC0", "RDRGCC1", "RDRGDRG", "RDRGCL", "RDRGNEO8", "RDRGNEO9",
        "RDRGNEO0", "RDRGNEO1"}},
  };
  return families;
}

const TableFamily& FamilyOf(const char* target) {
  for (const TableFamily& family : TableFamilies()) {
    if (std::strcmp(family.target, target) == 0) return family;
  }
  std::abort();
}

void ExpectDumpBuildsBack(const std::string& name, const std::string& bytes) {
  Result<std::string> source = DumpTableFile(name, bytes);
  if (!source.ok()) {
    std::fprintf(stderr, "%s loads but does not dump: %s\n", name.c_str(), source.message().c_str());
    std::abort();
  }
  Result<std::string> rebuilt = BuildTableFile(name, *source);
  if (!rebuilt.ok()) {
    std::fprintf(stderr, "%s: its dump does not build: %s\n", name.c_str(), rebuilt.message().c_str());
    std::abort();
  }
  if (*rebuilt != bytes) {
    const auto diff = std::mismatch(rebuilt->begin(), rebuilt->end(), bytes.begin(), bytes.end());
    std::fprintf(stderr, "%s: dump and build change the bytes from byte %td (%zu built, %zu read)\n",
                 name.c_str(), diff.first - rebuilt->begin(), rebuilt->size(), bytes.size());
    std::abort();
  }
}

namespace {

std::string SampleInput() {
  std::string input;
  for (const std::string& line : SampleCaseLines()) input += line + "\n";
  return input;
}

}  // namespace

BaseSet::BaseSet(TableImages images) : images_(std::move(images)), scratch_(std::make_shared<TableSet>()) {
  auto loaded = LoadTablesFromImages(images_);
  if (!loaded.ok()) {
    std::fprintf(stderr, "the base set of a fuzz target does not load: %s\n", loaded.message().c_str());
    std::abort();
  }
  set_ = *loaded;
  CopyTableSet(*set_, scratch_.get());
}

Result<std::shared_ptr<const TableSet>> BaseSet::Reload(const std::string& name, const std::string& bytes) {
  Restore();
  if (FindFileFormat(name) == nullptr) return ReloadTableFile(*set_, images_, name, bytes);
  dirty_ = true;
  if (Status s = ReloadTableFileInto(images_, name, bytes, scratch_.get()); !s.ok()) return s;
  return std::shared_ptr<const TableSet>(scratch_);
}

void BaseSet::Restore() {
  if (dirty_) CopyTableSet(*set_, scratch_.get());
  dirty_ = false;
}

BaseSet& SynthBase() {
  static BaseSet base(SynthImages());
  return base;
}

BaseSet& InertBase() {
  static BaseSet base = [] {
    auto images = BuildTableImages({});
    if (!images.ok()) std::abort();
    return BaseSet(std::move(*images));
  }();
  return base;
}

void LoadReplacedFile(BaseSet& base, const std::string& name, const std::string& bytes, RoundTrip roundTrip) {
  // The scratch set goes back to the base when the input is done with it.
  struct Restore {
    BaseSet& base;
    ~Restore() { base.Restore(); }
  } const restore{base};
  auto loaded = base.Reload(name, bytes);
#ifdef TALLOW_FUZZ_CROSSCHECK
  TableImages images = base.images();
  images[name] = bytes;
  auto whole = LoadTablesFromImages(images);
  if (whole.ok() != loaded.ok() || (!whole.ok() && whole.message() != loaded.message())) {
    std::fprintf(stderr, "%s: reloading one file gives \"%s\", the whole load \"%s\"\n",
                 name.c_str(), loaded.ok() ? "ok" : loaded.message().c_str(),
                 whole.ok() ? "ok" : whole.message().c_str());
    std::abort();
  }
  if (whole.ok() && GroupTextTo(*whole, SampleInput(), 0, false, 1) !=
                        GroupTextTo(*loaded, SampleInput(), 0, false, 1)) {
    std::fprintf(stderr, "%s: the reloaded set groups otherwise than the whole load\n", name.c_str());
    std::abort();
  }
#endif
  if (!loaded.ok()) return;
  bool check = roundTrip != RoundTrip::kChecked;
#ifndef TALLOW_FUZZ_CROSSCHECK
  if (roundTrip == RoundTrip::kSampled) {
    // Loading inputs 0, 8, 16, ... of the process: an input run alone, as a
    // find is replayed, is input 0.
    static uint64_t loading = 0;
    check = loading++ % 8 == 0;
  }
#endif
  if (check) ExpectDumpBuildsBack(name, bytes);
  GroupSamples(*loaded);
}

void LoadReplacedFile(const std::string& name, const std::string& bytes, RoundTrip roundTrip) {
  LoadReplacedFile(SynthBase(), name, bytes, roundTrip);
}

void LoadFamilyFile(const TableFamily& family, const uint8_t* data, size_t size) {
  if (size == 0) return;
  LoadReplacedFile(family.files[data[0] % family.files.size()],
                   std::string(reinterpret_cast<const char*>(data) + 1, size - 1), RoundTrip::kSampled);
}

}  // namespace tallow::fuzz

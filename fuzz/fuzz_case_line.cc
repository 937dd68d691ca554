// Arbitrary case files through the whole batch loop with a valid synthetic
// table set: any bytes, any line lengths and endings.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/batch.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tallow;
  static const std::shared_ptr<const TableSet> tables = [] {
    auto loaded = LoadTablesFromImages(fuzz::SynthImages());
    if (!loaded.ok()) std::abort();
    return *loaded;
  }();
  std::string input(reinterpret_cast<const char*>(data), size);
  std::FILE* in = fmemopen(input.data(), input.size(), "r");
  if (in == nullptr) {
    if (size == 0) return 0;  // fmemopen refuses an empty buffer
    std::abort();
  }
  std::FILE* out = std::fopen("/dev/null", "w");
  std::FILE* err = std::fopen("/dev/null", "w");
  app::BatchOptions options;
  options.err = err;
  (void)app::GroupStream(tables, in, out, options);
  std::fclose(in);
  std::fclose(out);
  std::fclose(err);
  return 0;
}

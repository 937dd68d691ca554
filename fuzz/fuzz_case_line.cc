// Arbitrary case files through the whole batch loop with a valid synthetic
// table set: any bytes, any line lengths and endings.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tallow;
  static const std::shared_ptr<const TableSet> tables = [] {
    auto loaded = LoadTablesFromImages(fuzz::SynthImages());
    if (!loaded.ok()) std::abort();
    return *loaded;
  }();
  fuzz::GroupText(tables, std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}

// Arbitrary bytes as one file of a table family, the rest of the synthetic
// set valid; here the DRG rule tables DGTAB and DGTAB0.
// Byte 0 chooses the file, the rest are its bytes. The loader accepts or
// rejects the set; an accepted set groups the sample cases.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const tallow::fuzz::TableFamily& family = tallow::fuzz::FamilyOf("fuzz_dgtab");
  tallow::fuzz::LoadFamilyFile(family, data, size);
  return 0;
}

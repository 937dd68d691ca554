// Arbitrary bytes as one file of a table family, the rest of the synthetic
// set valid; here the diagnosis tables DXTAB8, DXTAB9, DXTAB0 and DXTAB1.
// Byte 0 chooses the file, the rest are its bytes. The loader accepts or
// rejects the set; an accepted set groups the sample cases.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const tallow::fuzz::TableFamily& family = tallow::fuzz::FamilyOf("fuzz_dxtab");
  tallow::fuzz::LoadFamilyFile(family, data, size);
  return 0;
}

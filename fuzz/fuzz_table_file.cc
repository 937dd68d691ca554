// Damaged table files: one file of a valid synthetic set is patched or cut
// short, the set is loaded, and when the loader accepts it the sample cases
// are grouped with it. Whatever the bytes, nothing may read outside an array.
//
// Input: byte 0 selects the file (index into the load order, modulo 22);
// byte 1 bit 0 asks for a cut at the offset in bytes 2-4; then groups of four
// bytes patch the file: a 3-byte big-endian offset (modulo the file size) and
// the new byte. A file that loads must come back from dump and build.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tallow;
  if (size < 2) return 0;
  const char* name = kTableFiles[data[0] % 22];
  std::string file = fuzz::SynthImages().at(name);
  size_t pos = 2;
  if ((data[1] & 1) != 0 && size >= 5) {
    const size_t cut = (static_cast<size_t>(data[2]) << 16 | static_cast<size_t>(data[3]) << 8 | data[4]);
    file.resize(file.empty() ? 0 : cut % (file.size() + 1));
    pos = 5;
  }
  for (; pos + 4 <= size && !file.empty(); pos += 4) {
    const size_t offset =
        (static_cast<size_t>(data[pos]) << 16 | static_cast<size_t>(data[pos + 1]) << 8 | data[pos + 2]);
    file[offset % file.size()] = static_cast<char>(data[pos + 3]);
  }
  fuzz::LoadReplacedFile(name, file);
  return 0;
}

// Arbitrary source text through the table compiler (`tallow tables build`).
//
// Input: byte 0 chooses the table (low five bits, modulo 22) and the path
// (bit 7); the rest is the source text.
//  - bit 7 clear: BuildTableFile. A built file must dump, the dump must
//    build again to the same bytes, and the file replaces its namesake in
//    the synthetic set (fuzz::LoadReplacedFile), which, when it loads,
//    groups the sample cases.
//  - bit 7 set: BuildTableImages with this one source (the other tables
//    inert), then the built set is loaded (as the inert set with the one
//    file reloaded) and used the same way.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "fuzz/fuzz_support.h"
#include "toolkit/toolkit.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& name, const std::string& detail) {
  std::fprintf(stderr, "%s: %s: %s\n", name.c_str(), what, detail.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tallow;
  if (size == 0) return 0;
  const std::string name = kTableFiles[(data[0] & 0x1F) % 22];
  const std::string_view source(reinterpret_cast<const char*>(data) + 1, size - 1);

  if ((data[0] & 0x80) != 0) {
    auto images = BuildTableImages({{name, std::string(source)}});
    if (!images.ok()) return 0;
    // The other files are the inert ones, so the set is the inert set with
    // this one file reloaded.
    fuzz::BaseSet& inert = fuzz::InertBase();
    for (const auto& [file, bytes] : *images) {
      if (file != name && inert.images().at(file) != bytes) Fail("an inert file differs", file, name);
    }
    fuzz::LoadReplacedFile(inert, name, images->at(name), fuzz::RoundTrip::kChecked);
    return 0;
  }

  auto built = BuildTableFile(name, source);
  if (!built.ok()) return 0;
  // What the compiler wrote, the dumper reads back, and the dumped source
  // compiles to the very same bytes.
  auto dumped = DumpTableFile(name, *built);
  if (!dumped.ok()) Fail("built file does not dump", name, dumped.message());
  auto rebuilt = BuildTableFile(name, *dumped);
  if (!rebuilt.ok()) Fail("dumped source does not build", name, rebuilt.message());
  if (*rebuilt != *built) Fail("dump and build change the bytes", name, *dumped);

  fuzz::LoadReplacedFile(name, *built, fuzz::RoundTrip::kChecked);
  return 0;
}

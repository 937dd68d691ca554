// Arbitrary case files through the whole batch loop with a valid synthetic
// table set: any bytes, any line lengths and endings. The first byte also
// chooses a small block size, padding and a number of workers for a second
// run, whose output must be the same as with blocks that hold the input.
// The last byte chooses whether the first line is explained as well.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/explain.h"
#include "app/library.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tallow;
  static const std::shared_ptr<const TableSet>& tables = fuzz::SynthTableSet();
  const std::string input(reinterpret_cast<const char*>(data), size);
  const unsigned choice = size > 0 ? data[0] : 0;
  const bool pad = (choice & 1) != 0;
  const std::size_t blockBytes = 512 + 16 * (choice >> 1);
  const int jobs = choice % 32 == 0 ? 2 : 1;  // threads now and then: they cost much per input
  // Blocks of 16 KiB hold a whole input of the long runs (-max_len=8192).
  // When the small blocks hold it too and one worker runs, the second run
  // would read the input as the first did.
  constexpr std::size_t kWholeBlock = 16 << 10;
  const std::string whole = fuzz::GroupTextTo(tables, input, kWholeBlock, pad, 1);
  if ((jobs > 1 || input.size() >= blockBytes || input.size() >= kWholeBlock) &&
      whole != fuzz::GroupTextTo(tables, input, blockBytes, pad, jobs)) {
    std::abort();  // the blocks a file is read in changed what was written
  }
  // The first line explained, as JSON and as text, and grouped alone into a
  // record that must be a JSON object with its line number. A trace costs
  // several batch runs, so this is one line of one input in four.
  if (size == 0 || data[size - 1] % 4 != 0) return 0;
  static app::CaseExplainer explainer(tables);
  static app::LineGrouper lineGrouper(tables);
  const std::size_t end = std::min(input.find('\n'), input.size());
  const tallow::JsonTrace::Json j = explainer.Explain(1, input.data(), end);
  if (j.dump().empty() || app::ExplainText(j).empty()) std::abort();
  std::string record;
  lineGrouper.GroupToJson(1, input.data(), end, &record);
  const auto parsed = tallow::JsonTrace::Json::parse(record, nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object() || parsed.value("line", -1) != 1) std::abort();
  return 0;
}

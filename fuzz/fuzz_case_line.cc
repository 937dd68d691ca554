// Arbitrary case files through the whole batch loop with a valid synthetic
// table set: any bytes, any line lengths and endings. The first byte also
// chooses a small block size, padding and a number of workers for a second
// run, whose output must be the same as with the default blocks.
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
  const int jobs = choice % 8 == 0 ? 2 : 1;  // threads now and then: they cost much per input
  if (fuzz::GroupTextTo(tables, input, 1 << 16, pad, 1) !=
      fuzz::GroupTextTo(tables, input, blockBytes, pad, jobs)) {
    std::abort();  // the blocks a file is read in changed what was written
  }
  // Every line explained, as JSON and as text, and grouped one at a time
  // into a record that must be a JSON object with its line number.
  static app::CaseExplainer explainer(tables);
  static app::LineGrouper lineGrouper(tables);
  std::string record;
  std::size_t start = 0;
  for (int n = 1; start < input.size() && n <= 4; ++n) {
    std::size_t end = input.find('\n', start);
    if (end == std::string::npos) end = input.size();
    const tallow::JsonTrace::Json j = explainer.Explain(n, input.data() + start, end - start);
    if (j.dump().empty() || app::ExplainText(j).empty()) std::abort();
    lineGrouper.GroupToJson(n, input.data() + start, end - start, &record);
    const auto parsed = tallow::JsonTrace::Json::parse(record, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object() || parsed.value("line", -1) != n) std::abort();
    start = end + 1;
  }
  return 0;
}

// One case line in, its `group --format jsonl` record out: the entry point
// of the Python module and of programs that group cases one at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <fmt/format.h>

#include "engine/explain.h"
#include "grouper/group_request.h"
#include "tables/table_set.h"

namespace tallow {
class Grouper;
}

namespace tallow::app {

class CaseLine;

// Groups lines one at a time with one Grouper over a shared table set. One
// LineGrouper serves one thread; several may share the tables.
class LineGrouper {
 public:
  explicit LineGrouper(std::shared_ptr<const TableSet> tables);
  ~LineGrouper();
  LineGrouper(const LineGrouper&) = delete;
  LineGrouper& operator=(const LineGrouper&) = delete;

  // Sets *record to the JSON object `tallow group --format jsonl` writes for
  // this line as line `lineNumber` (no line end): the results, or
  // {"line": N, "error": "..."} for a line too short to group or a case the
  // grouper refuses. `text` holds `length` bytes, any bytes; one trailing
  // "\n" or "\r\n" is not part of the line, as in a case file.
  void GroupToJson(int64_t lineNumber, const char* text, std::size_t length,
                   std::string* record);

  // What `group --format jsonl` adds with --why and --flags.
  struct Extras {
    bool reason = false;  ///< "reason" for a case without a usable code
    bool flags = false;   ///< "flags", the data-quality flags
  };
  // Appends the same record (no line end) to `out`, with the extras asked
  // for; `text` as for GroupToJson.
  void AppendJson(int64_t lineNumber, const char* text, std::size_t length, Extras extras,
                  fmt::memory_buffer& out);

 private:
  std::unique_ptr<Grouper> grouper_;
  std::unique_ptr<CaseLine> line_;
  GroupRequest request_;
  ReasonTrace reasons_;  ///< attached while a reason is asked for
};

}  // namespace tallow::app

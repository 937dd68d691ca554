// The grouping service behind `tallow serve`, without the sockets: a request
// (method, path, query parameters, content type and body) in, a response
// (status, content type, body) out. The HTTP server hands every request to
// Service::Handle, and so can a test or a fuzz target.
//
//   GET  /          the page (text/html)
//   GET  /health    {"status":"ready"}
//   GET  /tables    the loaded table set: directory, digest, editions and counts
//   GET  /version   {"program":"tallow","version":"...","versionDate":"20050801"}
//   POST /group     case lines → a JSON array, one `group --format jsonl` record each;
//                   ?flags=1 and ?reason=1 add what --flags and --why add
//   POST /explain   case lines → a JSON array, one `explain --format json` trace each
//
// A body is text/plain, read as a case file is (a byte-order mark, CRLF line
// ends, an empty line ending the input), or application/json: {"line": "..."}
// or {"lines": ["...", ...]}, each string one case line whose characters
// U+0000-U+00FF stand for the bytes of the same number, as the jsonl records
// write them. Every error is a JSON object {"error": "..."}: 400 for a body
// that cannot be read, 404 for an unknown path, 405 for a known path asked
// with another method, 413 for a body over the limit.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tables/table_set.h"

namespace tallow::app {

inline constexpr std::size_t kDefaultBodyLimit = 16u << 20;  // 16 MiB

struct ServiceRequest {
  std::string_view method;       ///< "GET", "POST", ...
  std::string_view path;         ///< without the query
  std::vector<std::pair<std::string, std::string>> params;  ///< query parameters
  std::string_view contentType;  ///< the Content-Type header, "" when absent
  std::string_view body;
};

struct ServiceResponse {
  int status = 200;
  std::string contentType = "application/json";
  std::string body;
  std::string allow;  ///< for 405: the methods the path takes
  int64_t cases = 0;  ///< case lines grouped or explained
};

// One case line of a request body: its number (from 1) and its bytes.
struct BodyLine {
  int64_t line = 0;
  std::string_view text;
};

// The case lines of a request body, or the error that makes it a 400.
// `storage` keeps the bytes of lines that came as JSON strings.
struct BodyLines {
  std::vector<BodyLine> lines;
  std::string error;  ///< "" when the body could be read
  std::vector<std::string> storage;
};

// Reads a body as the content type says. Content types are compared without
// their parameters (charset) and without regard to case.
BodyLines ReadBodyLines(std::string_view contentType, std::string_view body);

// The case lines of a text body, cut as the batch cuts a case file. An empty
// line ends the input; non-empty lines after it make an error.
BodyLines ReadTextLines(std::string_view body);

// The facts /tables answers with, from a loaded set.
std::string TablesJson(const TableSet& tables, const std::string& directory,
                       const std::string& digest);

class Service {
 public:
  // `tables` is shared by every request; `tablesJson` is the /tables answer.
  // At most `workers` requests group at the same time, each with its own
  // grouper; others wait for one to be free.
  Service(std::shared_ptr<const TableSet> tables, std::string tablesJson, int workers,
          std::size_t bodyLimit = kDefaultBodyLimit);
  ~Service();
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // Safe to call from any number of threads at once.
  ServiceResponse Handle(const ServiceRequest& request) const;

  std::size_t bodyLimit() const { return bodyLimit_; }

  // The JSON body of an error response.
  static std::string ErrorBody(std::string_view message);

 private:
  struct Workspace;
  class Lease;

  ServiceResponse Group(const ServiceRequest& request, bool explain) const;

  std::shared_ptr<const TableSet> tables_;
  std::string tablesJson_;
  std::size_t bodyLimit_;
  int workers_;
  // Groupers not in use; at most `workers_` are ever made.
  mutable std::mutex mutex_;
  mutable std::condition_variable freed_;
  mutable std::vector<std::unique_ptr<Workspace>> idle_;
  mutable int made_ = 0;
};

// The page served at "/", compiled into the program.
std::string_view ServicePage();

}  // namespace tallow::app

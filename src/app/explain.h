// Explaining cases: one case grouped with a trace, as JSON or as a tree of
// text; and the tallow explain and tallow compare commands.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/batch.h"
#include "engine/explain.h"

namespace tallow {
class Grouper;
}

namespace tallow::app {

class CaseLine;

// Groups case lines one at a time with a JsonTrace attached.
class CaseExplainer {
 public:
  explicit CaseExplainer(std::shared_ptr<const TableSet> tables);
  ~CaseExplainer();
  CaseExplainer(const CaseExplainer&) = delete;
  CaseExplainer& operator=(const CaseExplainer&) = delete;

  // Groups one line (`length` characters); false when it is too short to be
  // grouped or the grouper refused it. The results then stand in fields().
  bool Group(const char* text, std::size_t length);
  // The first 214 characters of the last line, results filled in.
  const char* fields() const;
  const GroupRequest& request() const { return request_; }
  const JsonTrace& trace() const { return trace_; }

  // The trace object of one line: "line", every field `group --format jsonl`
  // writes, "reason" for a case without a usable code, "edition",
  // "acceptedRule", then the steps (see docs/explain.md). A line that cannot
  // be grouped gives {"line": N, "error": "..."}.
  JsonTrace::Json Explain(int64_t lineNumber, const char* text, std::size_t length);

 private:
  std::unique_ptr<Grouper> grouper_;
  std::unique_ptr<CaseLine> line_;
  GroupRequest request_;
  JsonTrace trace_;
  int result_ = 0;
};

// The trace as an indented tree, one line per step.
std::string ExplainText(const JsonTrace::Json& trace);

struct ExplainOptions {
  std::string tablesDirectory = ".";
  std::string inputPath = "tallow.in";
  std::string outputPath = "-";
  std::vector<int64_t> lines;  ///< only these (from 1); empty: every line
  bool json = false;
  std::FILE* err = stderr;
};
int RunExplain(const ExplainOptions& options);

struct CompareOptions {
  std::string tablesDirectory = ".";
  std::string inputPath = "tallow.in";
  bool json = false;
  bool explainDifferences = false;
  std::FILE* err = stderr;
};
// Exit status kExitOk when every line agrees, kExitDiffer when some differ.
int RunCompare(const CompareOptions& options);

}  // namespace tallow::app

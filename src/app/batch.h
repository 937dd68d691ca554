// The batch run: group every case line of an input into an output.
//
// One implementation serves both forms of the program: `tallow` with no
// arguments (the classic batch over "tallow.in" and "tallow.out" in the
// current directory) and `tallow group` with explicit paths and formats.
//
// Steps: the input must exist and open, the output is created (or
// truncated), the table set is loaded, then one line at a time is read,
// grouped and written, in input order. An empty line ends the input (files
// use it as an end mark). Lines written before a failure stay in the output.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include <fmt/format.h>

#include "grouper/group_request.h"
#include "tables/table_set.h"

namespace tallow::app {

// Exit statuses of the program, one per cause.
enum ExitStatus : int {
  kExitOk = 0,         ///< every input line was grouped and written
  kExitFailure = 1,    ///< tallow tables check found errors
  kExitUsage = 2,      ///< the command line could not be understood, or a tables command failed
  kExitInput = 3,      ///< the input file is missing or cannot be opened
  kExitOutput = 4,     ///< the output file cannot be opened
  kExitTables = 5,     ///< the table set failed to load
  kExitGrouping = 6,   ///< the grouper refused a case; the batch stopped there
  kExitRead = 7,       ///< reading the input failed
  kExitWrite = 8,      ///< writing the output failed
  kExitUngrouped = 9,  ///< an empty line ended the input and non-empty lines followed it
};

enum class OutputFormat : uint8_t {
  kLines,  ///< each input line with its result fields filled in
  kJsonl,  ///< one JSON object per grouped case
};

struct BatchOptions {
  std::string tablesDirectory;            ///< "" is the current directory
  std::string inputPath = "tallow.in";    ///< "-" is standard input
  std::string outputPath = "tallow.out";  ///< "-" is standard output
  OutputFormat format = OutputFormat::kLines;
  // The classic batch reports a missing input and a failed table load with
  // its two fixed messages (caption and text).
  bool classicMessages = false;
  // A progress line is drawn on `err` when it is a terminal and the input a
  // regular file.
  bool progress = false;
  std::FILE* err = stderr;  ///< where messages go
};

// Runs the batch; returns one of the exit statuses above.
int RunBatch(const BatchOptions& options);

// The case loop of RunBatch over open streams and a loaded table set (null
// stands for tables that are not loaded: the grouper refuses the first
// case). Messages name the streams by the paths in `options`. The output is
// not flushed.
int GroupStream(const std::shared_ptr<const TableSet>& tables, std::FILE* in, std::FILE* out,
                const BatchOptions& options);

// Appends the JSON object of one grouped case, without a line end: "line"
// (counted from 1), every output field of the request as a number, and the
// ten level characters as a JSON string.
void AppendJsonRecord(fmt::memory_buffer& out, int64_t lineNumber, const GroupRequest& request,
                      const char* levels);

// Appends {"line": N, "error": "..."} for a case the grouper refused.
void AppendJsonError(fmt::memory_buffer& out, int64_t lineNumber, const char* error);

}  // namespace tallow::app

// The batch run: group every case line of an input into an output.
//
// One implementation serves both forms of the program: `tallow` with no
// arguments (the classic batch over "tallow.in" and "tallow.out" in the
// current directory) and `tallow group` with explicit paths and formats.
//
// Steps: the input must exist and open, the output is prepared, the table set
// is loaded, then the input is read in blocks of lines, grouped (on one or
// more workers, each with its own Grouper over the one table set) and written
// in input order. An empty line ends the input (files use it as an end mark).
//
// Nothing is lost silently: a line too short to be grouped is written back
// as read and reported, a named output file is replaced only when the run
// reached its end (or one of the stops the batch defines), and the exit
// status says what happened.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include <fmt/format.h>

#include "app/output_file.h"
#include "app/records.h"
#include "grouper/group_request.h"
#include "tables/table_set.h"

namespace tallow::app {

// Exit statuses of the program, one per cause. When several apply the most
// serious wins, in this order: an interrupt, 8, 7, 6, 5, 9, 10, 0.
enum ExitStatus : int {
  kExitOk = 0,               ///< every input line was grouped and written
  kExitFailure = 1,          ///< tallow tables check found errors
  kExitUsage = 2,            ///< the command line could not be understood, or a tables command failed
  kExitInput = 3,            ///< the input file is missing or cannot be opened
  kExitOutput = 4,           ///< the output file cannot be opened, or is the input file
  kExitTables = 5,           ///< the table set failed to load
  kExitGrouping = 6,         ///< the grouper refused a case; the batch stopped there
  kExitRead = 7,             ///< reading the input failed
  kExitWrite = 8,            ///< writing the output failed
  kExitUngrouped = 9,        ///< an empty line ended the input and non-empty lines followed it
  kExitWithoutResults = 10,  ///< some lines were written without results (or held a NUL byte)
  kExitDiffer = 11,          ///< tallow compare: some lines' stored results differ
  kExitListen = 12,          ///< tallow serve: the address cannot be listened on
  kExitInterrupted = 130,    ///< SIGINT (143 for SIGTERM)
};

enum class OutputFormat : uint8_t {
  kLines,  ///< each input line with its result fields filled in
  kJsonl,  ///< one JSON object per case
  kCsv,    ///< a header row, then one row per case (RFC 4180)
};

enum class SummaryMode : uint8_t {
  kAuto,    ///< when the message stream is a terminal
  kAlways,  ///< --summary
  kNever,   ///< --quiet
};

struct BatchOptions {
  std::string tablesDirectory;            ///< "" is the current directory
  std::string inputPath = "tallow.in";    ///< "-" is standard input
  std::string outputPath = "tallow.out";  ///< "-" is standard output
  OutputFormat format = OutputFormat::kLines;
  // The classic batch reports a missing input and a failed table load with
  // its two fixed messages (caption and text), each followed by a line in
  // English.
  bool classicMessages = false;
  // A line shorter than 188 characters is padded with blanks to 188 and
  // grouped, instead of being written back without results.
  bool pad = false;
  // jsonl and csv gain a short "reason" for every case whose group code is
  // 000000 or 470000 or that could not be grouped.
  bool why = false;
  // jsonl and csv gain the data-quality "flags" of every case.
  bool flags = false;
  // Workers grouping in parallel; 0 is one per core the process may use.
  int jobs = 1;
  // A progress line is drawn on `err` when it is a terminal and the input a
  // regular file.
  bool progress = false;
  SummaryMode summary = SummaryMode::kNever;
  std::string summaryJsonPath;  ///< "" writes none
  std::size_t blockBytes = 0;   ///< 0 is the default block size; at least 512 are taken
  std::FILE* err = stderr;      ///< where messages go
};

// What a run did, for the summary.
struct RunCounts {
  int64_t lines = 0;           ///< case lines read before the run stopped (end mark excluded)
  int64_t grouped = 0;         ///< lines written with results
  int64_t withoutResults = 0;  ///< lines shorter than 188 characters, written as read
  int64_t nulLines = 0;        ///< lines holding a NUL byte
  int64_t ungroupable = 0;     ///< MDC 24: the principal diagnosis is not in the tables
  int64_t groupCodeZero = 0;   ///< group code 000000
  int64_t groupCode470000 = 0;
  int64_t groupCode8MM000 = 0;
  std::array<int64_t, kEditionCount> byEdition{};  ///< grouped cases per table edition
  std::array<int64_t, kDataFlagCount> flags{};  ///< cases with each data-quality flag (--flags)
  int64_t endMarkLine = 0;        ///< the empty line that ended the input, 0 when none
  int64_t linesAfterEndMark = 0;  ///< non-empty lines after it, not grouped
};

// Runs the batch; returns one of the exit statuses above.
int RunBatch(const BatchOptions& options);

// The start shared by the commands that read case lines: the input must
// exist and open, the output is prepared (see OutputFile), the table set is
// loaded. Each failure is reported on `err` (with the classic batch's fixed
// messages when asked) and returns its exit status; kExitOk when all is ready.
struct RunPaths {
  std::string tablesDirectory;  ///< "" is the current directory
  std::string inputPath;        ///< "-" is standard input
  std::string outputPath;       ///< "-" is standard output
};
struct OpenedRun {
  OpenedRun() = default;
  OpenedRun(const OpenedRun&) = delete;
  OpenedRun& operator=(const OpenedRun&) = delete;
  ~OpenedRun();
  int inFd = -1;
  bool ownsInput = false;
  std::string inName;  ///< the input as messages name it
  OutputFile output;
  std::shared_ptr<const TableSet> tables;
  std::string tablesName;
  std::string digest;  ///< when asked for
};
int OpenRun(const RunPaths& paths, std::FILE* err, bool classicMessages, bool wantDigest,
            OpenedRun* run);

// The case loop of RunBatch over open streams and a loaded table set (null
// stands for tables that are not loaded: the grouper refuses the first
// case). Messages name the streams by the paths in `options`. `counts`, when
// given, receives what the run did.
int GroupStream(const std::shared_ptr<const TableSet>& tables, std::FILE* in, std::FILE* out,
                const BatchOptions& options, RunCounts* counts = nullptr);

// The number of workers `jobs` stands for: itself when positive, else the
// number of cores the process may use.
int WorkerCount(int jobs);

}  // namespace tallow::app

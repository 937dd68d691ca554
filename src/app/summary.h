// The run summary: what a batch run did, on standard error for a person and
// as one JSON object for a program.
#pragma once

#include <cstdio>
#include <string>

#include "app/batch.h"

namespace tallow::app {

struct RunSummary {
  RunCounts counts;
  std::string tablesDigest;
  std::string tablesDirectory;
  int exitStatus = 0;
  double seconds = 0;
};

// A few lines: lines read and what became of them, the special group codes,
// cases per table edition, the tables' digest, the time and the speed.
void PrintSummary(std::FILE* err, const RunSummary& summary);

// The summary as one JSON object: lines, grouped, withoutResults, nulLines,
// ungroupable, groupCodeZero, groupCode470000, groupCode8MM000, byEdition
// (by the editions' table suffixes "8", "9", "0", "1"), endMarkLine,
// linesAfterEndMark, tablesDigest, tablesDirectory, exitStatus, seconds and
// casesPerSecond.
std::string SummaryJson(const RunSummary& summary);

// Writes SummaryJson and a line feed to `path`, replacing the file whole.
bool WriteSummaryJson(const std::string& path, const RunSummary& summary, std::string* error);

}  // namespace tallow::app

#include "app/summary.h"

#include <fmt/format.h>

#include <cstring>

#include <nlohmann/json.hpp>

#include "app/output_file.h"

namespace tallow::app {
namespace {

constexpr const char* kEditionNames[kEditionCount] = {"8", "9", "0", "1"};
constexpr const char* kEditionDates[kEditionCount] = {
    "to 1999-01-31", "1999-02-01 to 2001-12-31", "2002", "from 2003"};

double CasesPerSecond(const RunSummary& s) {
  return s.seconds > 0 ? static_cast<double>(s.counts.grouped) / s.seconds : 0.0;
}

}  // namespace

void PrintSummary(std::FILE* err, const RunSummary& s) {
  const RunCounts& c = s.counts;
  std::string text = fmt::format("tallow: {} lines read: {} grouped, {} written without results",
                                 c.lines, c.grouped, c.withoutResults);
  if (c.nulLines > 0) text += fmt::format(", {} with NUL bytes", c.nulLines);
  if (c.linesAfterEndMark > 0) {
    text += fmt::format("; {} lines after the end mark at line {} not grouped",
                        c.linesAfterEndMark, c.endMarkLine);
  }
  text += fmt::format("\n  ungroupable (MDC 24) {}, group code 000000 {}, 470000 {}, 8MM000 {}\n",
                      c.ungroupable, c.groupCodeZero, c.groupCode470000, c.groupCode8MM000);
  text += "  by table edition:";
  for (int e = 0; e < kEditionCount; ++e) {
    text += fmt::format("{} {} ({}) {}", e == 0 ? "" : ",", kEditionNames[e], kEditionDates[e],
                        c.byEdition[static_cast<std::size_t>(e)]);
  }
  std::string flags;
  for (int f = 0; f < kDataFlagCount; ++f) {
    const int64_t n = c.flags[static_cast<std::size_t>(f)];
    if (n > 0) flags += fmt::format("{} {} {}", flags.empty() ? "" : ",", DataFlagName(static_cast<DataFlag>(f)), n);
  }
  if (!flags.empty()) text += "\n  flags:" + flags;
  text += fmt::format("\n  tables {} in {}\n", s.tablesDigest, s.tablesDirectory);
  text += fmt::format("  {:.2f} s, {:.0f} cases/s, exit status {}\n", s.seconds,
                      CasesPerSecond(s), s.exitStatus);
  std::fputs(text.c_str(), err);
  std::fflush(err);
}

std::string SummaryJson(const RunSummary& s) {
  const RunCounts& c = s.counts;
  nlohmann::ordered_json editions = nlohmann::ordered_json::object();
  for (int e = 0; e < kEditionCount; ++e) {
    editions[kEditionNames[e]] = c.byEdition[static_cast<std::size_t>(e)];
  }
  nlohmann::ordered_json flagCounts = nlohmann::ordered_json::object();
  for (int f = 0; f < kDataFlagCount; ++f) {
    flagCounts[DataFlagName(static_cast<DataFlag>(f))] = c.flags[static_cast<std::size_t>(f)];
  }
  nlohmann::ordered_json j = {
      {"lines", c.lines},
      {"grouped", c.grouped},
      {"withoutResults", c.withoutResults},
      {"nulLines", c.nulLines},
      {"ungroupable", c.ungroupable},
      {"groupCodeZero", c.groupCodeZero},
      {"groupCode470000", c.groupCode470000},
      {"groupCode8MM000", c.groupCode8MM000},
      {"byEdition", editions},
      {"flags", flagCounts},
      {"endMarkLine", c.endMarkLine},
      {"linesAfterEndMark", c.linesAfterEndMark},
      {"tablesDigest", s.tablesDigest},
      {"tablesDirectory", s.tablesDirectory},
      {"exitStatus", s.exitStatus},
      {"seconds", s.seconds},
      {"casesPerSecond", CasesPerSecond(s)},
  };
  return j.dump();
}

bool WriteSummaryJson(const std::string& path, const RunSummary& summary, std::string* error) {
  OutputFile out;
  if (!out.Open(path, error)) return false;
  const std::string text = SummaryJson(summary) + "\n";
  if (!out.Write(text.data(), text.size()) || !out.Commit()) {
    *error = fmt::format("cannot write the summary to {}: {}", path,
                         std::strerror(out.errorNumber() != 0 ? out.errorNumber() : EIO));
    return false;
  }
  return true;
}

}  // namespace tallow::app

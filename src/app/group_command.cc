// The two forms of the batch: `tallow` alone and `tallow group`.
#include <CLI/CLI.hpp>
#include <cstdlib>
#include <string>

#include "app/batch.h"
#include "app/commands.h"

namespace tallow::app {

int RunClassicBatch() {
  BatchOptions options;
  options.classicMessages = true;
  options.summary = SummaryMode::kAuto;
  // TALLOW_JOBS sets the number of workers; the default is one per core.
  options.jobs = 0;
  if (const char* jobs = std::getenv("TALLOW_JOBS"); jobs != nullptr && *jobs != '\0') {
    char* end = nullptr;
    const long n = std::strtol(jobs, &end, 10);
    if (*end != '\0' || n < 1 || n > 64) {
      std::fprintf(stderr, "tallow: TALLOW_JOBS=%s is not a number of workers from 1 to 64\n",
                   jobs);
      return kExitUsage;
    }
    options.jobs = static_cast<int>(n);
  }
  return RunBatch(options);
}

void AddGroupCommand(CLI::App& app, int* exitStatus) {
  // The options live as long as the command line does.
  auto options = std::make_shared<BatchOptions>();
  options->tablesDirectory = ".";
  options->progress = true;
  options->jobs = 0;
  options->summary = SummaryMode::kAuto;
  auto format = std::make_shared<std::string>("lines");
  auto summary = std::make_shared<bool>(false);
  auto quiet = std::make_shared<bool>(false);

  CLI::App* group = app.add_subcommand(
      "group", "Group case lines: the classic batch with explicit paths and formats.\n"
               "The output fields and exit statuses are described in docs/fields.md and the "
               "README.");
  group->add_option("--tables", options->tablesDirectory,
                    "Directory of the twenty-two table files")
      ->capture_default_str();
  group->add_option("--in", options->inputPath, "Case lines to group, - for standard input")
      ->capture_default_str();
  group->add_option("--out", options->outputPath,
                    "Where the results go, - for standard output; a file is replaced when the "
                    "run ends")
      ->capture_default_str();
  group->add_option("--format", *format,
                    "lines: each case line with its results filled in; "
                    "jsonl: one JSON object per case; csv: a header row and one row per case "
                    "(fields in docs/fields.md)")
      ->check(CLI::IsMember({"lines", "jsonl", "csv"}))
      ->capture_default_str();
  group->add_flag("--pad", options->pad,
                  "Pad lines shorter than 188 characters with blanks and group them, instead "
                  "of writing them back without results");
  group->add_option("--jobs", options->jobs,
                    "Workers grouping in parallel (default: one per core)")
      ->check(CLI::Range(1, 64));
  group->add_flag("--why", options->why,
                  "With --format jsonl or csv: a short reason for every case whose group code "
                  "is 000000 or 470000 or that could not be grouped");
  group->add_flag("--flags", options->flags,
                  "With --format jsonl or csv: the data-quality flags of every case "
                  "(docs/fields.md)");
  group->add_flag("--summary", *summary,
                  "Print the run summary on standard error (the default on a terminal)");
  group->add_flag("--quiet", *quiet, "No summary and no progress line");
  group->add_option("--summary-json", options->summaryJsonPath,
                    "Write the run summary as one JSON object to this file");
  group->callback([options, format, summary, quiet, exitStatus] {
    options->format = *format == "jsonl" ? OutputFormat::kJsonl
                      : *format == "csv" ? OutputFormat::kCsv
                                         : OutputFormat::kLines;
    if ((options->why || options->flags) && options->format == OutputFormat::kLines) {
      std::fprintf(stderr,
                   "tallow group: --why and --flags add fields to --format jsonl or csv\n");
      *exitStatus = kExitUsage;
      return;
    }
    if (*quiet) {
      options->summary = SummaryMode::kNever;
      options->progress = false;
    } else if (*summary) {
      options->summary = SummaryMode::kAlways;
    }
    *exitStatus = RunBatch(*options);
  });
}

}  // namespace tallow::app

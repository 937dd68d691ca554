// The two forms of the batch: `tallow` alone and `tallow group`.
#include <CLI/CLI.hpp>

#include "app/batch.h"
#include "app/commands.h"

namespace tallow::app {

int RunClassicBatch() {
  BatchOptions options;
  options.classicMessages = true;
  return RunBatch(options);
}

void AddGroupCommand(CLI::App& app, int* exitStatus) {
  // The options live as long as the command line does.
  auto options = std::make_shared<BatchOptions>();
  options->tablesDirectory = ".";
  options->progress = true;
  auto format = std::make_shared<std::string>("lines");

  CLI::App* group = app.add_subcommand(
      "group", "Group case lines: the classic batch with explicit paths and formats.");
  group->add_option("--tables", options->tablesDirectory,
                    "Directory of the twenty-two table files")
      ->capture_default_str();
  group->add_option("--in", options->inputPath, "Case lines to group, - for standard input")
      ->capture_default_str();
  group->add_option("--out", options->outputPath, "Where the results go, - for standard output")
      ->capture_default_str();
  group->add_option("--format", *format,
                    "lines: each case line with its results filled in; "
                    "jsonl: one JSON object per case")
      ->check(CLI::IsMember({"lines", "jsonl"}))
      ->capture_default_str();
  group->callback([options, format, exitStatus] {
    options->format = *format == "jsonl" ? OutputFormat::kJsonl : OutputFormat::kLines;
    *exitStatus = RunBatch(*options);
  });
}

}  // namespace tallow::app

// tallow: batch grouper for hospital inpatient cases.
//
//   tallow                   group "tallow.in" into "tallow.out" here
//   tallow group ...         the same with explicit paths and formats
//   tallow tables ...        build, dump, check and synthesise table sets
#include <CLI/CLI.hpp>

#include "app/commands.h"
#include "app/version.h"

int main(int argc, char** argv) {
  if (argc == 1) return tallow::app::RunClassicBatch();

  CLI::App app{"Tallow groups hospital inpatient cases into DRGs and refined group codes."};
  app.set_version_flag("--version", std::string("tallow ") + tallow::app::kVersion);
  app.require_subcommand(1);
  int exitStatus = 0;
  tallow::app::AddGroupCommand(app, &exitStatus);
  tallow::app::AddTablesCommand(app, &exitStatus);
  CLI11_PARSE(app, argc, argv);
  return exitStatus;
}

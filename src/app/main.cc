// tallow: batch grouper for hospital inpatient cases.
//
//   tallow                   group "tallow.in" into "tallow.out" here
//   tallow group ...         the same with explicit paths and formats
//   tallow tables ...        build, dump, check and synthesise table sets
#include <CLI/CLI.hpp>

#include "app/batch.h"
#include "app/commands.h"
#include "app/version.h"

int main(int argc, char** argv) {
  if (argc == 1) return tallow::app::RunClassicBatch();

  CLI::App app{"Tallow groups hospital inpatient cases into DRGs and refined group codes.\n"
               "Without arguments it groups tallow.in into tallow.out in the current directory."};
  app.set_version_flag("--version", std::string("tallow ") + tallow::app::kVersion);
  app.require_subcommand(1);
  int exitStatus = tallow::app::kExitOk;
  tallow::app::AddGroupCommand(app, &exitStatus);
  tallow::app::AddTablesCommand(app, &exitStatus);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and version end with 0; a subcommand's own runtime error keeps its
    // status; anything else is a command line that could not be understood.
    const int code = app.exit(e);
    if (code == 0 || dynamic_cast<const CLI::RuntimeError*>(&e) != nullptr) return code;
    return tallow::app::kExitUsage;
  }
  return exitStatus;
}

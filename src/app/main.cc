// tallow: batch grouper for hospital inpatient cases.
//
//   tallow                   group "tallow.in" into "tallow.out" here
//   tallow group ...         the same with explicit paths and formats
//   tallow explain ...       why each case grouped as it did
//   tallow compare ...       whether stored results still hold
//   tallow tables ...        build, dump, check, compare, identify and synthesise table sets
//   tallow serve ...         answer grouping requests over HTTP, with a page
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstring>

#include "app/batch.h"
#include "app/commands.h"
#include "app/version.h"

namespace {

constexpr const char* kCommands[] = {"group", "explain", "compare", "tables", "serve"};

constexpr char kExitStatuses[] =
    "Exit statuses (the most serious wins: 130/143, 8, 7, 6, 5, 9, 10, 0):\n"
    "  0    every input line was grouped and written\n"
    "  1    tallow tables check found errors\n"
    "  2    the command line could not be understood, or a tables command failed\n"
    "  3    the input file is missing or cannot be opened\n"
    "  4    the output file cannot be opened, or is the input file itself\n"
    "  5    the table set failed to load (the output is left as it was)\n"
    "  6    the grouper refused a case; the lines before it are written\n"
    "  7    reading the input failed; the lines before it are written\n"
    "  8    writing the output failed (a named output file is left as it was)\n"
    "  9    an empty line ended the input and non-empty lines followed it\n"
    "  10   some lines were written without results, or held a NUL byte\n"
    "  11   tallow compare: some lines' stored results differ\n"
    "  12   tallow serve cannot listen on its address (tallow serve ends with 0 when stopped\n"
    "       by SIGINT or SIGTERM)\n"
    "  130  interrupted (143 for SIGTERM); a named output file is left as it was";

}  // namespace

int main(int argc, char** argv) {
  if (argc == 1) return tallow::app::RunClassicBatch();

  // A first word that names no command gets a message that says which exist.
  if (argv[1][0] != '-') {
    bool known = false;
    for (const char* command : kCommands) known = known || std::strcmp(argv[1], command) == 0;
    if (!known) {
      std::fprintf(stderr,
                   "tallow: no command '%s'; commands are group, explain, compare, tables and serve (tallow --help "
                   "tells more)\n",
                   argv[1]);
      return tallow::app::kExitUsage;
    }
  }

  CLI::App app{"Tallow groups hospital inpatient cases into DRGs and refined group codes.\n"
               "Without arguments it groups tallow.in into tallow.out in the current directory."};
  app.set_version_flag("--version", std::string("tallow ") + tallow::app::kVersion);
  app.footer(kExitStatuses);
  app.require_subcommand(1);
  int exitStatus = tallow::app::kExitOk;
  tallow::app::AddGroupCommand(app, &exitStatus);
  tallow::app::AddExplainCommands(app, &exitStatus);
  tallow::app::AddTablesCommand(app, &exitStatus);
  tallow::app::AddServeCommand(app, &exitStatus);
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

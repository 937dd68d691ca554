// The subcommands of the tallow program.
#pragma once

namespace CLI {
class App;
}

namespace tallow::app {

// tallow with no arguments: the classic batch over "tallow.in" and
// "tallow.out" in the current directory. Returns the exit status.
int RunClassicBatch();

// Each adds one subcommand to the command line; when the subcommand runs it
// stores its exit status in *exitStatus.
void AddGroupCommand(CLI::App& app, int* exitStatus);
void AddTablesCommand(CLI::App& app, int* exitStatus);
void AddExplainCommands(CLI::App& app, int* exitStatus);  // explain and compare
void AddServeCommand(CLI::App& app, int* exitStatus);

}  // namespace tallow::app

#pragma once

#include <string>

// The program's commands, which run without a window, a display or a
// session bus: "morvane divide ...", "morvane glue ...".
namespace morvane {

// True when the first argument names a command.
bool isCommandLineRun(int argc, char* argv[]);

// Runs the command named by argv[1] with the arguments after it and
// returns the exit status. Takes SIGHUP, SIGINT and SIGTERM as requests to
// stop for the rest of the process.
int runCommandLine(int argc, char* argv[]);

// The list of commands and their exit statuses, for "morvane --help".
std::string commandsHelp();

}  // namespace morvane

#pragma once

#include <string>
#include <vector>

#include "cli/argument_parser.h"

namespace morvane {

class Console;
class StopSignals;

// What every command is given to run with.
struct CommandContext {
    Console& console;
    StopSignals& stopSignals;
};

// One subcommand of the program ("morvane NAME ..."): its name, its
// options besides the common ones (--quiet, --json, --help), its help
// text, and the run. A command reads nothing from standard input and asks
// no question.
class Command {
  public:
    virtual ~Command() = default;

    virtual const char* name() const = 0;
    // One line for the program's list of commands.
    virtual const char* summary() const = 0;
    // "morvane NAME ..." as the usage line shows it.
    virtual const char* synopsis() const = 0;
    // The text of "morvane NAME --help" after the usage line.
    virtual const char* help() const = 0;
    virtual std::vector<OptionSpec> options() const = 0;
    // Runs the command on parsed `args`; returns the exit status.
    virtual int run(const ArgumentParser& args, CommandContext& context) = 0;
};

// A usage error of `command`: "morvane: NAME: `problem`" and the usage
// line on standard error. Returns the usage exit status.
int usageError(const Command& command, const Console& console, const std::string& problem);

// `path` split at its last "/": the folder, ending in "/" ("./" when the
// path has none), and the name after it.
void splitPath(const std::string& path, std::string* folder, std::string* name);

// 0 when `folder` is a folder that can be looked up; otherwise the errno
// that says why not (ENOTDIR for another kind of file).
int folderProblem(const std::string& folder);

// "SIGINT" for SIGINT, and so on for the stop signals; "" for others.
std::string signalName(int signo);

// `name` up to, not including, its last "."; the whole name without one.
std::string withoutExtension(const std::string& name);

}  // namespace morvane

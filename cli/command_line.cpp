#include "cli/command_line.h"

#include <unistd.h>

#include <QCoreApplication>
#include <cstring>
#include <memory>
#include <vector>

#include "cli/check_command.h"
#include "cli/command.h"
#include "cli/console.h"
#include "cli/divide_command.h"
#include "cli/exit_codes.h"
#include "cli/glue_command.h"
#include "cli/repair_command.h"
#include "cli/stop_signals.h"

namespace morvane {

namespace {

std::vector<std::unique_ptr<Command>> allCommands() {
    std::vector<std::unique_ptr<Command>> commands;
    commands.push_back(std::make_unique<DivideCommand>());
    commands.push_back(std::make_unique<GlueCommand>());
    commands.push_back(std::make_unique<CheckCommand>());
    commands.push_back(std::make_unique<RepairCommand>());
    return commands;
}

std::unique_ptr<Command> commandNamed(const char* name) {
    for (auto& command : allCommands()) {
        if (std::strcmp(command->name(), name) == 0) return std::move(command);
    }
    return nullptr;
}

}  // namespace

bool isCommandLineRun(int argc, char* argv[]) {
    return argc > 1 && commandNamed(argv[1]) != nullptr;
}

std::string commandsHelp() {
    std::string text = "Commands, which need no window (morvane COMMAND --help for each):\n";
    for (const auto& command : allCommands()) {
        std::string name = command->name();
        name.resize(8, ' ');
        text += "  " + name + command->summary() + "\n";
    }
    text +=
        "\nExit status of a command: 0 done or intact, 1 failed, 2 usage error, 3 damage\n"
        "that recovery data can rebuild (check), 4 damage that it cannot rebuild, 129,\n"
        "130 or 143 stopped by SIGHUP, SIGINT or SIGTERM.";
    return text;
}

int runCommandLine(int argc, char* argv[]) {
    // Before anything opens a file or starts a thread.
    const bool stdoutClosed = Console::guardStandardDescriptors();
    StopSignals stopSignals;
    const QCoreApplication application(argc, argv);

    std::unique_ptr<Command> command = commandNamed(argv[1]);
    std::vector<OptionSpec> options = command->options();
    options.insert(options.end(), {{"quiet", false}, {"json", false}, {"help", false}});
    ArgumentParser args(options);
    Console console(false, false, stdoutClosed);
    if (!args.parse(std::vector<std::string>(argv + 2, argv + argc)))
        return usageError(*command, console, args.error());
    if (args.has("help")) {
        const std::string text =
            std::string("Usage: ") + command->synopsis() + "\n\n" + command->help();
        return writeAll(STDOUT_FILENO, text) == 0 ? kExitDone : kExitFailed;
    }
    Console runConsole(args.has("quiet"), args.has("json"), stdoutClosed);
    CommandContext context{runConsole, stopSignals};
    return command->run(args, context);
}

}  // namespace morvane

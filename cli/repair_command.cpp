#include "cli/repair_command.h"

#include "cli/check_command.h"
#include "cli/command_run.h"
#include "cli/console.h"
#include "cli/exit_codes.h"
#include "cli/glue_command.h"
#include "cli/json_object.h"
#include "engine/file_glue.h"
#include "ui/check_text.h"

namespace morvane {

const char* RepairCommand::summary() const {
    return "rebuild lost or damaged files of a set in place";
}

const char* RepairCommand::synopsis() const {
    return "morvane repair HEADER [--quiet] [--json]";
}

const char* RepairCommand::help() const {
    return "Checks the set of the division header HEADER (or of PREFIX.par2 when the\n"
           "header is lost) as morvane check does, then rebuilds its lost and damaged\n"
           "files (chunks, header, checksum file) from the recovery data PREFIX.par2 and\n"
           "puts them in place beside HEADER. Nothing is glued. A set that is intact is\n"
           "left as it is.\n"
           "\n"
           "  --quiet          print nothing but errors\n"
           "  --json           print the result as one JSON object on standard output\n"
           "\n"
           "Exit status: 0 repaired or intact, 1 failed, 2 usage error, 4 damage that\n"
           "the recovery data cannot rebuild (nothing is changed), 129, 130 or 143\n"
           "stopped by SIGHUP, SIGINT or SIGTERM (nothing is changed).\n";
}

std::vector<OptionSpec> RepairCommand::options() const {
    return {};
}

int RepairCommand::run(const ArgumentParser& args, CommandContext& context) {
    Console& console = context.console;
    FileGlue glue;
    const int opened = openSet(*this, args, glue, console);
    if (opened != kExitDone) return opened;
    const std::string header = args.operands().front();
    CommandRun run("repair", context);
    if (run.resultWritable() != kExitDone) return kExitFailed;
    const bool done = run.run(glue, [&] { return glue.repairSet(); });

    int status = kExitDone;
    JsonObject& json = run.json();
    std::vector<std::string> rebuilt;
    if (done) {
        rebuilt = glue.CheckResult().lost();
        json.addString("result", rebuilt.empty() ? "intact" : "repaired");
        std::string text = checkSummary(glue.CheckResult());
        if (!rebuilt.empty()) {
            text = "Repaired:";
            for (const std::string& name : rebuilt) text += " " + name;
        }
        console.note(text);
    } else if (glue.Stopped()) {
        status = run.stopped("Repair");
    } else {
        run.failed(glue, glue.ErrorDescription());
        status = isDamage(glue) ? kExitDamaged : kExitFailed;
    }
    json.addNumber("exit_code", status);
    json.addString("header", header);
    json.addNumber("chunks", glue.NumOfChunks());
    json.addNumber("recovery_chunks", glue.RecoveryChunks());
    json.addStrings("rebuilt", rebuilt);
    if (!glue.Stopped()) addCheckResult(json, glue);
    return run.finish(status);
}

}  // namespace morvane

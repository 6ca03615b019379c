#include "cli/repair_command.h"

#include <chrono>

#include "cli/check_command.h"
#include "cli/console.h"
#include "cli/exit_codes.h"
#include "cli/glue_command.h"
#include "cli/json_object.h"
#include "cli/progress_line.h"
#include "cli/run_monitor.h"
#include "cli/text_escape.h"
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
    if (args.operands().size() != 1)
        return usageError(*this, console,
                          args.operands().empty() ? "no HEADER to repair" : "one HEADER at a time");
    const std::string header = args.operands().front();
    FileGlue glue;
    const int opened = openSet("repair", header, glue, console);
    if (opened != kExitDone) return opened;
    if (console.json() && !console.resultBlocked().empty()) {
        console.error("repair: --json: " + console.resultBlocked());
        return kExitFailed;
    }
    ProgressLine progress([&] { return glue.Phase(); });
    RunMonitor monitor(context.stopSignals, console.showsProgress() ? &progress : nullptr);
    bool done = false;
    const auto started = std::chrono::steady_clock::now();
    monitor.run([&] { done = glue.repairSet(); }, [&] { glue.requestStop(); });
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    int status = kExitDone;
    JsonObject json;
    json.addString("command", "repair");
    std::vector<std::string> rebuilt;
    if (done) {
        rebuilt = glue.CheckResult().lost();
        json.addString("result", rebuilt.empty() ? "intact" : "repaired");
        std::string text = checkSummaryText(glue.CheckResult()).toStdString();
        if (!rebuilt.empty()) {
            text = "Repaired:";
            for (const std::string& name : rebuilt) text += " " + name;
        }
        console.note(escapeForTerminal(text));
    } else if (glue.Stopped()) {
        json.addString("result", "stopped");
        json.addString("signal", signalName(monitor.signal()));
        console.note("Repair stopped.");
        status = exitForSignal(monitor.signal());
    } else {
        json.addString("result", "failed");
        console.error("repair failed: " + escapeForTerminal(glue.ErrorDescription()));
        JsonObject error;
        error.addNumber("code", glue.ErrorCode());
        error.addBool("system", glue.IsSysErr());
        error.addString("text", glue.ErrorDescription());
        json.addObject("error", error);
        status = isDamage(glue) ? kExitDamaged : kExitFailed;
    }
    json.addNumber("exit_code", status);
    json.addString("header", header);
    json.addNumber("chunks", glue.NumOfChunks());
    json.addNumber("recovery_chunks", glue.RecoveryChunks());
    json.addStrings("rebuilt", rebuilt);
    if (!glue.Stopped()) addCheckResult(json, glue);
    json.addSeconds("seconds", seconds);
    if (console.json() && !console.result(json.text()) && status == kExitDone) status = kExitFailed;
    return status;
}

}  // namespace morvane

#include "cli/check_command.h"

#include "cli/command_run.h"
#include "cli/console.h"
#include "cli/exit_codes.h"
#include "cli/glue_command.h"
#include "cli/json_object.h"
#include "engine/file_glue.h"
#include "ui/check_text.h"

namespace morvane {

namespace {

const char* healthName(FileHealth health) {
    switch (health) {
        case FileHealth::Intact:
            return "intact";
        case FileHealth::Damaged:
            return "damaged";
        case FileHealth::Missing:
            return "missing";
    }
    return "";
}

}  // namespace

void addCheckResult(JsonObject& json, const FileGlue& glue) {
    const SetCheck& check = glue.CheckResult();
    json.addBool("contents_checked", check.contentsChecked);
    std::vector<JsonObject> files;
    for (const CheckedFile& file : check.files) {
        JsonObject entry;
        entry.addString("name", file.name);
        entry.addString("state", healthName(file.health));
        files.push_back(entry);
    }
    json.addObjects("files", files);
    json.addBool("recoverable", check.recoverable);
    json.addBool("foreign_recovery", check.foreignRecovery);
    if (check.why.empty())
        json.addNull("why");
    else
        json.addString("why", check.why);
}

const char* CheckCommand::summary() const {
    return "check every chunk of a set, writing nothing";
}

const char* CheckCommand::synopsis() const {
    return "morvane check HEADER [--quiet] [--json]";
}

const char* CheckCommand::help() const {
    return "Reads every file of the set of the division header HEADER (or of PREFIX.par2\n"
           "when the header is lost) and writes nothing. Each chunk is compared with the\n"
           "recovery data PREFIX.par2 when it is there, otherwise with the checksum file\n"
           "PREFIX.sha256; a set with neither is checked for presence and lengths only,\n"
           "which is said. Prints the chunks that are damaged or missing and whether the\n"
           "recovery data can rebuild them (see morvane repair).\n"
           "\n"
           "  --quiet          print nothing but errors\n"
           "  --json           print the result, with every chunk's state, as one JSON\n"
           "                   object on standard output\n"
           "\n"
           "Exit status: 0 intact, 1 failed, 2 usage error, 3 damage that the recovery\n"
           "data can rebuild, 4 damage that it cannot, 129, 130 or 143 stopped by\n"
           "SIGHUP, SIGINT or SIGTERM.\n";
}

std::vector<OptionSpec> CheckCommand::options() const {
    return {};
}

int CheckCommand::run(const ArgumentParser& args, CommandContext& context) {
    Console& console = context.console;
    FileGlue glue;
    const int opened = openSet(*this, args, glue, console);
    if (opened != kExitDone) return opened;
    const std::string header = args.operands().front();
    CommandRun run("check", context);
    if (run.resultWritable() != kExitDone) return kExitFailed;
    const bool done = run.run(glue, [&] { return glue.checkSet(); });

    const SetCheck& check = glue.CheckResult();
    int status = kExitDone;
    JsonObject& json = run.json();
    if (done) {
        const bool intact = check.lost().empty();
        status = intact ? kExitDone : check.recoverable ? kExitRepairable : kExitDamaged;
        json.addString("result", intact ? "intact" : check.recoverable ? "repairable" : "damaged");
        const std::string text = checkSummary(check);
        if (intact)
            console.note(text);
        else
            console.error(text);
    } else if (glue.Stopped()) {
        status = run.stopped("Check");
    } else {
        run.failed(glue.ErrorDescription());
        status = kExitFailed;
    }
    json.addNumber("exit_code", status);
    json.addString("header", header);
    json.addNumber("chunks", glue.NumOfChunks());
    if (glue.ChecksumFileName().empty())
        json.addNull("checksums");
    else
        json.addString("checksums", glue.ChecksumFileName());
    json.addNumber("recovery_chunks", glue.RecoveryChunks());
    if (done) addCheckResult(json, glue);
    return run.finish(status);
}

}  // namespace morvane

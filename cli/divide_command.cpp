#include "cli/divide_command.h"

#include <sys/stat.h>

#include <cstring>
#include <limits>

#include "cli/command_run.h"
#include "cli/console.h"
#include "cli/exit_codes.h"
#include "cli/json_object.h"
#include "cli/output_names.h"
#include "cli/size_argument.h"
#include "engine/division_header.h"
#include "engine/file_divider.h"

namespace morvane {

namespace {

std::string grouped(int64_t value) {
    std::string digits = std::to_string(value), text;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
        text += digits[i];
    }
    return text;
}

// What the division plan needs from the command line, checked against the
// analysed file. Returns an empty text, or the usage problem.
std::string planChunks(const ArgumentParser& args, FileDivider& divider) {
    const int64_t fileSize = divider.BigFileSize();
    if (args.has("size")) {
        const std::string given = args.value("size");
        const SizeArgument size = readSizeArgument(args.value("size"));
        if (!size.valid)
            return "--size '" + given + "' is not a size: digits, then optionally KB, MB or GB";
        if (size.tooBig)
            return "--size " + given + ": Chunk Size Too Big. (at most " + grouped(kMaxChunkBytes) +
                   " bytes)";
        divider.setAvgChunkSize(static_cast<int32_t>(size.bytes));
        if (divider.ErrorCode() == kInvalidChunkSize) {
            const std::string why =
                size.bytes < 1 ? "a chunk holds at least 1 byte"
                : size.bytes > fileSize
                    ? "larger than the file's " + grouped(fileSize) + " bytes"
                    : "more than " + grouped(std::numeric_limits<int32_t>::max()) + " chunks";
            return "--size " + given + ": " + divider.ErrorDescription() + " (" + why + ")";
        }
        return std::string();
    }
    const std::string given = args.value("count");
    int64_t count = 0;
    if (!readCount(args.value("count"), std::numeric_limits<int32_t>::max(), &count) || count < 1)
        return "--count '" + given + "' is not a number of chunks (1 or more, digits only)";
    const CountPlan plan = planForCount(fileSize, count);
    if (plan.chunkBytes == 0) {
        std::string possible;
        if (plan.below > 0 && plan.above > 0)
            possible = "the nearest possible counts are " + grouped(plan.below) + " and " +
                       grouped(plan.above);
        else if (plan.below > 0)
            possible = "at most " + grouped(plan.below) + " chunks are possible";
        else
            possible = "at least " + grouped(plan.above) +
                       " chunks are needed (a chunk holds at most " + grouped(kMaxChunkBytes) +
                       " bytes)";
        return "--count " + given + ": no chunk size gives " + grouped(count) + " chunks of the " +
               grouped(fileSize) + "-byte file; " + possible;
    }
    divider.setAvgChunkSize(static_cast<int32_t>(plan.chunkBytes));
    return std::string();
}

// Where a division goes and what it writes beside the chunks.
struct DivisionTarget {
    std::string file;
    std::string prefix;
    std::string folder;
    int32_t recovery = 0;
};

// Whether the division may write into its folder: the folder is there and
// no file of the set's names is (unless `force`). kExitDone, or the status
// to end with.
int checkTarget(const FileDivider& divider, const DivisionTarget& target, bool force,
                const Console& console) {
    const std::string& folder = target.folder;
    const int failure = folderProblem(folder);
    if (failure != 0) {
        return console.failEarly("divide", kExitFailed,
                                 "divide failed: " + folder + ": " + strerror(failure));
    }
    const int32_t chunks = divider.NumOfChunks();
    const auto present = existingOutputs(folder, target.prefix, chunks, target.recovery);
    if (!present.empty() && !force) {
        return console.failEarly("divide", kExitFailed,
                                 "divide refused: " + nameList(present) + " in " + folder +
                                     (present.size() == 1 ? " exists" : " exist") +
                                     " already; --force replaces " +
                                     (present.size() == 1 ? "it" : "them"));
    }
    return kExitDone;
}

// Runs the division of `target`, with its progress on a terminal and its
// result; returns the exit status.
int divide(FileDivider& divider, const DivisionTarget& target, CommandContext& context) {
    CommandRun run("divide", context);
    if (run.resultWritable() != kExitDone) return kExitFailed;
    const int32_t chunks = divider.NumOfChunks();
    divider.setChunkPrefix(target.prefix);
    divider.setChunkPath(target.folder);
    divider.setRecoveryChunks(target.recovery);
    const int64_t total = divider.BigFileSize();
    const bool done = run.run(divider, [&] { return divider.divideFile(); });

    int status = kExitDone;
    JsonObject& json = run.json();
    if (done) {
        json.addString("result", "done");
        context.console.note("File Successfully Divided! " + target.folder +
                             headerFileName(target.prefix) + ": " + grouped(chunks) +
                             (chunks == 1 ? " chunk" : " chunks"));
    } else if (divider.Stopped()) {
        status = run.stopped("Division");
    } else {
        run.failed(divider, divider.ErrorDescription());
        status = kExitFailed;
    }
    json.addNumber("exit_code", status);
    json.addString("file", target.file);
    json.addNumber("file_size", total);
    json.addString("folder", target.folder);
    json.addString("prefix", target.prefix);
    json.addNumber("chunk_size", divider.AvgChunkSize());
    json.addNumber("last_chunk_size", divider.LastChunkSize());
    json.addNumber("chunks", chunks);
    json.addNumber("recovery_chunks", target.recovery);
    json.addStrings("written", done ? divisionOutputs(target.prefix, chunks, target.recovery)
                                    : std::vector<std::string>());
    return run.finish(status);
}

}  // namespace

const char* DivideCommand::summary() const {
    return "divide FILE into chunks, a header, a checksum file and recovery data";
}

const char* DivideCommand::synopsis() const {
    return "morvane divide FILE (--size SIZE | --count N) [--recovery N] [--to FOLDER] "
           "[--prefix NAME] [--force] [--quiet] [--json]";
}

const char* DivideCommand::help() const {
    return "Divides FILE into numbered chunk files PREFIX_1.div, PREFIX_2.div, ..., the\n"
           "division header PREFIX.hed and the checksum file PREFIX.sha256, with\n"
           "recovery data PREFIX.par2 and PREFIX.vol*.par2 when asked for. Nothing is\n"
           "under its name until every file is complete and on storage.\n"
           "\n"
           "  --size SIZE      chunk size: digits, then optionally KB, MB or GB (1024,\n"
           "                   1048576, 1073741824 bytes); at most 2000000000 bytes\n"
           "  --count N        the chunk size that gives N chunks\n"
           "  --recovery N     recovery chunks: any N lost or damaged files can be rebuilt\n"
           "                   (default 0: no recovery data)\n"
           "  --to FOLDER      where to write (default: FILE's folder)\n"
           "  --prefix NAME    name of the set (default: FILE's name without its extension)\n"
           "  --force          replace files of the set's names that exist already\n"
           "  --quiet          print nothing but errors\n"
           "  --json           print the result as one JSON object on standard output\n"
           "\n"
           "Exit status: 0 divided, 1 failed or refused, 2 usage error, 129, 130 or 143\n"
           "stopped by SIGHUP, SIGINT or SIGTERM (nothing is left behind).\n";
}

std::vector<OptionSpec> DivideCommand::options() const {
    return {{"size", true}, {"count", true},  {"recovery", true},
            {"to", true},   {"prefix", true}, {"force", false}};
}

int DivideCommand::run(const ArgumentParser& args, CommandContext& context) {
    Console& console = context.console;
    if (args.operands().size() != 1)
        return usageError(*this, console,
                          args.operands().empty() ? "no FILE to divide" : "one FILE at a time");
    if (args.has("size") == args.has("count"))
        return usageError(*this, console, "give either --size or --count");
    int64_t recovery = 0;
    if (args.has("recovery") &&
        !readCount(args.value("recovery"), std::numeric_limits<int32_t>::max(), &recovery)) {
        return usageError(
            *this, console,
            "--recovery '" + args.value("recovery") + "' is not a number of recovery chunks");
    }
    const std::string prefixGiven = args.value("prefix");
    if (args.has("prefix") && (prefixGiven.empty() || prefixGiven.find('/') != std::string::npos))
        return usageError(*this, console, "--prefix is a name, without a folder");

    const std::string path = args.operands().front();
    std::string fileFolder, fileName;
    splitPath(path, &fileFolder, &fileName);
    struct stat info;
    if (stat(path.c_str(), &info) == 0 &&
        (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode) || S_ISCHR(info.st_mode))) {
        return console.failEarly(
            "divide", kExitFailed,
            "divide failed: " + path + ": not a regular file (a FIFO, a socket or a device)");
    }
    FileDivider divider;
    divider.setBigFileName(fileName);
    divider.setBigFilePath(fileFolder);
    if (fileName.empty() || !divider.analyze()) {
        return console.failEarly(
            "divide", kExitFailed,
            "divide failed: " + path + ": " +
                (fileName.empty() ? strerror(EISDIR) : divider.ErrorDescription()));
    }
    const std::string problem = planChunks(args, divider);
    if (!problem.empty()) return usageError(*this, console, problem);
    divider.computeChunks();
    if (recovery > divider.MaxRecoveryChunks()) {
        return usageError(*this, console,
                          divider.MaxRecoveryChunks() == 0
                              ? "--recovery: a set of " + grouped(divider.NumOfChunks()) +
                                    " chunks can have no recovery data"
                              : "--recovery " + std::to_string(recovery) +
                                    ": this division can have at most " +
                                    grouped(divider.MaxRecoveryChunks()) + " recovery chunks");
    }

    DivisionTarget target;
    target.file = path;
    target.prefix = args.has("prefix") ? prefixGiven : withoutExtension(fileName);
    // A name that is all extension (".bashrc") keeps its whole name.
    if (target.prefix.empty()) target.prefix = fileName;
    target.folder = args.has("to") ? args.value("to") : fileFolder;
    if (target.folder.empty()) target.folder = "./";
    if (target.folder.back() != '/') target.folder += '/';
    target.recovery = static_cast<int32_t>(recovery);
    const int refusal = checkTarget(divider, target, args.has("force"), console);
    return refusal != kExitDone ? refusal : divide(divider, target, context);
}

}  // namespace morvane

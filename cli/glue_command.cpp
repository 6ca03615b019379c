#include "cli/glue_command.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include "cli/command_run.h"
#include "cli/console.h"
#include "cli/exit_codes.h"
#include "cli/json_object.h"
#include "engine/division_header.h"
#include "engine/file_glue.h"
#include "ui/recovery_text.h"

namespace morvane {

namespace {

// Where the glued file goes: `to` (or, when it is a folder, the stored name
// in it), by default the stored name beside the header.
std::string outputPath(const std::string& to, const std::string& headerFolder,
                       const std::string& storedName) {
    if (to.empty()) return headerFolder + storedName;
    struct stat info;
    if (stat(to.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        return to + (to.back() == '/' ? "" : "/") + storedName;
    return to;
}

// Whether the glue may write `output`: its folder is there and no file is
// in its place (unless `force`). kExitDone, or the status to end with.
int checkOutput(const std::string& output, bool force, const Console& console) {
    std::string outputFolder, outputName;
    splitPath(output, &outputFolder, &outputName);
    const int failure = folderProblem(outputFolder);
    if (failure != 0 || outputName.empty()) {
        return console.failEarly(
            "glue", kExitFailed,
            "glue failed: " + output + ": " + strerror(failure != 0 ? failure : EISDIR));
    }
    struct stat info;
    if (lstat(output.c_str(), &info) == 0 && !force) {
        return console.failEarly(
            "glue", kExitFailed,
            "glue refused: " + output + " exists already; --force replaces it");
    }
    return kExitDone;
}

}  // namespace

bool isDamage(const FileGlue& glue) {
    if (glue.IsSysErr()) return false;
    const int code = glue.ErrorCode();
    return code == kChunkFileMissing || code == kChunkFileDamaged || code == kInvalidChecksumFile;
}

int openSet(const Command& command, const ArgumentParser& args, FileGlue& glue,
            const Console& console) {
    const std::string name = command.name();
    if (args.operands().size() != 1)
        return usageError(
            command, console,
            args.operands().empty() ? "no HEADER to " + name : "one HEADER at a time");
    const std::string& header = args.operands().front();
    std::string headerFolder, headerName;
    splitPath(header, &headerFolder, &headerName);
    const std::string prefix = withoutExtension(headerName);
    glue.setHeaderFileName(headerName);
    glue.setHeaderFilePath(headerFolder);
    glue.setChunkPrefix(prefix);
    if (!headerName.empty() && !prefix.empty() && glue.analyze()) return kExitDone;
    const std::string why = headerName.empty() || prefix.empty()
                                ? std::string(engineMessage(kInvalidHeaderFile))
                                : glue.ErrorDescription();
    return console.failEarly(name,
                             !headerName.empty() && isDamage(glue) ? kExitDamaged : kExitFailed,
                             name + " failed: " + header + ": " + why);
}

std::string safeOutputName(const std::string& stored) {
    const std::size_t cut = stored.find_last_of("/\\");
    const std::string last = cut == std::string::npos ? stored : stored.substr(cut + 1);
    std::string name;
    for (std::size_t i = 0; i < last.size(); ++i) {
        const auto c = static_cast<unsigned char>(last[i]);
        if (c < 0x20 || c == 0x7F) continue;
        // U+0080 to U+009F, the C1 controls, in UTF-8.
        if (c == 0xC2 && i + 1 < last.size() && static_cast<unsigned char>(last[i + 1]) < 0xA0 &&
            static_cast<unsigned char>(last[i + 1]) >= 0x80) {
            ++i;
            continue;
        }
        name += last[i];
    }
    return name == "." || name == ".." ? std::string() : name;
}

const char* GlueCommand::summary() const {
    return "glue the chunks of a set back into the original file";
}

const char* GlueCommand::synopsis() const {
    return "morvane glue HEADER [--to PATH] [--force] [--quiet] [--json]";
}

const char* GlueCommand::help() const {
    return "Glues the chunks beside the division header HEADER (PREFIX.hed looks for\n"
           "PREFIX_1.div, PREFIX_2.div, ...) back into the original file, verifying\n"
           "them against PREFIX.sha256 when it is there, and rebuilding lost or damaged\n"
           "chunks from recovery data PREFIX.par2 when it is there and covers them.\n"
           "\n"
           "  --to PATH        the file to write, or a folder to write it in under its\n"
           "                   stored name (default: the stored name beside HEADER)\n"
           "  --force          replace the file to write if it exists\n"
           "  --quiet          print nothing but errors\n"
           "  --json           print the result as one JSON object on standard output\n"
           "\n"
           "Exit status: 0 glued, 1 failed or refused, 2 usage error, 4 chunks missing\n"
           "or damaged beyond what recovery data rebuilds, 129, 130 or 143 stopped by\n"
           "SIGHUP, SIGINT or SIGTERM (nothing is left behind).\n";
}

std::vector<OptionSpec> GlueCommand::options() const {
    return {{"to", true}, {"force", false}};
}

int GlueCommand::run(const ArgumentParser& args, CommandContext& context) {
    Console& console = context.console;
    FileGlue glue;
    const int opened = openSet(*this, args, glue, console);
    if (opened != kExitDone) return opened;
    const std::string header = args.operands().front();
    std::string headerFolder, headerName;
    splitPath(header, &headerFolder, &headerName);
    // Opened through `<prefix>.par2`, the set goes on with its header.
    const std::string prefix = glue.ChunkPrefix();

    std::string stored = safeOutputName(glue.BigFileName());
    if (stored.empty()) stored = safeOutputName(prefix);
    const std::string output = outputPath(args.value("to"), headerFolder, stored);
    const int refusal = checkOutput(output, args.has("force"), console);
    if (refusal != kExitDone) return refusal;
    CommandRun run("glue", context);
    if (run.resultWritable() != kExitDone) return kExitFailed;
    std::string outputFolder, outputName;
    splitPath(output, &outputFolder, &outputName);
    glue.setBigFileName(outputName);
    glue.setBigFilePath(outputFolder);
    const int64_t total = glue.BigFileSize();
    bool checked = false;
    const bool done = run.run(glue, [&] {
        checked = glue.checkExistence();
        return checked && glue.glueFile();
    });

    std::vector<std::string> rebuilt;
    for (int32_t k : glue.RebuiltChunks()) rebuilt.push_back(chunkFileName(prefix, k));
    int status = kExitDone;
    JsonObject& json = run.json();
    if (done) {
        json.addString("result", "done");
        const QString rebuiltText = rebuiltChunksText(QString::fromStdString(prefix),
                                                      glue.RebuiltChunks(), glue.RebuiltInPlace());
        console.note("File Successfully Glued Together! " + output +
                     (rebuiltText.isEmpty() ? "" : " " + rebuiltText.toStdString()));
    } else if (checked && glue.Stopped()) {
        status = run.stopped("Glue");
    } else {
        std::string why = glue.ErrorDescription();
        // Without recovery data the check names no chunk: the first one missing.
        if (!checked && glue.ErrorCode() == kChunkFileMissing && !glue.IsSysErr() &&
            why == engineMessage(kChunkFileMissing))
            why += ": " + chunkFileName(prefix, glue.CurrentChunk());
        run.failed(glue, why);
        status = isDamage(glue) ? kExitDamaged : kExitFailed;
    }
    json.addNumber("exit_code", status);
    json.addString("header", header);
    json.addString("output", output);
    json.addNumber("size", total);
    json.addNumber("chunks", glue.NumOfChunks());
    if (glue.ChecksumFileName().empty())
        json.addNull("checksums");
    else
        json.addString("checksums", glue.ChecksumFileName());
    json.addNumber("recovery_chunks", glue.RecoveryChunks());
    json.addStrings("rebuilt", rebuilt);
    json.addBool("rebuilt_in_place", glue.RebuiltInPlace());
    return run.finish(status);
}

}  // namespace morvane

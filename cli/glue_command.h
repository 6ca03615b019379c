#pragma once

#include "cli/command.h"

namespace morvane {

class FileGlue;

// morvane glue HEADER [--to PATH] [--force]
// Glues the set of HEADER with the engine's FileGlue, as the window's Glue
// does, rebuilding lost chunks when recovery data beside it covers them.
class GlueCommand : public Command {
  public:
    const char* name() const override { return "glue"; }
    const char* summary() const override;
    const char* synopsis() const override;
    const char* help() const override;
    std::vector<OptionSpec> options() const override;
    int run(const ArgumentParser& args, CommandContext& context) override;
};

// Analyses with `glue` the set of the one HEADER operand of `command` in
// `args`: a division header, or `<prefix>.par2` when the header is lost.
// kExitDone, or the status to end with once the usage error or the failure
// has been said.
int openSet(const Command& command, const ArgumentParser& args, FileGlue& glue,
            const Console& console);

// True when `glue` failed because chunks are missing or damaged beyond what
// its recovery data, if any, rebuilds.
bool isDamage(const FileGlue& glue);

// A name that came out of a header file, made safe to write as a file
// name: its last path component (either separator counts), without control
// characters; empty when nothing usable is left.
std::string safeOutputName(const std::string& stored);

}  // namespace morvane

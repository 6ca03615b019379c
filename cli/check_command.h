#pragma once

#include "cli/command.h"

namespace morvane {

class FileGlue;
class JsonObject;

// morvane check HEADER
// Reads every file of the set of HEADER and writes nothing: says which
// chunks are intact, damaged or missing and whether the recovery data can
// rebuild them, through the engine's FileGlue::checkSet.
class CheckCommand : public Command {
  public:
    const char* name() const override { return "check"; }
    const char* summary() const override;
    const char* synopsis() const override;
    const char* help() const override;
    std::vector<OptionSpec> options() const override;
    int run(const ArgumentParser& args, CommandContext& context) override;
};

// Adds what the last check of `glue` found to `json`: whether the contents
// were checked, each file with "intact", "damaged" or "missing", and
// whether the recovery data can rebuild what is lost.
void addCheckResult(JsonObject& json, const FileGlue& glue);

}  // namespace morvane

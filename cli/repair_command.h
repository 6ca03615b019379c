#pragma once

#include "cli/command.h"

namespace morvane {

// morvane repair HEADER
// Rebuilds the lost and damaged files of the set of HEADER in place from
// its recovery data, through the engine's FileGlue::repairSet; glues
// nothing.
class RepairCommand : public Command {
  public:
    const char* name() const override { return "repair"; }
    const char* summary() const override;
    const char* synopsis() const override;
    const char* help() const override;
    std::vector<OptionSpec> options() const override;
    int run(const ArgumentParser& args, CommandContext& context) override;
};

}  // namespace morvane

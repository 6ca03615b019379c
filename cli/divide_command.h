#pragma once

#include "cli/command.h"

namespace morvane {

// morvane divide FILE (--size SIZE | --count N) [--recovery N] [--to FOLDER]
//                [--prefix NAME] [--force]
// Divides FILE with the engine's FileDivider, as the window's Divide does.
class DivideCommand : public Command {
  public:
    const char* name() const override { return "divide"; }
    const char* summary() const override;
    const char* synopsis() const override;
    const char* help() const override;
    std::vector<OptionSpec> options() const override;
    int run(const ArgumentParser& args, CommandContext& context) override;
};

}  // namespace morvane

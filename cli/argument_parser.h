#pragma once

#include <map>
#include <string>
#include <vector>

namespace morvane {

// One long option of a command: "--name", followed by a value when
// `takesValue` ("--name VALUE" or "--name=VALUE").
struct OptionSpec {
    const char* name;
    bool takesValue;
};

// The arguments of one command: its options and its operands. "-h" stands
// for "--help" and "-q" for "--quiet"; "--" ends the options; anything else
// that begins with "-" must be one of the command's options. Arguments are
// kept as the bytes they were given in.
class ArgumentParser {
  public:
    explicit ArgumentParser(std::vector<OptionSpec> options) : m_options(std::move(options)) {}

    // Reads `args`. False, with error() saying why, for an unknown option,
    // an option without its value, a value given to an option that takes
    // none, or an option given twice.
    bool parse(const std::vector<std::string>& args);

    bool has(const std::string& name) const { return m_given.count(name) > 0; }
    // The value of a given option; empty when it was not given.
    std::string value(const std::string& name) const;
    const std::vector<std::string>& operands() const { return m_operands; }
    const std::string& error() const { return m_error; }

  private:
    const OptionSpec* find(const std::string& name) const;

    std::vector<OptionSpec> m_options;
    std::map<std::string, std::string> m_given;
    std::vector<std::string> m_operands;
    std::string m_error;
};

}  // namespace morvane

#include "cli/argument_parser.h"

namespace morvane {

const OptionSpec* ArgumentParser::find(const std::string& name) const {
    for (const OptionSpec& option : m_options) {
        if (name == option.name) return &option;
    }
    return nullptr;
}

std::string ArgumentParser::value(const std::string& name) const {
    const auto given = m_given.find(name);
    return given == m_given.end() ? std::string() : given->second;
}

bool ArgumentParser::parse(const std::vector<std::string>& args) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            m_operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const std::size_t equals = arg.find('=');
        const bool isShort = arg == "-h" || arg == "-q";
        const std::string name = arg == "-h"   ? "help"
                                 : arg == "-q" ? "quiet"
                                               : arg.substr(2, equals - 2);
        const OptionSpec* option = arg.compare(0, 2, "--") == 0 || isShort ? find(name) : nullptr;
        if (!option) {
            m_error = "unknown option '" + arg.substr(0, equals) + "'";
            return false;
        }
        if (m_given.count(name)) {
            m_error = "--" + name + " is given twice";
            return false;
        }
        std::string value;
        if (option->takesValue) {
            if (equals != std::string::npos) {
                value = arg.substr(equals + 1);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                m_error = "--" + name + " needs a value";
                return false;
            }
        } else if (equals != std::string::npos) {
            m_error = "--" + name + " takes no value";
            return false;
        }
        m_given[name] = value;
    }
    return true;
}

}  // namespace morvane

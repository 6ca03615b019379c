#pragma once

#include <string>

namespace morvane {

// What a command says: errors on standard error always, other lines there
// unless quiet, and its result as JSON on standard output when asked.
// Nothing is ever read from standard input.
class Console {
  public:
    // `stdoutClosed`: what guardStandardDescriptors() found.
    Console(bool quiet, bool json, bool stdoutClosed);

    // Makes sure descriptors 0, 1 and 2 are open (on /dev/null when they
    // were closed), so that no file the program opens takes their place.
    // Call it before anything opens a file. True when standard output was
    // closed.
    static bool guardStandardDescriptors();

    bool quiet() const { return m_quiet; }
    bool json() const { return m_json; }
    // True when standard error is a terminal and progress may be shown on it.
    bool showsProgress() const { return m_progress; }

    // Lines are given as bytes, names unescaped: error() and note() escape
    // them for the terminal, and a JSON result escapes them its own way.
    // "morvane: " + `line` on standard error.
    void error(const std::string& line) const;
    // `line` on standard error, unless quiet.
    void note(const std::string& line) const;
    // Ends a command before its run: `line` as error() writes it and, with
    // --json, an object with the command, "result": "failed",
    // the exit status and the error's text (`line`). Returns `status`.
    int failEarly(const std::string& command, int status, const std::string& line) const;
    // Whether the JSON result can be written at all: empty when it can,
    // otherwise why not (standard output closed, or a pipe with no reader).
    std::string resultBlocked() const;
    // Writes `json` and a line feed on standard output. False, with the
    // reason on standard error, when that fails.
    bool result(const std::string& json) const;

  private:
    bool m_quiet;
    bool m_json;
    bool m_progress = false;
    bool m_stdoutClosed = false;
};

// Writes all of `text` to `fd`, retrying interrupted and short writes;
// returns 0 or the errno of the failure.
int writeAll(int fd, const std::string& text);

}  // namespace morvane

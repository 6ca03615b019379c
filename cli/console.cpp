#include "cli/console.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <unistd.h>

#include "cli/json_object.h"
#include "cli/text_escape.h"

namespace morvane {

int writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

Console::Console(bool quiet, bool json, bool stdoutClosed)
    : m_quiet(quiet),
      m_json(json),
      m_progress(!quiet && isatty(STDERR_FILENO) == 1),
      m_stdoutClosed(stdoutClosed) {}

bool Console::guardStandardDescriptors() {
    bool stdoutClosed = false;
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0) continue;
        if (fd == STDOUT_FILENO) stdoutClosed = true;
        // The lowest free descriptor is the one missing.
        const int null = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (null >= 0 && null != fd) ::close(null);
    }
    return stdoutClosed;
}

void Console::error(const std::string& line) const {
    writeAll(STDERR_FILENO, "morvane: " + escapeForTerminal(line) + "\n");
}

void Console::note(const std::string& line) const {
    if (!m_quiet) writeAll(STDERR_FILENO, escapeForTerminal(line) + "\n");
}

int Console::failEarly(const std::string& command, int status, const std::string& line) const {
    error(line);
    if (!m_json) return status;
    JsonObject json;
    json.addString("command", command);
    json.addString("result", "failed");
    json.addNumber("exit_code", status);
    JsonObject failure;
    failure.addString("text", line);
    json.addObject("error", failure);
    result(json.text());
    return status;
}

std::string Console::resultBlocked() const {
    if (m_stdoutClosed) return "standard output is closed";
    pollfd out{STDOUT_FILENO, POLLOUT, 0};
    // A pipe whose reader has gone reports an error before anything is written.
    if (poll(&out, 1, 0) == 1 && (out.revents & POLLERR)) return strerror(EPIPE);
    return std::string();
}

bool Console::result(const std::string& json) const {
    const int failure = m_stdoutClosed ? EBADF : writeAll(STDOUT_FILENO, json + "\n");
    if (failure == 0) return true;
    error(std::string("the result could not be written to standard output: ") + strerror(failure));
    return false;
}

}  // namespace morvane

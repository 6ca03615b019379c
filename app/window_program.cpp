#include "app/window_program.h"

#include <errno.h>
#include <limits.h>
#include <string.h>
#include <unistd.h>

#include "cli/console.h"
#include "cli/text_escape.h"

namespace morvane {

namespace {

// Exit status when the window program cannot be started.
constexpr int kNoWindowProgram = 1;

std::string launcherPath() {
    std::string path(PATH_MAX, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= path.size()) return std::string();
    path.resize(static_cast<std::size_t>(n));
    return path;
}

}  // namespace

std::vector<std::string> windowProgramPlaces(const std::string& launcher) {
    std::vector<std::string> places;
    const std::size_t slash = launcher.find_last_of('/');
    if (slash != std::string::npos) {
        const std::string folder = launcher.substr(0, slash + 1);
        const std::string installed = MORVANE_WINDOW_FROM_LAUNCHER;
        places.push_back(installed.front() == '/' ? installed : folder + installed);
        places.push_back(folder + MORVANE_WINDOW_NAME);
    }
    places.push_back(MORVANE_WINDOW_INSTALLED);
    return places;
}

int runWindowProgram(char* argv[]) {
    int failure = ENOENT;
    std::string tried;
    for (const std::string& place : windowProgramPlaces(launcherPath())) {
        ::execv(place.c_str(), argv);
        const int error = errno;
        // A place that holds nothing is passed over; any other failure is told.
        if (error != ENOENT || tried.empty()) {
            failure = error;
            tried = place;
        }
    }
    writeAll(STDERR_FILENO, "morvane: cannot start the window: " + escapeForTerminal(tried) + ": " +
                                strerror(failure) + "\n");
    return kNoWindowProgram;
}

}  // namespace morvane

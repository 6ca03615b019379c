#include "cli/command.h"

#include <errno.h>
#include <signal.h>
#include <sys/stat.h>

#include "cli/console.h"
#include "cli/exit_codes.h"

namespace morvane {

int usageError(const Command& command, const Console& console, const std::string& problem) {
    console.error(std::string(command.name()) + ": " + problem);
    console.error(std::string("usage: ") + command.synopsis() + " (see morvane " + command.name() +
                  " --help)");
    return kExitUsage;
}

void splitPath(const std::string& path, std::string* folder, std::string* name) {
    const std::size_t slash = path.find_last_of('/');
    *folder = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
    *name = slash == std::string::npos ? path : path.substr(slash + 1);
}

int folderProblem(const std::string& folder) {
    struct stat info;
    if (stat(folder.c_str(), &info) != 0) return errno;
    return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
}

std::string signalName(int signo) {
    switch (signo) {
        case SIGHUP:
            return "SIGHUP";
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        default:
            return "";
    }
}

std::string withoutExtension(const std::string& name) {
    const std::size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

}  // namespace morvane

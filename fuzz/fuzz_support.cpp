#include "fuzz_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace morvane_fuzz {

namespace {

std::string g_folder;

void removeWorkFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(g_folder, ignored);
}

}  // namespace

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz: %s\n", what);
        std::abort();
    }
}

const std::string& workFolder() {
    if (g_folder.empty()) {
        char pattern[] = "/tmp/morvane-fuzz-XXXXXX";
        require(::mkdtemp(pattern) != nullptr, "cannot make a work folder");
        g_folder = std::string(pattern) + "/";
        std::atexit(removeWorkFolder);
    }
    return g_folder;
}

void writeFile(const std::string& path, const uint8_t* data, std::size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    require(fd >= 0, "cannot write a file");
    require(::write(fd, data, size) == static_cast<ssize_t>(size), "short write");
    ::close(fd);
}

}  // namespace morvane_fuzz

#include "engine/overwrite_guard.h"

#include <dirent.h>

#include <cerrno>
#include <memory>

#include "engine/division_header.h"
#include "engine/file_layer.h"

namespace morvane {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

bool isTarget(FileLayer& layer, const std::string& path, const FileId& target) {
    FileId id;
    return layer.identify(path, &id) && id == target;
}

// The chunk number `name` stands for, or 0 when it is no chunk name of
// `prefix` numbered 1..numOfChunks.
int64_t chunkNumber(const std::string& name, const std::string& prefix, int32_t numOfChunks) {
    const std::string head = prefix + "_";
    const std::string tail = ".div";
    if (name.size() <= head.size() + tail.size()) return 0;
    if (name.compare(0, head.size(), head) != 0) return 0;
    if (name.compare(name.size() - tail.size(), tail.size(), tail) != 0) return 0;
    const std::string digits = name.substr(head.size(), name.size() - head.size() - tail.size());
    if (digits.size() > 10 || digits[0] == '0') return 0;
    int64_t k = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return 0;
        k = k * 10 + (c - '0');
    }
    return k <= numOfChunks ? k : 0;
}

}  // namespace

bool chunkSetIncludes(FileLayer& layer, const std::string& folder, const std::string& prefix,
                      int32_t numOfChunks, const FileId& target) {
    return isTarget(layer, folder + headerFileName(prefix), target) ||
           chunksInclude(layer, folder, prefix, numOfChunks, target);
}

bool chunksInclude(FileLayer& layer, const std::string& folder, const std::string& prefix,
                   int32_t numOfChunks, const FileId& target) {
    // Only names that exist can be the target: list the folder once rather
    // than look up every possible chunk name.
    std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
    if (!dir) {
        if (errno == ENOENT || errno == ENOTDIR) return false;
        for (int32_t k = 1; k <= numOfChunks; ++k) {
            if (isTarget(layer, folder + chunkFileName(prefix, k), target)) return true;
        }
        return false;
    }
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (chunkNumber(name, prefix, numOfChunks) > 0 && isTarget(layer, folder + name, target)) {
            return true;
        }
    }
    return false;
}

}  // namespace morvane

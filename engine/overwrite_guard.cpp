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

}  // namespace

bool chunkSetIncludes(FileLayer& layer, const std::string& folder, const std::string& prefix,
                      int32_t numOfChunks, const FileId& target) {
    return isTarget(layer, folder + headerFileName(prefix), target) ||
           isTarget(layer, folder + checksumFileName(prefix), target) ||
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
        if (chunkNumberOf(name, prefix, numOfChunks) > 0 &&
            isTarget(layer, folder + name, target)) {
            return true;
        }
    }
    return false;
}

}  // namespace morvane

#include "engine/overwrite_guard.h"

#include <vector>

#include "engine/file_layer.h"
#include "engine/output_names.h"

namespace morvane {

namespace {

bool isTarget(FileLayer& layer, const std::string& path, const FileId& target) {
    FileId id;
    return layer.identify(path, &id) && id == target;
}

}  // namespace

bool namesInclude(FileLayer& layer, const std::string& folder, const OutputNames& names,
                  const FileId& target) {
    std::vector<std::string> entries;
    if (!layer.listFolder(folder, &entries).ok()) {
        // A folder that cannot be listed: its names looked up one by one.
        entries = names.list(names.chunkCount());
    }
    for (const std::string& name : entries) {
        if (names.contains(name) && isTarget(layer, folder + name, target)) return true;
    }
    return false;
}

}  // namespace morvane

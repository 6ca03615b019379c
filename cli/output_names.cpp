#include "cli/output_names.h"

#include <dirent.h>

#include <algorithm>
#include <memory>

#include "engine/division_header.h"
#include "engine/recovery/par2_layout.h"

namespace morvane {

std::vector<std::string> divisionOutputs(const std::string& prefix, int32_t numOfChunks,
                                         int32_t recoveryChunks) {
    std::vector<std::string> names{headerFileName(prefix)};
    for (int32_t k = 1; k <= numOfChunks; ++k) names.push_back(chunkFileName(prefix, k));
    names.push_back(checksumFileName(prefix));
    if (recoveryChunks > 0) {
        names.push_back(recoveryIndexName(prefix));
        for (const RecoveryVolume& volume : recoveryVolumes(prefix, recoveryChunks))
            names.push_back(volume.name);
    }
    return names;
}

std::vector<std::string> existingOutputs(const std::string& folder, const std::string& prefix,
                                         int32_t numOfChunks, int32_t recoveryChunks) {
    std::vector<std::string> others{headerFileName(prefix), checksumFileName(prefix)};
    if (recoveryChunks > 0) {
        others.push_back(recoveryIndexName(prefix));
        for (const RecoveryVolume& volume : recoveryVolumes(prefix, recoveryChunks))
            others.push_back(volume.name);
    }
    std::vector<int64_t> chunks;
    std::vector<std::string> found;
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
    if (!dir) return found;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        const int64_t k = chunkNumberOf(name, prefix, numOfChunks);
        if (k > 0) {
            chunks.push_back(k);
        } else if (std::find(others.begin(), others.end(), name) != others.end()) {
            found.push_back(name);
        }
    }
    std::sort(chunks.begin(), chunks.end());
    const auto rank = [&](const std::string& name) {
        return std::find(others.begin(), others.end(), name) - others.begin();
    };
    std::sort(found.begin(), found.end(),
              [&](const std::string& a, const std::string& b) { return rank(a) < rank(b); });
    // The header first, then the chunks, then the rest, as the outputs go.
    std::vector<std::string> ordered;
    if (!found.empty() && found.front() == headerFileName(prefix)) {
        ordered.push_back(found.front());
        found.erase(found.begin());
    }
    for (int64_t k : chunks) ordered.push_back(chunkFileName(prefix, k));
    ordered.insert(ordered.end(), found.begin(), found.end());
    return ordered;
}

std::string nameList(const std::vector<std::string>& names, std::size_t most) {
    std::string text;
    const std::size_t shown = names.size() > most + 1 ? most : names.size();
    for (std::size_t i = 0; i < shown; ++i) {
        if (i > 0) text += i + 1 == shown && shown == names.size() ? " and " : ", ";
        text += names[i];
    }
    if (shown < names.size()) text += " and " + std::to_string(names.size() - shown) + " more";
    return text;
}

}  // namespace morvane

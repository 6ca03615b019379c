#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace morvane {

class FileLayer;

// Which chunk files of a set are missing beside its header, as far as a
// bounded number of look-ups tells: a header may claim two billion chunks.
struct ChunkCensus {
    // Chunks 1..lookedUp were looked up.
    int32_t lookedUp = 0;
    // How many of them are missing, and the first few of those.
    int32_t missing = 0;
    std::vector<int32_t> firstMissing;
};

// Looks up chunks 1..count of `prefix` in `folder` (ending in "/"), at most
// `lookups` of them, stopping early when `stop` is set. A chunk counts as
// present when an entry of its name that is not a folder exists, links
// followed, as the glue's chunk check has it. Keeps the first `named`
// missing chunks.
ChunkCensus takeChunkCensus(FileLayer& layer, const std::string& folder, const std::string& prefix,
                            int32_t count, int32_t lookups, std::size_t named,
                            const std::atomic<bool>* stop = nullptr);

}  // namespace morvane

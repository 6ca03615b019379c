#include "engine/chunk_census.h"

#include <algorithm>

#include "engine/division_header.h"
#include "engine/file_layer.h"

namespace morvane {

ChunkCensus takeChunkCensus(FileLayer& layer, const std::string& folder, const std::string& prefix,
                            int32_t count, int32_t lookups, std::size_t named,
                            const std::atomic<bool>* stop) {
    ChunkCensus census;
    const int32_t last = std::min(count, lookups);
    for (int32_t k = 1; k <= last; ++k) {
        if (stop && stop->load(std::memory_order_relaxed)) break;
        census.lookedUp = k;
        if (layer.isPresentFile(folder + chunkFileName(prefix, k))) continue;
        ++census.missing;
        if (census.firstMissing.size() < named) census.firstMissing.push_back(k);
    }
    return census;
}

}  // namespace morvane

#pragma once

#include <cstdint>

namespace morvane {

// How a large file is cut into chunks: every chunk but the last holds
// avgChunkSize bytes, the last lastChunkSize. The one place that says how
// many bytes chunk k holds and where it starts.
struct ChunkLayout {
    int32_t avgChunkSize = 0;
    int32_t lastChunkSize = 0;
    int32_t numOfChunks = 0;

    // Bytes of chunk `k`, 1..numOfChunks.
    int32_t bytesOf(int64_t k) const { return k < numOfChunks ? avgChunkSize : lastChunkSize; }
    // Where chunk `k` starts in the large file.
    int64_t offsetOf(int64_t k) const { return (k - 1) * int64_t{avgChunkSize}; }
};

}  // namespace morvane

#pragma once

#include <cstdint>

namespace morvane {

// Both engines copy data in blocks of this many bytes and count progress in them.
constexpr int32_t BlockSize = 10485760;

// How a chunk of `chunkBytes` bytes (at least 1) is copied: `blocks` - 1
// full blocks of BlockSize, then one tail block of `tail` bytes.
struct BlockPlan {
    int64_t blocks = 0;
    int32_t tail = 0;
};

BlockPlan planBlocks(int32_t chunkBytes);

// Block copies of a whole run: blocks(avg) * (chunks - 1) + blocks(last).
int64_t countOps(int32_t avgChunkSize, int32_t lastChunkSize, int32_t numOfChunks);

}  // namespace morvane

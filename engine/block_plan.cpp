#include "engine/block_plan.h"

namespace morvane {

BlockPlan planBlocks(int32_t chunkBytes) {
    BlockPlan plan;
    const int32_t full = chunkBytes / BlockSize;
    const int32_t rest = chunkBytes % BlockSize;
    if (rest > 0) {
        plan.blocks = int64_t{full} + 1;
        plan.tail = rest;
    } else {
        plan.blocks = full;
        plan.tail = BlockSize;
    }
    return plan;
}

int64_t countOps(int32_t avgChunkSize, int32_t lastChunkSize, int32_t numOfChunks) {
    const int64_t fullChunks = numOfChunks > 1 ? int64_t{numOfChunks} - 1 : 0;
    const int64_t fullOps = fullChunks > 0 ? planBlocks(avgChunkSize).blocks * fullChunks : 0;
    return fullOps + planBlocks(lastChunkSize).blocks;
}

}  // namespace morvane

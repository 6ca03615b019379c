#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/status.h"

namespace morvane {

// One block of a run's data, lent by the copy loop to its consumers.
struct Block {
    const char* data = nullptr;
    std::size_t bytes = 0;
    // Counts the run's blocks from 1, in the order they are copied.
    int64_t sequence = 0;
    // The chunk the block belongs to, from 1.
    int32_t chunk = 0;
    // Where data[0] lies in that chunk.
    int64_t offset = 0;
    // The block holds the last bytes of its chunk.
    bool endsChunk = false;
};

// Reads every byte a run copies, in order, exactly once: the chunk and
// whole-file hashes, the recovery encoder. A consumer may do its work on
// threads of its own; the copy loop reuses a block's memory only after
// waitUntilDone has returned for that block's sequence number.
class BlockConsumer {
  public:
    virtual ~BlockConsumer() = default;

    // Hands over the next block. Called from the loop's thread, with blocks
    // in sequence; must not wait for the consumer's own work. `block.data`
    // stays valid and unchanged until waitUntilDone(block.sequence) returns.
    virtual void take(const Block& block) = 0;
    // Returns once every block up to and including `sequence` is consumed.
    // Returns the consumer's first failure instead, as soon as it has one.
    virtual Status waitUntilDone(int64_t sequence) = 0;
};

}  // namespace morvane

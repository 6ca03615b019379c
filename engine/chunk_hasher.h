#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/checksum_file.h"
#include "engine/status.h"

namespace morvane {

class File;
class FileLayer;

// Copies blocks through two buffers and hashes them with SHA-256 on helper
// threads: while the helpers hash block k, the caller reads and writes
// block k + 1 into the other buffer. One helper keeps a digest per chunk;
// with Scope::ChunksAndWhole a second one hashes every byte as one stream.
// All calls come from one thread, the caller's.
class ChunkHasher {
  public:
    enum class Scope { Chunks, ChunksAndWhole };

    explicit ChunkHasher(Scope scope);
    // Stops the helpers; whatever they have not hashed yet is dropped.
    ~ChunkHasher();
    ChunkHasher(const ChunkHasher&) = delete;
    ChunkHasher& operator=(const ChunkHasher&) = delete;

    // Gets both buffers from `layer` and starts the helpers. Fails with
    // ENOMEM when a buffer or a digest cannot be had, or with the errno of
    // a thread that cannot be started.
    Status start(FileLayer& layer);
    // Reads exactly `n` bytes (at most BlockSize) from `from`, writes them
    // to `to` and hands them to the helpers. `endsChunk`: they are the last
    // bytes of a chunk, whose digest is then completed.
    Status copyBlock(FileLayer& layer, File& from, File& to, std::size_t n, bool endsChunk);
    // Waits for the digest of the oldest completed chunk not taken yet.
    Status takeChunkDigest(Sha256Digest* out);
    // Waits until every block is hashed; the digest of all of them in
    // order. Only with Scope::ChunksAndWhole.
    Status wholeDigest(Sha256Digest* out);

  private:
    struct Lane;
    struct Slot {
        std::unique_ptr<char[]> buffer;
        std::size_t bytes = 0;
        bool endsChunk = false;
    };

    void runLane(Lane& lane);
    // Blocks every lane has finished, under m_mutex.
    int64_t hashedByAll() const;
    void stop();

    std::vector<std::unique_ptr<Lane>> m_lanes;
    Slot m_slots[2];

    std::mutex m_mutex;
    std::condition_variable m_changed;
    int64_t m_submitted = 0;
    std::deque<Sha256Digest> m_chunkDigests;
    Status m_failure;
    bool m_stopping = false;
};

}  // namespace morvane

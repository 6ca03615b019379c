#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/block_consumer.h"
#include "engine/checksum_file.h"
#include "engine/status.h"

namespace morvane {

class FileLayer;

// SHA-256 of a run's blocks on helper threads, one thread per lane: the
// chunk lane keeps a digest per chunk, the whole lane one digest of every
// byte in order. Calls other than the lanes' own come from one thread.
class HashLanes : public BlockConsumer {
  public:
    enum Lane { kChunkLane = 1, kWholeLane = 2 };

    // `lanes`: kChunkLane, kWholeLane or both.
    explicit HashLanes(int lanes);
    // Stops the lanes; what they have not hashed yet is dropped.
    ~HashLanes() override;
    HashLanes(const HashLanes&) = delete;
    HashLanes& operator=(const HashLanes&) = delete;

    // Starts the lanes. Fails with ENOMEM when a digest cannot be had, or
    // with the errno of a thread that cannot be started.
    Status start();

    void take(const Block& block) override;
    Status waitUntilDone(int64_t sequence) override;

    // Chunk digests completed and not taken yet; 0 without a chunk lane.
    int32_t chunkDigestsReady();
    // Waits for the digest of the oldest completed chunk not taken yet.
    Status takeChunkDigest(Sha256Digest* out);
    // Waits until every block taken is hashed; the digest of all of them
    // in order. Only with a whole lane, once.
    Status wholeDigest(Sha256Digest* out);

  private:
    struct LaneState;
    // A lane's job: hashes `block`, and ends a chunk's digest on the chunk lane.
    Status hash(LaneState& lane, const Block& block);
    void stop();

    std::vector<std::unique_ptr<LaneState>> m_lanes;
    LaneState* m_chunkLane = nullptr;
    LaneState* m_wholeLane = nullptr;
    // The sequence of the first block taken, and how many were taken.
    int64_t m_firstSequence = 0;
    int64_t m_taken = 0;
    // Job numbers of the blocks that end a chunk, digest not taken yet.
    std::deque<int64_t> m_chunkEnds;

    std::mutex m_digestMutex;
    std::deque<Sha256Digest> m_chunkDigests;  // under m_digestMutex
};

// The SHA-256 of the whole file at `path`, read in pieces, adding each
// piece's bytes to `*done` when `done` is not nullptr. Fails with ECANCELED
// once `*stop` is set (when `stop` is not nullptr).
Status sha256OfFile(FileLayer& layer, const std::string& path, Sha256Digest* out,
                    const std::atomic<bool>* stop = nullptr, std::atomic<int64_t>* done = nullptr);

}  // namespace morvane

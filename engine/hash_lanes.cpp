#include "engine/hash_lanes.h"

#include <cerrno>

#include "engine/file_layer.h"
#include "engine/sha256_stream.h"
#include "engine/worker_lane.h"

namespace morvane {

namespace {

Status digestFailure() {
    return Status::SysError(EIO, "SHA-256 computation failed");
}

}  // namespace

// Blocks in flight are bounded by the copy loop's buffers, far below this.
constexpr std::size_t kQueuedBlocks = 64;

struct HashLanes::LaneState {
    explicit LaneState(bool perChunk) : perChunk(perChunk), worker(kQueuedBlocks) {}

    const bool perChunk;
    // Touched only by the lane's jobs, or once the lane is idle.
    Sha256Stream stream;
    WorkerLane worker;
};

HashLanes::HashLanes(int lanes) {
    if (lanes & kChunkLane) {
        m_lanes.push_back(std::make_unique<LaneState>(true));
        m_chunkLane = m_lanes.back().get();
    }
    if (lanes & kWholeLane) {
        m_lanes.push_back(std::make_unique<LaneState>(false));
        m_wholeLane = m_lanes.back().get();
    }
}

HashLanes::~HashLanes() {
    stop();
}

void HashLanes::stop() {
    for (auto& lane : m_lanes) lane->worker.stop();
}

Status HashLanes::start() {
    for (auto& lane : m_lanes) {
        if (!lane->stream.ok()) return Status::SysError(ENOMEM);
    }
    for (auto& lane : m_lanes) {
        const Status s = lane->worker.start();
        if (!s.ok()) return s;
    }
    return Status::OK();
}

void HashLanes::take(const Block& block) {
    if (m_taken++ == 0) m_firstSequence = block.sequence;
    for (auto& lane : m_lanes) {
        LaneState& target = *lane;
        const int64_t number =
            target.worker.post([this, &target, block] { return hash(target, block); });
        if (target.perChunk && block.endsChunk) m_chunkEnds.push_back(number);
    }
}

Status HashLanes::waitUntilDone(int64_t sequence) {
    if (m_taken == 0) return Status::OK();
    // Blocks come in sequence: a lane's job number follows the block's.
    const int64_t number = sequence - m_firstSequence + 1;
    for (auto& lane : m_lanes) {
        const Status s = lane->worker.waitFor(number);
        if (!s.ok()) return s;
    }
    return Status::OK();
}

int32_t HashLanes::chunkDigestsReady() {
    std::lock_guard<std::mutex> lock(m_digestMutex);
    return static_cast<int32_t>(m_chunkDigests.size());
}

Status HashLanes::takeChunkDigest(Sha256Digest* out) {
    if (!m_chunkLane || m_chunkEnds.empty()) {
        return Status::SysError(EINVAL, "No chunk was ended");
    }
    const Status s = m_chunkLane->worker.waitFor(m_chunkEnds.front());
    if (!s.ok()) return s;
    m_chunkEnds.pop_front();
    std::lock_guard<std::mutex> lock(m_digestMutex);
    *out = m_chunkDigests.front();
    m_chunkDigests.pop_front();
    return Status::OK();
}

Status HashLanes::wholeDigest(Sha256Digest* out) {
    LaneState& whole = *m_wholeLane;
    Status s = whole.worker.waitFor(m_taken);
    if (s.ok() && m_chunkLane && m_chunkLane->worker.failed()) {
        s = m_chunkLane->worker.waitFor(m_taken);
    }
    if (!s.ok()) return s;
    // Every job of the lane has run: nothing else touches its stream.
    return whole.stream.finish(out) ? Status::OK() : digestFailure();
}

Status HashLanes::hash(LaneState& lane, const Block& block) {
    lane.stream.update(block.data, block.bytes);
    if (!lane.stream.ok()) return digestFailure();
    if (!lane.perChunk || !block.endsChunk) return Status::OK();
    Sha256Digest digest{};
    if (!lane.stream.finish(&digest)) return digestFailure();
    std::lock_guard<std::mutex> lock(m_digestMutex);
    m_chunkDigests.push_back(digest);
    return Status::OK();
}

Status sha256OfFile(FileLayer& layer, const std::string& path, Sha256Digest* out,
                    const std::atomic<bool>* stop, std::atomic<int64_t>* done) {
    Sha256Stream stream;
    std::unique_ptr<char[]> piece = layer.allocateBlock(kPieceSize);
    if (!stream.ok() || !piece) return Status::SysError(ENOMEM);
    std::unique_ptr<File> file;
    Status s = layer.openRead(path, &file);
    std::size_t got = kPieceSize;
    while (s.ok() && got == kPieceSize) {
        if (stop && *stop) return Status::SysError(ECANCELED);
        s = layer.read(*file, piece.get(), kPieceSize, &got);
        if (s.ok()) stream.update(piece.get(), got);
        if (done) *done += static_cast<int64_t>(got);
    }
    if (s.ok()) s = layer.close(*file);
    if (s.ok() && !stream.finish(out)) s = digestFailure();
    return s;
}

}  // namespace morvane

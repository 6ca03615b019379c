#include "engine/chunk_hasher.h"

#include <openssl/evp.h>

#include <cerrno>
#include <system_error>

#include "engine/block_plan.h"
#include "engine/file_layer.h"

namespace morvane {

namespace {

struct DigestContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextFree>;

Status digestFailure() {
    return Status::SysError(EIO, "SHA-256 computation failed");
}

}  // namespace

// One helper thread with its own digest, hashing every block in order.
struct ChunkHasher::Lane {
    bool perChunk = false;
    DigestContext context;
    // Blocks this lane has finished; written under m_mutex.
    int64_t hashed = 0;
    std::thread thread;
};

ChunkHasher::ChunkHasher(Scope scope) {
    const int lanes = scope == Scope::ChunksAndWhole ? 2 : 1;
    for (int i = 0; i < lanes; ++i) {
        m_lanes.push_back(std::make_unique<Lane>());
        m_lanes.back()->perChunk = i == 0;
    }
}

ChunkHasher::~ChunkHasher() {
    stop();
}

void ChunkHasher::stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    for (auto& lane : m_lanes) {
        if (lane->thread.joinable()) lane->thread.join();
    }
}

Status ChunkHasher::start(FileLayer& layer) {
    for (Slot& slot : m_slots) {
        slot.buffer = layer.allocateBlock(BlockSize);
        if (!slot.buffer) return Status::SysError(ENOMEM);
    }
    for (auto& lane : m_lanes) {
        lane->context.reset(EVP_MD_CTX_new());
        if (!lane->context) return Status::SysError(ENOMEM);
        if (EVP_DigestInit_ex(lane->context.get(), EVP_sha256(), nullptr) != 1) {
            return digestFailure();
        }
    }
    for (auto& lane : m_lanes) {
        try {
            lane->thread = std::thread([this, &lane = *lane] { runLane(lane); });
        } catch (const std::system_error& e) {
            return Status::SysError(e.code().value());
        }
    }
    return Status::OK();
}

Status ChunkHasher::copyBlock(FileLayer& layer, File& from, File& to, std::size_t n,
                              bool endsChunk) {
    Slot* slot;
    {
        // The buffer of block k + 1 held block k - 1: wait until that is hashed.
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return hashedByAll() + 1 >= m_submitted; });
        slot = &m_slots[m_submitted % 2];
    }
    Status s = readExact(layer, from, slot->buffer.get(), n);
    if (!s.ok()) return s;
    // The helpers hash the block while it is written: both only read the
    // buffer, and it is not reused before the next block is written too.
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        slot->bytes = n;
        slot->endsChunk = endsChunk;
        ++m_submitted;
    }
    m_changed.notify_all();
    return layer.write(to, slot->buffer.get(), n);
}

Status ChunkHasher::takeChunkDigest(Sha256Digest* out) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_chunkDigests.empty() || !m_failure.ok(); });
    if (!m_failure.ok()) return m_failure;
    *out = m_chunkDigests.front();
    m_chunkDigests.pop_front();
    return Status::OK();
}

Status ChunkHasher::wholeDigest(Sha256Digest* out) {
    Lane& whole = *m_lanes.back();
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] { return whole.hashed == m_submitted || !m_failure.ok(); });
    if (!m_failure.ok()) return m_failure;
    // The lane is idle until the next block, which does not come.
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(whole.context.get(), out->data(), &length) != 1) return digestFailure();
    return Status::OK();
}

int64_t ChunkHasher::hashedByAll() const {
    int64_t least = m_submitted;
    for (const auto& lane : m_lanes) least = std::min(least, lane->hashed);
    return least;
}

void ChunkHasher::runLane(Lane& lane) {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [&] { return m_stopping || lane.hashed < m_submitted; });
        if (m_stopping) return;
        const Slot& slot = m_slots[lane.hashed % 2];
        lock.unlock();

        Sha256Digest digest{};
        bool ok = EVP_DigestUpdate(lane.context.get(), slot.buffer.get(), slot.bytes) == 1;
        const bool chunkDone = lane.perChunk && slot.endsChunk;
        if (ok && chunkDone) {
            unsigned int length = 0;
            ok = EVP_DigestFinal_ex(lane.context.get(), digest.data(), &length) == 1 &&
                 EVP_DigestInit_ex(lane.context.get(), EVP_sha256(), nullptr) == 1;
        }

        lock.lock();
        if (!ok && m_failure.ok()) m_failure = digestFailure();
        if (chunkDone) m_chunkDigests.push_back(digest);
        ++lane.hashed;
        m_changed.notify_all();
    }
}

}  // namespace morvane

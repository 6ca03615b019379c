#include "engine/hash_lanes.h"

#include <openssl/evp.h>

#include <cerrno>
#include <system_error>

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

struct HashLanes::Worker {
    bool perChunk = false;
    DigestContext context;
    // Blocks waiting for this lane, and the sequence of the last it hashed;
    // both under m_mutex.
    std::deque<Block> queue;
    int64_t hashed = 0;
    std::thread thread;
};

HashLanes::HashLanes(int lanes) {
    if (lanes & kChunkLane) {
        m_workers.push_back(std::make_unique<Worker>());
        m_workers.back()->perChunk = true;
        m_chunkWorker = m_workers.back().get();
    }
    if (lanes & kWholeLane) {
        m_workers.push_back(std::make_unique<Worker>());
        m_wholeWorker = m_workers.back().get();
    }
}

HashLanes::~HashLanes() {
    stop();
}

void HashLanes::stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    for (auto& worker : m_workers) {
        if (worker->thread.joinable()) worker->thread.join();
    }
}

Status HashLanes::start() {
    for (auto& worker : m_workers) {
        worker->context.reset(EVP_MD_CTX_new());
        if (!worker->context) return Status::SysError(ENOMEM);
        if (EVP_DigestInit_ex(worker->context.get(), EVP_sha256(), nullptr) != 1) {
            return digestFailure();
        }
    }
    for (auto& worker : m_workers) {
        try {
            worker->thread = std::thread([this, &worker = *worker] { run(worker); });
        } catch (const std::system_error& e) {
            return Status::SysError(e.code().value());
        }
    }
    return Status::OK();
}

void HashLanes::take(const Block& block) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& worker : m_workers) worker->queue.push_back(block);
    }
    m_changed.notify_all();
}

Status HashLanes::waitUntilDone(int64_t sequence) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] {
        if (!m_failure.ok()) return true;
        for (const auto& worker : m_workers) {
            if (worker->hashed < sequence) return false;
        }
        return true;
    });
    return m_failure;
}

int32_t HashLanes::chunkDigestsReady() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int32_t>(m_chunkDigests.size());
}

Status HashLanes::takeChunkDigest(Sha256Digest* out) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_chunkDigests.empty() || !m_failure.ok(); });
    if (!m_failure.ok()) return m_failure;
    *out = m_chunkDigests.front();
    m_chunkDigests.pop_front();
    return Status::OK();
}

Status HashLanes::wholeDigest(Sha256Digest* out) {
    Worker& whole = *m_wholeWorker;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] { return whole.queue.empty() || !m_failure.ok(); });
    if (!m_failure.ok()) return m_failure;
    // The lane pops a block only once it is hashed: with its queue empty it
    // is idle, and nothing else touches its context.
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(whole.context.get(), out->data(), &length) != 1) return digestFailure();
    return Status::OK();
}

void HashLanes::run(Worker& worker) {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [&] { return m_stopping || !worker.queue.empty(); });
        if (m_stopping) return;
        const Block block = worker.queue.front();
        lock.unlock();

        Sha256Digest digest{};
        bool ok = EVP_DigestUpdate(worker.context.get(), block.data, block.bytes) == 1;
        const bool chunkDone = worker.perChunk && block.endsChunk;
        if (ok && chunkDone) {
            unsigned int length = 0;
            ok = EVP_DigestFinal_ex(worker.context.get(), digest.data(), &length) == 1 &&
                 EVP_DigestInit_ex(worker.context.get(), EVP_sha256(), nullptr) == 1;
        }

        lock.lock();
        if (!ok && m_failure.ok()) m_failure = digestFailure();
        if (chunkDone) m_chunkDigests.push_back(digest);
        worker.hashed = block.sequence;
        worker.queue.pop_front();
        m_changed.notify_all();
    }
}

Status sha256OfFile(FileLayer& layer, const std::string& path, Sha256Digest* out,
                    const std::atomic<bool>* stop, std::atomic<int64_t>* done) {
    DigestContext context(EVP_MD_CTX_new());
    std::unique_ptr<char[]> piece = layer.allocateBlock(kPieceSize);
    if (!context || !piece) return Status::SysError(ENOMEM);
    if (EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return digestFailure();
    std::unique_ptr<File> file;
    Status s = layer.openRead(path, &file);
    std::size_t got = kPieceSize;
    while (s.ok() && got == kPieceSize) {
        if (stop && *stop) return Status::SysError(ECANCELED);
        s = layer.read(*file, piece.get(), kPieceSize, &got);
        if (s.ok() && EVP_DigestUpdate(context.get(), piece.get(), got) != 1) s = digestFailure();
        if (done) *done += static_cast<int64_t>(got);
    }
    if (s.ok()) s = layer.close(*file);
    unsigned int length = 0;
    if (s.ok() && EVP_DigestFinal_ex(context.get(), out->data(), &length) != 1) s = digestFailure();
    return s;
}

}  // namespace morvane

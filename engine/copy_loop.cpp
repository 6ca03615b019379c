#include "engine/copy_loop.h"

#include <sys/mman.h>

#include <cerrno>
#include <cstdint>

#include "engine/block_plan.h"
#include "engine/file_layer.h"
#include "engine/output_set.h"

namespace morvane {

namespace {

// Blocks the consumers may hold while the loop reads and writes the next.
constexpr int kSlots = 3;
constexpr uintptr_t kHugePage = 2 << 20;

// Asks for huge pages under the part of [data, data + n) they can cover:
// the buffers are then faulted in a few pieces rather than page by page.
// Only advice: nothing fails.
void adviseHugePages(char* data, std::size_t n) {
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + n) & ~(kHugePage - 1);
    if (begin < end) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

}  // namespace

CopyLoop::CopyLoop(FileLayer& layer, const std::atomic<bool>& stop, std::atomic<int64_t>& bytesDone)
    : m_layer(layer), m_stop(stop), m_bytesDone(bytesDone) {}

CopyLoop::~CopyLoop() = default;

Status CopyLoop::stopped() {
    return Status::SysError(ECANCELED, "Stopped");
}

bool CopyLoop::isStopped(const Status& s) {
    return s.number() == ECANCELED;
}

Status CopyLoop::start() {
    const int slots = m_consumers.empty() ? 0 : kSlots;
    for (int i = 0; i < slots; ++i) {
        m_slots.push_back(m_layer.allocateBlock(BlockSize));
        if (!m_slots.back()) return Status::SysError(ENOMEM);
        adviseHugePages(m_slots.back().get(), BlockSize);
    }
    // Kernel copies fall back to it when the kernel refuses.
    m_fallback = m_layer.allocateBlock(kPieceSize);
    if (!m_fallback) return Status::SysError(ENOMEM);
    return Status::OK();
}

Status CopyLoop::copyChunk(File& from, File& to, int32_t chunk, int64_t bytes,
                           const std::function<void()>& beforeBlock) {
    const BlockPlan plan = planBlocks(static_cast<int32_t>(bytes));
    Status s;
    if (m_shareExtents && !m_consumers.empty()) s = m_layer.position(from, &m_sourceOffset);
    for (int64_t b = 1; s.ok() && b <= plan.blocks; ++b) {
        beforeBlock();
        if (m_stop) return stopped();
        Block block;
        block.bytes = b < plan.blocks ? BlockSize : static_cast<std::size_t>(plan.tail);
        block.chunk = chunk;
        block.offset = (b - 1) * int64_t{BlockSize};
        block.endsChunk = b == plan.blocks;
        block.sequence = ++m_sequence;
        s = copyBlock(from, to, block);
    }
    return s;
}

Status CopyLoop::copyBlock(File& from, File& to, const Block& block) {
    if (m_consumers.empty()) return copyPieces(from, to, block.bytes);

    Status s = waitForSlot(block.sequence);
    if (!s.ok()) return s;
    char* buffer = m_slots[block.sequence % kSlots].get();
    // Shared extents: the kernel copies while the consumers read the same
    // bytes from the page cache. Else the loop writes what it read.
    if (m_shareExtents) {
        s = readExactAt(m_layer, from, m_sourceOffset, buffer, block.bytes);
    } else {
        s = readExact(m_layer, from, buffer, block.bytes);
    }
    if (!s.ok()) return s;
    m_sourceOffset += static_cast<int64_t>(block.bytes);
    Block lent = block;
    lent.data = buffer;
    for (BlockConsumer* consumer : m_consumers) consumer->take(lent);
    return m_shareExtents ? copyPieces(from, to, block.bytes)
                          : writePieces(to, buffer, block.bytes);
}

Status CopyLoop::waitForSlot(int64_t sequence) {
    // The slot of block `sequence` held block `sequence - kSlots`.
    if (sequence <= kSlots) return Status::OK();
    for (BlockConsumer* consumer : m_consumers) {
        const Status s = consumer->waitUntilDone(sequence - kSlots);
        if (!s.ok()) return s;
    }
    return Status::OK();
}

Status CopyLoop::writePieces(File& to, const char* data, std::size_t n) {
    for (std::size_t done = 0; done < n;) {
        if (m_stop) return stopped();
        const std::size_t piece = std::min(n - done, kPieceSize);
        const Status s = m_layer.write(to, data + done, piece);
        if (!s.ok()) return s;
        done += piece;
        m_bytesDone += static_cast<int64_t>(piece);
        if (m_outputs) m_outputs->wrote(to, static_cast<int64_t>(piece));
    }
    return Status::OK();
}

Status CopyLoop::copyPieces(File& from, File& to, std::size_t n) {
    for (std::size_t done = 0; done < n;) {
        if (m_stop) return stopped();
        const std::size_t piece = std::min(n - done, kPieceSize);
        const Status s = m_layer.copy(from, to, piece, m_fallback.get());
        if (!s.ok()) return s;
        done += piece;
        m_bytesDone += static_cast<int64_t>(piece);
        if (m_outputs) m_outputs->wrote(to, static_cast<int64_t>(piece));
    }
    return Status::OK();
}

Status CopyLoop::drain() {
    for (BlockConsumer* consumer : m_consumers) {
        const Status s = consumer->waitUntilDone(m_sequence);
        if (!s.ok()) return s;
    }
    return Status::OK();
}

}  // namespace morvane

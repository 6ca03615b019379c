#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "engine/block_consumer.h"
#include "engine/status.h"

namespace morvane {

class File;
class FileLayer;
class OutputSet;

// The one block loop of both engines. Copies a chunk's bytes from one file
// to another in blocks of at most BlockSize: before each block it calls the
// caller's notification, then reads the block, lends it to the consumers
// (hashes, the recovery encoder) and writes it in pieces of kPieceSize,
// counting the bytes done and looking for a stop request between pieces.
//
// Without consumers the kernel copies the data (copy_file_range). With
// them the block is read into one of a few buffers, so that the consumers
// work on earlier blocks while the loop reads and writes the next; where
// the file system can share extents, the kernel still copies the data
// while the consumers read the block from the page cache.
class CopyLoop {
  public:
    // `stop`: set from any thread to end the run; `bytesDone`: counts the
    // bytes copied, readable from any thread.
    CopyLoop(FileLayer& layer, const std::atomic<bool>& stop, std::atomic<int64_t>& bytesDone);
    // The consumers must be done with the buffers, or stopped, first.
    ~CopyLoop();
    CopyLoop(const CopyLoop&) = delete;
    CopyLoop& operator=(const CopyLoop&) = delete;

    // Lends every block to `consumer` (not owned).
    void addConsumer(BlockConsumer* consumer) { m_consumers.push_back(consumer); }
    // Tells `outputs` of every piece written.
    void setOutputs(OutputSet* outputs) { m_outputs = outputs; }
    // Copy with the kernel even while consumers read the blocks (reflink).
    // May be set after start().
    void setShareExtents(bool share) { m_shareExtents = share; }

    // Gets the buffers. Fails with ENOMEM when one cannot be had.
    Status start();
    // Copies `bytes` bytes (at least 1) of chunk `chunk` from the current
    // offset of `from` to that of `to`, calling `beforeBlock` before each
    // block. Returns the first failure of a read, write, copy or consumer,
    // ENODATA when `from` ends early, or stopped() on a stop request.
    Status copyChunk(File& from, File& to, int32_t chunk, int64_t bytes,
                     const std::function<void()>& beforeBlock);
    // Waits until the consumers are done with every block; their failure.
    Status drain();

    // The status of a run ended by a stop request.
    static Status stopped();
    static bool isStopped(const Status& s);

  private:
    Status copyBlock(File& from, File& to, const Block& block);
    Status writePieces(File& to, const char* data, std::size_t n);
    Status copyPieces(File& from, File& to, std::size_t n);
    Status waitForSlot(int64_t sequence);

    FileLayer& m_layer;
    const std::atomic<bool>& m_stop;
    std::atomic<int64_t>& m_bytesDone;
    std::vector<BlockConsumer*> m_consumers;
    OutputSet* m_outputs = nullptr;
    bool m_shareExtents = false;
    std::vector<std::unique_ptr<char[]>> m_slots;
    // The buffer a kernel copy falls back to when the kernel refuses.
    std::unique_ptr<char[]> m_fallback;
    int64_t m_sequence = 0;
    // Where the next block starts in the file copied from.
    int64_t m_sourceOffset = 0;
};

}  // namespace morvane

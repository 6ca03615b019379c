#pragma once

// A file layer for the engine tests: it counts and logs every operation the
// engines ask of it, can make the Nth call of one operation fail with a
// chosen errno, and can route block copies through other paths.

#include <array>
#include <cstddef>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "engine/file_divider_events.h"
#include "engine/file_glue_events.h"
#include "engine/file_layer.h"

namespace morvane_test {

enum class Op {
    OpenRead,
    OpenWrite,
    Size,
    Read,
    Write,
    Copy,
    Flush,
    OpenFolder,
    FlushFileSystem,
    FlushFolder,
    Close,
    Allocate,
    Rename,
    ReadAt,
    WriteAt,
    ListFolder,
    Count
};

const char* opName(Op op);

class FaultyFileLayer : public morvane::FileLayer {
  public:
    // How copy() moves a block.
    enum class CopyMode {
        Native,         // the POSIX layer's own copy (copy_file_range, with its fallback)
        ThroughBuffer,  // the layer's read/write path, copyThroughBuffer
        ReadWrite,      // this layer's read() then write(), so that each can be made to fail
        Skip,           // moves both offsets and extends the target without moving data
        Shared,         // the POSIX layer's own copy, as on a file system that shares extents
    };

    void setCopyMode(CopyMode mode) { m_copyMode = mode; }
    // Makes call number `occurrence` (from 1) of `op` fail with `err`. A
    // failed allocation returns nullptr; the engine supplies the errno.
    void failAt(Op op, int occurrence, int err);
    // Calls `hook` at call number `occurrence` of `op`, before the call
    // goes ahead.
    void hookAt(Op op, int occurrence, std::function<void()> hook);
    // Forgets counts, log, fault and hook.
    void reset();

    // Makes every folder look as if it lay on a file system whose files are
    // flushed one by one (FUSE).
    void setFlushesFileByFile(bool byFile) { m_fileByFile = byFile; }

    // Makes the file at `path` look as if it lay on another file system.
    void placeElsewhere(const std::string& path) { m_elsewhere = path; }

    int calls(Op op) const { return m_calls[static_cast<std::size_t>(op)]; }
    bool faultHit() const { return m_faultHit; }
    // The path of the file the failed operation was about.
    const std::string& faultPath() const { return m_faultPath; }

    struct Entry {
        Op op;
        std::string path;
        std::size_t bytes;
    };
    // Every operation, in order (faulted ones included).
    std::vector<Entry> log;
    // Byte counts of the copy() calls, in order.
    std::vector<std::size_t> copySizes;
    // Byte counts of the read() calls on `path`, in order.
    std::vector<std::size_t> readSizes(const std::string& path) const;
    // Paths of the files opened for writing, and of those closed successfully
    // (temporary names as they were created).
    std::vector<std::string> openedForWrite;
    std::vector<std::string> closedOk;

    morvane::Status openRead(const std::string& path, std::unique_ptr<morvane::File>* out) override;
    morvane::Status openWrite(const std::string& path,
                              std::unique_ptr<morvane::File>* out) override;
    // Counted as OpenWrite.
    morvane::Status createNew(const std::string& path,
                              std::unique_ptr<morvane::File>* out) override;
    morvane::Status rename(const std::string& from, const std::string& to) override;
    // Counted as Rename.
    morvane::Status renameExclusive(const std::string& from, const std::string& to) override;
    morvane::Status size(morvane::File& file, int64_t* out) override;
    morvane::Status read(morvane::File& file, char* buffer, std::size_t n,
                         std::size_t* got) override;
    morvane::Status write(morvane::File& file, const char* buffer, std::size_t n) override;
    morvane::Status copy(morvane::File& from, morvane::File& to, std::size_t n,
                         char* buffer) override;
    morvane::Status flush(morvane::File& file) override;
    morvane::Status openFolder(const std::string& path,
                               std::unique_ptr<morvane::File>* out) override;
    morvane::Status flushFileSystem(morvane::File& folder) override;
    morvane::Status flushFolder(morvane::File& folder) override;
    morvane::Status close(morvane::File& file) override;
    bool identify(morvane::File& file, morvane::FileId* out) override;
    bool sharesExtents(morvane::File& folder) override;
    bool flushesFileByFile(morvane::File& folder) override;
    using morvane::FileLayer::identify;
    morvane::Status readAt(morvane::File& file, int64_t offset, char* buffer, std::size_t n,
                           std::size_t* got) override;
    morvane::Status writeAt(morvane::File& file, int64_t offset, const char* buffer,
                            std::size_t n) override;
    morvane::Status listFolder(const std::string& folder, std::vector<std::string>* names) override;
    std::unique_ptr<char[]> allocateBlock(std::size_t bytes) override;

  private:
    // Counts a call; true when this one is to fail.
    bool count(Op op, const std::string& path, std::size_t bytes = 0);

    CopyMode m_copyMode = CopyMode::Native;
    bool m_fileByFile = false;
    std::array<int, static_cast<std::size_t>(Op::Count)> m_calls{};
    std::mutex m_countMutex;
    Op m_faultOp = Op::Count;
    int m_faultOccurrence = 0;
    int m_faultErr = 0;
    bool m_faultHit = false;
    Op m_hookOp = Op::Count;
    int m_hookOccurrence = 0;
    std::function<void()> m_hook;
    std::string m_faultPath;
    std::string m_elsewhere;
};

void PrintTo(FaultyFileLayer::CopyMode mode, std::ostream* os);

using LoggedOp = std::pair<Op, std::string>;

// An observer of either engine that notes how far the layer's log had got
// when the run reported onComplete.
class CompletionProbe : public morvane::FileDividerEvents, public morvane::FileGlueEvents {
  public:
    explicit CompletionProbe(const FaultyFileLayer& layer) : m_layer(layer) {}
    void onComplete() override { m_logAtComplete = m_layer.log.size(); }
    // The last three operations before onComplete and every one after it.
    std::vector<LoggedOp> endOfLog() const;

  private:
    const FaultyFileLayer& m_layer;
    std::size_t m_logAtComplete = 0;
};

// The operations that end a successful run writing into `folder`: the last
// flush of the folder, the rename of `lastOutput` (a final path) into
// place, the flush of the folder that makes it last.
std::vector<LoggedOp> finalFlushes(const std::string& folder, const std::string& lastOutput);

// The final path a run's temporary path stands for; other paths as they are.
std::string finalPathOf(const std::string& path);
std::vector<std::string> finalPathsOf(const std::vector<std::string>& paths);
// The kernel copies of blocks of these sizes: pieces of at most 1 MiB.
std::vector<std::size_t> piecesOf(const std::vector<std::size_t>& blocks);

}  // namespace morvane_test

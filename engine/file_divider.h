#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/block_plan.h"
#include "engine/chunk_layout.h"
#include "engine/error_reporter.h"
#include "engine/file_divider_events.h"
#include "engine/run_control.h"

namespace morvane {

class FileLayer;
class OutputNames;
class OutputSet;
class Status;

// Divides one large file into numbered chunk files and a division header file.
//
// Call order: setBigFileName, setBigFilePath, analyze; for each chunk size
// setAvgChunkSize and computeChunks; then setChunkPrefix, setChunkPath and
// divideFile. Operations return false and record the reason in the error
// state (ErrorCode, ErrorDescription, IsSysErr) and raise onError; they never
// throw. Not thread-safe, and not re-entrant from inside a notification.
class FileDivider {
  public:
    // `layer` is the file system to use; nullptr means the POSIX one.
    explicit FileDivider(std::shared_ptr<FileLayer> layer = nullptr);
    ~FileDivider();
    FileDivider(const FileDivider&) = delete;
    FileDivider& operator=(const FileDivider&) = delete;

    // The observer that receives the notifications; nullptr for none.
    void setObserver(FileDividerEvents* observer) { m_errors.setObserver(observer); }

    const std::string& BigFileName() const { return m_bigFileName; }
    // Records code 2 and keeps the old name when `strBFN` is empty.
    void setBigFileName(const std::string& strBFN);
    const std::string& BigFilePath() const { return m_bigFilePath; }
    // Ignores an empty folder; otherwise stores it with one trailing "/".
    void setBigFilePath(const std::string& strBFP);
    const std::string& ChunkPrefix() const { return m_chunkPrefix; }
    // Records code 3 and keeps the old prefix when `strCP` is empty.
    void setChunkPrefix(const std::string& strCP);
    const std::string& ChunkPath() const { return m_chunkPath; }
    // Ignores an empty folder; otherwise stores it with one trailing "/".
    void setChunkPath(const std::string& strCP);

    int32_t AvgChunkSize() const { return m_avgChunkSize; }
    // Records code 10 before an analysis, code 4 for a size below 1, above
    // the file's size or giving more than INT32_MAX chunks, and keeps the
    // old size then; recomputes the plan in every case.
    void setAvgChunkSize(int32_t lngACS);
    int32_t LastChunkSize() const { return m_lastChunkSize; }
    int32_t NumOfChunks() const { return m_numOfChunks; }
    int64_t NumOfOps() const { return m_numOfOps; }
    // Records code 10 when the engine is not analysed, and returns 0 then.
    int64_t BigFileSize();
    int32_t CurrentChunk() const { return m_currentChunk; }
    int64_t CurrentOp() const { return m_currentOp; }

    // Recovery chunks the division writes beside the set (PAR2 files that
    // rebuild any RecoveryChunks lost or damaged files of it); 0, the
    // default, writes none. A run refuses more than MaxRecoveryChunks with
    // a system error (EINVAL) before writing anything.
    int32_t RecoveryChunks() const { return m_recoveryChunks; }
    void setRecoveryChunks(int32_t count) { m_recoveryChunks = count; }
    // The most recovery chunks the current plan can have; 0 when the set has
    // too many chunks for recovery data.
    int32_t MaxRecoveryChunks() const;
    // Bytes the recovery files take beside the set for `count` recovery
    // chunks of the current plan (without the few kilobytes of description).
    int64_t RecoveryBytes(int32_t count) const;

    // Asks the run in progress to end. Callable from any thread, also from
    // inside a notification. The run then ends within a second, removes
    // every file it made, changes no existing file, raises neither onError
    // nor onComplete, and divideFile returns false with Stopped() true. A
    // request made while no run is going on is kept for the next run.
    void requestStop() { m_run.requestStop(); }
    // True when the last divideFile ended because of requestStop().
    bool Stopped() const { return m_run.stopped(); }
    // Bytes of the large file the run in progress has copied so far (0
    // before the first run). Readable from any thread at any time.
    int64_t BytesDone() const { return m_run.bytesDone(); }
    // The phase of the run in progress, with its own bytes done and total;
    // Idle between runs. Readable from any thread at any time; phaseText
    // gives its text.
    RunPhaseSnapshot Phase() const { return m_run.phase().snapshot(); }

    int32_t ErrorCode() const { return m_errors.state().code(); }
    const std::string& ErrorDescription() const { return m_errors.state().description(); }
    bool IsSysErr() const { return m_errors.state().isSysErr(); }

    // Measures the large file and plans one chunk as large as the file (for
    // a file of 2 GiB or more: chunks of 2,000,000,000 bytes). Returns false
    // with code 2 (no name), code 5 (empty file) or a system error.
    bool analyze();
    // Recomputes NumOfChunks and LastChunkSize from the file size and the
    // chunk size. Returns false with code 10 when there is no chunk size.
    bool computeChunks();
    // Writes the header file, every chunk file and then the checksum file
    // ChunkPrefix.sha256 (a SHA-256 line per chunk and one for the large
    // file, as sha256sum writes them), each under a temporary name, and
    // puts them under their names once all are on storage, the header
    // last. Returns false with code 10 (no current analysis), 3 (no prefix),
    // 13 (an output file is the large file itself) or a system error (ENOSPC
    // before anything is written when the folder plainly lacks the room);
    // the folder then holds what it held before. Returns false without an
    // error when stopped (see requestStop).
    bool divideFile();

    // The existing files a division with the current plan and recovery
    // chunks, named `prefix` in `folder`, would replace: its header, chunks,
    // checksum file and recovery files, and older recovery files of the set
    // of that prefix. Headers and checksum files sort before chunk files,
    // chunks in their order.
    std::vector<std::string> filesReplacedIn(const std::string& folder,
                                             const std::string& prefix) const;

  private:
    bool runDivision();
    bool measureBigFile();
    void computeOps();
    bool outputsAreDistinctFromSource();
    // Every final name the run writes.
    OutputNames outputNames() const;
    OutputNames outputNamesOf(const std::string& prefix) const;
    // True for a recovery file `name` in `folder`, not one of `ours`, that
    // describes chunks of `prefix`: an older set's, which a division replaces.
    bool isOlderRecoveryFile(const std::string& folder, const std::string& prefix,
                             const OutputNames& ours, const std::string& name) const;
    // Has `outputs` replace the older set's recovery files the run does not
    // write again.
    void replaceOlderRecoveryFiles(OutputSet& outputs);
    Status writeHeader(OutputSet& outputs, std::vector<char>* bytes);
    Status writeChunks(OutputSet& outputs, const std::vector<char>& header);
    ChunkLayout layout() const { return {m_avgChunkSize, m_lastChunkSize, m_numOfChunks}; }
    std::string bigFileFullName() const { return m_bigFilePath + m_bigFileName; }

    std::shared_ptr<FileLayer> m_layer;

    std::string m_bigFileName;
    std::string m_bigFilePath;
    std::string m_chunkPrefix;
    std::string m_chunkPath;
    int32_t m_avgChunkSize = 0;
    int32_t m_lastChunkSize = 0;
    int32_t m_numOfChunks = 0;
    int64_t m_bigFileSize = 0;
    int32_t m_currentChunk = -1;
    int64_t m_numOfOps = 0;
    int64_t m_currentOp = 0;
    int32_t m_recoveryChunks = 0;
    ErrorReporter<FileDividerEvents> m_errors;
    RunControl m_run;
};

}  // namespace morvane

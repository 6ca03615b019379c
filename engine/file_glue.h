#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/block_plan.h"
#include "engine/checksum_file.h"
#include "engine/chunk_layout.h"
#include "engine/error_reporter.h"
#include "engine/file_glue_events.h"
#include "engine/run_control.h"
#include "engine/set_check.h"

namespace morvane {

class FileLayer;
class HashLanes;
class SetRepair;

// Glues the chunk files of a division back into one file.
//
// Call order: setHeaderFileName, setHeaderFilePath, setChunkPrefix, analyze;
// then setBigFileName and setBigFilePath to the output file, checkExistence
// and glueFile. Operations return false and record the reason in the error
// state and raise onError; they never throw. Not thread-safe, and not
// re-entrant from inside a notification.
class FileGlue {
  public:
    // `layer` is the file system to use; nullptr means the POSIX one.
    explicit FileGlue(std::shared_ptr<FileLayer> layer = nullptr);
    ~FileGlue();
    FileGlue(const FileGlue&) = delete;
    FileGlue& operator=(const FileGlue&) = delete;

    // The observer that receives the notifications; nullptr for none.
    void setObserver(FileGlueEvents* observer) { m_errors.setObserver(observer); }

    const std::string& BigFilePath() const { return m_bigFilePath; }
    // Ignores an empty folder; otherwise stores it with one trailing "/".
    void setBigFilePath(const std::string& strBFP);
    const std::string& ChunkPrefix() const { return m_chunkPrefix; }
    // Records code 3 and keeps the old prefix when `strCP` is empty.
    void setChunkPrefix(const std::string& strCP);
    const std::string& HeaderFileName() const { return m_headerFileName; }
    // Records code 2 and keeps the old name when `strHFN` is empty.
    void setHeaderFileName(const std::string& strHFN);
    const std::string& HeaderFilePath() const { return m_headerFilePath; }
    // Ignores an empty folder; otherwise stores it with one trailing "/".
    void setHeaderFilePath(const std::string& strHFP);
    const std::string& BigFileName() const { return m_bigFileName; }
    // Records code 2 and keeps the old name when `strBFN` is empty.
    void setBigFileName(const std::string& strBFN);

    int32_t AvgChunkSize() const { return m_avgChunkSize; }
    int32_t LastChunkSize() const { return m_lastChunkSize; }
    int32_t NumOfChunks() const { return m_numOfChunks; }
    int64_t NumOfOps() const { return m_numOfOps; }
    int64_t BigFileSize() const { return m_bigFileSize; }
    int32_t CurrentChunk() const { return m_currentChunk; }
    int64_t CurrentOp() const { return m_currentOp; }
    // The name of the checksum file the analysis found beside the header
    // file, whose digests the run verifies; empty when there is none.
    const std::string& ChecksumFileName() const { return m_checksumFileName; }

    // Recovery chunks of usable recovery data (`<prefix>.par2` and its
    // volumes beside the header) the analysis found: how many lost or
    // damaged files of the set a glue can rebuild. 0 when there is none.
    int32_t RecoveryChunks() const;
    // The chunks the last glueFile rebuilt from the recovery data, in order.
    const std::vector<int32_t>& RebuiltChunks() const;
    // False when the rebuilt chunks could not be put back beside the header
    // (read-only media) and were used for the glue only.
    bool RebuiltInPlace() const;
    // True when the last glueFile found recovery data beside the set that
    // belongs to another division, and glued without it.
    bool ForeignRecovery() const { return m_foreignRecovery; }

    // Asks the run in progress to end. Callable from any thread, also from
    // inside a notification. The run then ends within a second, removes
    // every file it made, changes no existing file, raises neither onError
    // nor onComplete, and glueFile returns false with Stopped() true. A
    // request made while no run is going on is kept for the next run.
    void requestStop() { m_run.requestStop(); }
    // True when the last glueFile ended because of requestStop().
    bool Stopped() const { return m_run.stopped(); }
    // Bytes of the output the run in progress has written so far (0 before
    // the first run). Readable from any thread at any time.
    int64_t BytesDone() const { return m_run.bytesDone(); }
    // The phase of the run in progress, with its own bytes done and total;
    // Idle between runs. Readable from any thread at any time; phaseText
    // gives its text.
    RunPhaseSnapshot Phase() const { return m_run.phase().snapshot(); }

    int16_t ErrorCode() const { return static_cast<int16_t>(m_errors.state().code()); }
    const std::string& ErrorDescription() const { return m_errors.state().description(); }
    bool IsSysErr() const { return m_errors.state().isSysErr(); }

    // Reads and validates the header file, then the checksum file
    // ChunkPrefix.sha256 when one lies beside it. Returns false with code 2
    // (no header name), code 11 (invalid record), code 15 (a checksum file
    // not in sha256sum's format, lacking a chunk's line or listing a chunk
    // beyond the header's count) or a system error; the header information
    // is emptied after 11, 15 and a system error of the checksum file. A
    // system error of the header file leaves it unchanged.
    //
    // A header file name `<prefix>.par2` opens the set through its recovery
    // data: a lost or damaged header is rebuilt from it first (with whatever
    // else is lost), then `<prefix>.hed` is read as above, and HeaderFileName
    // and ChunkPrefix become `<prefix>.hed` and `<prefix>`.
    bool analyze();
    // Looks for chunk files 1..NumOfChunks in HeaderFilePath, raising
    // onCheckExist before each. Returns false with code 10 (not analysed),
    // 3 (no prefix) or 12 (CurrentChunk is the first missing chunk). With
    // recovery data, missing chunks it can rebuild are no failure; code 12
    // then comes only when it cannot, after every chunk is looked for, its
    // description naming what is missing and what the recovery data covers.
    bool checkExistence();
    // Writes the chunks, in order, into BigFilePath + BigFileName, under a
    // temporary name in its folder, and renames it into place once it is
    // complete, verified and on storage (a name that is a link: its target;
    // a device: written in place). With a checksum file, verifies each
    // chunk's bytes as they are copied, and the whole file's when the file
    // has its line. Returns false with code 10, 3, 13 (the output is the
    // header, the checksum or a chunk file), 14 for a chunk whose bytes do
    // not match its checksum (the description names the chunk file and
    // CurrentChunk is its number), 15 when the whole file does not match,
    // or a system error; the output folder then holds what it held before.
    // Returns false without an error when stopped (see requestStop).
    //
    // With recovery data (see RecoveryChunks), chunks that are missing, or
    // that the checksum file finds damaged, are rebuilt from it first,
    // checked against the checksum file and put back beside the header
    // (used from a temporary file in the output's folder when they cannot
    // be written there), and the chunks are glued again; RebuiltChunks
    // lists them. More lost than the recovery data covers fails before
    // anything is written: code 12 for missing chunks, 14 for damaged ones,
    // the description saying what the recovery data covers.
    bool glueFile();

    // Reads every file of the analysed set and writes nothing: each chunk
    // is compared with the recovery data (length and MD5) when the set has
    // its own, else with the checksum file (SHA-256) when there is one,
    // else only looked for and measured. CheckResult then says what was
    // found and whether the recovery data can rebuild it. Returns false
    // with code 10 or 3 (see glueFile) or a read error, and false without
    // an error when stopped (see requestStop).
    bool checkSet();
    // What the last checkSet or repairSet found.
    const SetCheck& CheckResult() const { return m_check; }
    // Checks the set as checkSet does, then rebuilds its lost and damaged
    // files from the recovery data and puts them in place beside the
    // header, with the commit of a glue's rebuild; glues nothing.
    // RebuiltChunks lists the chunks rebuilt. Returns true when nothing
    // was lost. Returns false with code 12 (missing) or 14 (damaged) when
    // there is no recovery data for them or it does not cover them, a
    // system error (EROFS and the like when the folder cannot take them),
    // and false without an error when stopped.
    bool repairSet();

  private:
    bool runCheck();
    bool runRepair();
    // The health of chunk `k` from its length, and its SHA-256 when the
    // checksum file lists it.
    Status judgeChunk(int32_t k, FileHealth* health);
    bool runGlue();
    // When the header file name is `<prefix>.par2`: opens the set through
    // its recovery data, rebuilding a lost or damaged header, and goes on
    // with `<prefix>.hed`.
    bool openThroughRecoveryIndex();
    bool isHeaderValid() const;
    void resetHeader();
    // Records code 10 when the header information is not valid or there is
    // no output name, code 3 when there is no chunk prefix.
    bool isReadyForChunks();
    bool outputIsDistinctFromInputs();
    // Reads the set's checksum file from `path` when there is one;
    // `*valid`: its text is.
    Status loadChecksumFile(const std::string& path, bool* valid);
    bool copyChunks();
    // Compares the next `count` chunk digests, waiting for them; records
    // code 14 for the first that differs.
    bool checkChunks(HashLanes& hashes, int32_t count, int32_t* verified);
    bool isWholeIntact(HashLanes& hashes);
    // Reads `<prefix>.par2` and its volumes when they describe this set.
    Status loadRecovery();
    // Compares the set with its recovery data and rebuilds what is lost or
    // damaged; drops recovery data of another division.
    bool surveyAndRebuild();
    // Rebuilds the set's files `names` from the recovery data and puts
    // them in place, or in `outputFolder` when the set's folder cannot
    // take them; `anyMissing`: some were missing rather than damaged
    // (code 12 rather than 14 when the data does not cover them).
    bool rebuild(const std::vector<std::string>& names, bool anyMissing,
                 const std::string& outputFolder);
    std::string outputFolder() const;
    std::vector<std::string> chunkNames(const std::vector<int32_t>& chunks) const;
    std::string chunkFullName(int64_t k) const;
    ChunkLayout layout() const { return {m_avgChunkSize, m_lastChunkSize, m_numOfChunks}; }

    std::shared_ptr<FileLayer> m_layer;

    std::string m_bigFilePath;
    std::string m_chunkPrefix;
    std::string m_headerFileName;
    std::string m_headerFilePath;
    std::string m_bigFileName;
    int32_t m_avgChunkSize = 0;
    int32_t m_lastChunkSize = 0;
    int32_t m_numOfChunks = 0;
    int64_t m_numOfOps = 0;
    int64_t m_bigFileSize = 0;
    int32_t m_currentChunk = -1;
    int64_t m_currentOp = 0;
    std::string m_checksumFileName;
    // What the checksum file says; no chunk digests without one.
    ChecksumList m_checksums;
    // The recovery data of the set, when it has usable data.
    std::unique_ptr<SetRepair> m_recovery;
    const std::vector<int32_t> m_noneRebuilt;
    bool m_foreignRecovery = false;
    // Chunks found damaged in a run that can rebuild them.
    std::vector<int32_t> m_damaged;
    SetCheck m_check;
    ErrorReporter<FileGlueEvents> m_errors;
    RunControl m_run;
};

}  // namespace morvane

#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/checksum_file.h"
#include "engine/run_phase.h"
#include "engine/status.h"

namespace morvane {

class FileLayer;
class OutputSet;
class File;
class Par2Set;
struct RecoverySliceRef;

// What a division's header says about its set, as the repair needs it.
struct SetShape {
    // The header's folder, ending in "/"; the chunks lie beside it.
    std::string folder;
    std::string prefix;
    int32_t numOfChunks = 0;
    int32_t avgChunkSize = 0;
    int32_t lastChunkSize = 0;
    // False when the header is lost: the chunks are then known only from
    // the recovery data (up to numOfChunks of them), not checked against it.
    bool sizesKnown = true;

    int32_t chunkBytes(int64_t k) const { return k < numOfChunks ? avgChunkSize : lastChunkSize; }
};

// What a look at the set's files against the recovery data found.
struct SetSurvey {
    // Files of the set that are missing, and those that are there but
    // differ from what the recovery data says (length or MD5).
    std::vector<std::string> missing;
    std::vector<std::string> damaged;
    // The recovery data contradicts every chunk that is there: it belongs
    // to another division and is not used.
    bool foreign = false;
};

// Rebuilds the lost or damaged files of one division (chunks, header,
// checksum file) from the recovery data beside it (`<prefix>.par2` and its
// volumes, or the volumes alone), checks them and puts them back beside the
// header, or, where that folder cannot be written, keeps them in the
// output's folder for one run.
//
// Only the set's own names are ever looked up: recovery data that lists
// any other file is not used. Not thread-safe; `stop` may be set from any
// thread and ends a survey or rebuild within a second.
class SetRepair {
  public:
    SetRepair(std::shared_ptr<FileLayer> layer, const std::atomic<bool>* stop);
    ~SetRepair();
    SetRepair(const SetRepair&) = delete;
    SetRepair& operator=(const SetRepair&) = delete;

    // Where survey and rebuild say what they are doing (not owned; nullptr
    // for nowhere).
    void setPhase(RunPhase* phase) { m_phase = phase; }

    // Reads the recovery data of `shape`'s set. `*found` is false, and
    // nothing is kept, when there is none that describes the set's chunks
    // and holds a recovery slice. Fails when a recovery file or the folder cannot be read.
    Status load(const SetShape& shape, bool* found);
    // Recovery chunks of the data load found: how many lost or damaged
    // files of the set it can rebuild, whatever their size; 0 when its
    // slices rebuild only the smaller files.
    int32_t recoveryChunks() const { return m_recoveryChunks; }
    // True when the recovery data protects the file `name` of the set.
    bool protects(const std::string& name) const;

    // Compares every file the recovery data protects with its length and
    // MD5. When a file is missing or damaged, also checks every recovery
    // slice against its packet's MD5 and forgets those that fail, so that
    // covers() counts only slices a rebuild can use. Fails with ECANCELED
    // when stopped, or with a read error.
    Status survey(SetSurvey* out);
    // As survey, but of each chunk of the right length only its first
    // 16 KiB is compared (with the MD5 the data keeps of them, which tells
    // the set's own data from another division's): the rest of its bytes
    // are left to the caller, who checks them as it reads them anyway. The
    // header and the checksum file are compared whole.
    Status glance(SetSurvey* out);

    // True when the data covers every file of `names`; otherwise `*why`
    // says what is lost and what the data holds.
    bool covers(const std::vector<std::string>& names, std::string* why) const;

    // Rebuilds the files `names`, and every file found damaged on the way
    // while the data covers them all, checks each chunk against
    // `checksums` (when it lists chunks) and puts them in place.
    // `outputFolder` is the glue's output folder, used when the set's
    // folder cannot be written or is full. `*uncovered` is set when the
    // failure is that the data does not cover what is lost.
    Status rebuild(const std::vector<std::string>& names, const ChecksumList& checksums,
                   const std::string& outputFolder, bool* uncovered);

    // The chunks rebuilt since startRun, in order.
    const std::vector<int32_t>& rebuilt() const { return m_rebuilt; }
    // False when rebuilt files are kept in the output's folder.
    bool rebuiltInPlace() const { return m_inPlace; }
    // Where the set's file `name` is to be read from.
    std::string pathOf(const std::string& name) const;
    // Forgets what an earlier run rebuilt and which recovery slices it
    // found intact.
    void startRun();
    // Removes the files kept in the output's folder for the run.
    void endRun();

  private:
    // Rebuilds into `set`, a set of outputs in `folder`.
    Status rebuildInto(OutputSet& set, const std::string& folder, std::vector<std::string>& names,
                       const ChecksumList& checksums, bool* uncovered);
    // The set's own names: its chunks, header and checksum file.
    bool isOwnName(const std::string& name) const;
    // Compares the files with the data; chunks by their first 16 KiB only
    // when `chunksWhole` is false.
    Status compareFiles(bool chunksWhole, SetSurvey* out);
    // `*same`: the file at `path` has the length of files()[i] and the MD5
    // of its first `bytes` bytes: of all of them when `bytes` covers the
    // file, else of 16 KiB. `buffer` holds kSurveyBlock bytes.
    Status matches(std::size_t i, const std::string& path, uint64_t bytes, char* buffer,
                   bool* present, bool* same);
    // Forgets the recovery slices whose packet does not match its MD5.
    // `buffer` holds kSurveyBlock bytes.
    Status dropDamagedSlices(char* buffer);
    // `*intact`: the recovery packet `ref` in `file` matches its MD5.
    Status checkSlice(File& file, const RecoverySliceRef& ref, char* buffer, bool* intact);

    std::shared_ptr<FileLayer> m_layer;
    const std::atomic<bool>* m_stop;
    RunPhase* m_phase = nullptr;
    SetShape m_shape;
    std::unique_ptr<Par2Set> m_set;
    int32_t m_recoveryChunks = 0;
    std::vector<int32_t> m_rebuilt;
    bool m_inPlace = true;
    // Rebuilt files that could not be put back: name and where it is.
    std::unique_ptr<OutputSet> m_scratch;
    std::vector<std::pair<std::string, std::string>> m_kept;
};

}  // namespace morvane

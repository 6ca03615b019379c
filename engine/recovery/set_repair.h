#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/checksum_file.h"
#include "engine/status.h"

namespace morvane {

class FileLayer;
class OutputSet;
class Par2Set;

// What a division's header says about its set, as the repair needs it.
struct SetShape {
    // The header's folder, ending in "/"; the chunks lie beside it.
    std::string folder;
    std::string prefix;
    int32_t numOfChunks = 0;
    int32_t avgChunkSize = 0;
    int32_t lastChunkSize = 0;

    int32_t chunkBytes(int64_t k) const { return k < numOfChunks ? avgChunkSize : lastChunkSize; }
};

// Rebuilds the lost or damaged chunks of one division from the recovery
// data beside it (`<prefix>.par2` and its volumes), checks them and puts
// them back beside the header, or, where that folder cannot be written,
// keeps them in the output's folder for one run.
//
// Not thread-safe; `stop` is read from the run's thread only.
class SetRepair {
  public:
    SetRepair(std::shared_ptr<FileLayer> layer, const std::atomic<bool>* stop);
    ~SetRepair();
    SetRepair(const SetRepair&) = delete;
    SetRepair& operator=(const SetRepair&) = delete;

    // Reads the recovery data of `shape`'s set. Returns false, and keeps
    // nothing, when there is none that describes the set's chunks.
    bool load(const SetShape& shape);
    // Recovery chunks of the data load found: how many lost or damaged
    // files of the set it can rebuild.
    int32_t recoveryChunks() const { return m_recoveryChunks; }

    // True when the data covers every chunk of `chunks`; otherwise `*why`
    // says what is lost and what the data holds.
    bool covers(const std::vector<int32_t>& chunks, std::string* why) const;

    // Rebuilds `chunks`, and every chunk found damaged on the way while the
    // data covers them all, checks each against `checksums` (when it lists
    // chunks) and puts them in place. `outputFolder` is the glue's output
    // folder, used when the set's folder cannot be written.
    Status rebuild(const std::vector<int32_t>& chunks, const ChecksumList& checksums,
                   const std::string& outputFolder);

    // The chunks rebuilt since startRun, in order.
    const std::vector<int32_t>& rebuilt() const { return m_rebuilt; }
    // False when rebuilt chunks are kept in the output's folder.
    bool rebuiltInPlace() const { return m_inPlace; }
    // Where chunk `k` is to be read from.
    std::string chunkPath(int64_t k) const;
    // Forgets what an earlier run rebuilt.
    void startRun();
    // Removes the chunks kept in the output's folder for the run.
    void endRun();

  private:
    // Rebuilds into `set`, a set of outputs in `folder`.
    Status rebuildInto(OutputSet& set, const std::string& folder, std::vector<int32_t>& chunks,
                       std::vector<std::string>& names, const ChecksumList& checksums);
    std::vector<std::string> chunkNames(const std::vector<int32_t>& chunks) const;

    std::shared_ptr<FileLayer> m_layer;
    const std::atomic<bool>* m_stop;
    SetShape m_shape;
    std::unique_ptr<Par2Set> m_set;
    int32_t m_recoveryChunks = 0;
    std::vector<int32_t> m_rebuilt;
    bool m_inPlace = true;
    // Rebuilt chunks that could not be put back, and where they are.
    std::unique_ptr<OutputSet> m_scratch;
    std::vector<std::pair<int32_t, std::string>> m_chunkPaths;
};

}  // namespace morvane

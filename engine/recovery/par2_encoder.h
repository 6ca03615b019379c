#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/block_consumer.h"
#include "engine/recovery/par2_layout.h"
#include "engine/recovery/recovery_plan.h"
#include "engine/status.h"
#include "engine/worker_lane.h"

namespace morvane {

class File;
class FileLayer;
class GaloisField16;

// Writes a division's recovery data as it is copied: `<prefix>.par2` and
// the volumes of recoveryVolumes(), protecting every chunk, the header and
// the checksum file, each as one input slice.
//
// Blocks are hashed (MD5, CRC-32) and encoded on two helper threads; chunks
// no larger than a block are set aside and their MD5 computed several at
// once in the processor's vector lanes. Small recovery slices are accumulated in memory and written
// once; larger ones in their files, so memory stays at a few blocks whatever the slice size. Call
// order: start, take / waitUntilDone for every block of the run in order, finish.
//
// A slice's constant follows its file's place among the File IDs, and the
// checksum file's ID is known only at the end. Each chunk is encoded at
// start with the place it has when the checksum file sorts on the side its
// own ID makes likelier; finish corrects the chunks for which that guess
// was wrong by reading them again from the large file. With one recovery
// chunk (exponent 0, every constant raised to 0 is 1) no chunk is read again.
class Par2Encoder : public BlockConsumer {
  public:
    // `stop`, when not nullptr, ends finish within a second once it is set
    // (ECANCELED).
    Par2Encoder(FileLayer& layer, RecoveryPlan plan, const std::atomic<bool>* stop = nullptr);
    // Stops the helpers; what they have not done is dropped.
    ~Par2Encoder() override;
    Par2Encoder(const Par2Encoder&) = delete;
    Par2Encoder& operator=(const Par2Encoder&) = delete;

    // Reads the first 16 KiB of every chunk from `source` (the large file),
    // opens every recovery file through `openOutput` and starts the helpers.
    // `source` must stay open until finish returns. Fails with EINVAL for a
    // plan the format cannot describe (see maxRecoveryChunks), ENOMEM, or
    // the error of a read or an open.
    Status start(File& source, const OutputOpener& openOutput);
    void take(const Block& block) override;
    // Once the stop flag is set, returns ECANCELED as soon as each helper
    // is through its current block, without waiting for the blocks queued.
    Status waitUntilDone(int64_t sequence) override;
    // Takes the checksum file's bytes after the last block and completes
    // and closes every recovery file. Fails with EINVAL when the blocks did
    // not cover every chunk in order or the checksum file has another length
    // than planned, with EIO when the large file changed under the run, or
    // with the error of a read or write.
    Status finish(const std::string& checksumFile);

    // The bytes of the blocks encoded so far; any thread.
    const std::atomic<int64_t>& bytesEncoded() const { return m_bytesEncoded; }
    // The bytes of recovery slices held in memory that finish writes out,
    // and those of them written so far (any thread).
    int64_t finishBytes() const;
    const std::atomic<int64_t>& bytesFinished() const { return m_bytesFinished; }
    // The work finish is expected to do, after start, in bytes of blocks
    // that take as long to take in: the slices it writes from memory, and
    // the slices' share of the chunks it is expected to correct (each chunk
    // with the chance that the checksum file's ID sorts on the other side of
    // the chunk's than guessed). A block written to disk with the slices in
    // their files also costs a write of each slice.
    int64_t expectedFinishWork() const;

    // Names of the files start opens, the set's description first.
    std::vector<std::string> outputNames() const;

  private:
    struct Target;
    struct InputFile;
    struct HashState;

    // Jobs of the two helpers; a block is skipped once either has failed.
    Status hashJob(const Block& block);
    Status encodeJob(const Block& block);
    Status hashBlock(const Block& block, HashState& state);
    // Sets `state` up to hash small chunks several at once, when they are
    // small enough and the processor has vector lanes for it.
    void prepareLanes(HashState& state) const;
    // Copies a whole chunk aside; hashes the chunks set aside once there are
    // as many as the lanes take or the chunk is the last.
    Status stageChunk(const Block& block, HashState& state);
    Status hashWaitingChunks(HashState& state);
    Status encodeBlock(const Block& block, char* scratch);
    // dst slice region [offset, offset + bytes) += coefficient(exponent) * data.
    Status accumulate(uint32_t recoveryIndex, uint16_t coefficient, int64_t offset,
                      const char* data, std::size_t bytes, bool overwrite, char* scratch);
    // dst[0, bytes) += coefficient * data, dst being a slice in memory.
    void addInMemory(char* dst, uint16_t coefficient, const char* data, std::size_t bytes,
                     bool overwrite, char* scratch) const;
    uint16_t constant(int32_t inputIndex, uint32_t exponent) const;
    // The chance that chunk input `in` is encoded with the wrong place.
    static double misplacedChance(const InputFile& in);
    Status hashWholeInput(const char* data, std::size_t n, InputFile* file);
    // Names every chunk and reads its first 16 KiB from `source` for its
    // File ID, several chunks' MD5 at once.
    Status hashHeads(File& source);
    // Moves a chunk's share of every recovery slice from the constant it was
    // encoded with to its real one, reading it again into `buffer` (BlockSize).
    Status correctChunk(int32_t chunk, int32_t fromIndex, int32_t toIndex, char* buffer);
    // Adds an input that is not copied as blocks (header, checksum file).
    Status addSmallInput(const InputFile& in, const char* data, std::size_t bytes);
    // Writes every packet but the recovery data; `order` lists the inputs
    // by File ID.
    Status writeDescription(const std::vector<int32_t>& order);
    void stopHelpers();

    FileLayer& m_layer;
    RecoveryPlan m_plan;
    const std::atomic<bool>* m_stop;
    std::unique_ptr<GaloisField16> m_field;
    File* m_source = nullptr;
    uint64_t m_sliceSize = 0;

    // Chunks 1..N at [0, N), then the header and the checksum file.
    std::vector<InputFile> m_inputs;
    std::vector<std::unique_ptr<File>> m_files;
    std::vector<std::string> m_fileNames;
    // Where recovery slice e's data lies.
    std::vector<Target> m_targets;
    std::vector<VolumeLayout> m_layouts;
    std::vector<uint64_t> m_describingSizes;
    // The encode helper's buffer, later finish's.
    std::unique_ptr<char[]> m_scratch;

    int64_t m_firstSequence = 1;
    int64_t m_taken = 0;
    std::atomic<int64_t> m_bytesEncoded{0};
    std::atomic<int64_t> m_bytesFinished{0};
    // The hash helper's state between blocks.
    std::unique_ptr<HashState> m_hashState;
    int32_t m_chunksHashed = 0;
    // The encode helper's CRC-32 of the chunk it is in.
    uint32_t m_crc = 0;
    WorkerLane m_hashLane;
    WorkerLane m_encodeLane;
};

}  // namespace morvane

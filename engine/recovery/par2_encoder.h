#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/block_consumer.h"
#include "engine/recovery/md5_stream.h"
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
// once in the processor's vector lanes. Small recovery slices are
// accumulated in memory and written once; larger ones in their files, so
// memory stays at a few blocks whatever the slice size. Call order: start,
// take / waitUntilDone for every block of the run in order (with
// takeChecksumLines as the chunks' digests come), finish.
//
// A slice's constant follows its file's place among the File IDs, and the
// checksum file's ID is known only once its first 16 KiB are. Until then
// each chunk is encoded with the place it has when the checksum file sorts
// on the side its own ID makes likelier; once the chunks' lines reach 16 KiB
// (takeChecksumLines) every chunk not yet begun is encoded with its real
// place. finish corrects the chunks encoded with a wrong place by reading
// them again from the large file. With one recovery chunk (exponent 0,
// every constant raised to 0 is 1) no chunk is read again.
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
    // True while takeChecksumLines can still tell the real places early:
    // after start, until the lines reach the checksum file's first 16 KiB,
    // and only when chunk lines alone reach them (a checksum file of more
    // than 16 KiB, whose whole-file line lies beyond them).
    bool wantsChecksumLines() const { return m_headWanted; }
    // Takes the next bytes of the checksum file, chunk lines in order, as
    // their digests become known; from the thread that calls take. Returns
    // true on the call that makes every input's place known; from then on
    // expectedFinishWork is exact. Bytes other than the final file's cost
    // only corrections in finish.
    bool takeChecksumLines(const std::string& text);
    // Takes the checksum file's bytes after the last block, once; every
    // input's place and the chunks finish corrects are known from then on.
    // Fails with EINVAL when the blocks did not cover every chunk in order
    // or the checksum file has another length than planned or two files
    // share an ID, or with a helper's failure.
    Status takeChecksumFile(const std::string& checksumFile);
    // Completes and closes every recovery file, after takeChecksumFile.
    // Fails with EINVAL without it, with EIO when the large file changed
    // under the run, or with the error of a read or write.
    Status finish();
    // takeChecksumFile, then finish.
    Status finish(const std::string& checksumFile);

    // The bytes of the blocks encoded so far; any thread.
    const std::atomic<int64_t>& bytesEncoded() const { return m_bytesEncoded; }
    // The work finish does, in bytes (from the thread that calls finish),
    // and the part of it done so far (any thread): every recovery slice's
    // bytes (written out from memory, or read back from its file for its
    // packet's hash), and each corrected chunk's bytes once per slice it is
    // added to. Exact from takeChecksumFile on; before, the slices' only.
    int64_t finishBytes() const;
    const std::atomic<int64_t>& bytesFinished() const { return m_bytesFinished; }
    // The work finish is expected to do, after start, in bytes of blocks
    // that take as long to take in: the slices it writes from memory, and
    // the slices' share of the chunks it corrects. Until every place is
    // known, each chunk likely encoded before that counts with the chance
    // that the checksum file's ID sorts on the other side of the chunk's
    // than guessed; exact once they are known. A block written to disk with
    // the slices in their files also costs a write of each slice. Any thread.
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
    int64_t sliceBytesInMemory() const;
    // The place chunk `chunk` is encoded with, decided at its first block
    // (encode helper).
    int32_t decidePlace(int32_t chunk);
    // The inputs in the order of their File IDs, the checksum file's being
    // `sumsId`; empty when two IDs are the same.
    std::vector<int32_t> orderById(const Md5Digest& sumsId) const;
    // The lines of the first chunks that reach the checksum file's first
    // 16 KiB; 0 when they do not.
    int32_t chunksInSumsHead() const;
    // The work of correcting chunk `chunk` from place `from` to `to`: its
    // bytes once per slice whose constant changes.
    int64_t correctionWork(int32_t chunk, int32_t from, int32_t to) const;
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
    // The encode helper's CRC-32 of the chunk it is in, and its place.
    uint32_t m_crc = 0;
    int32_t m_place = 0;

    // The checksum file's first bytes as takeChecksumLines got them, and
    // how many it needs (the thread that calls take).
    std::string m_sumsHead;
    std::size_t m_sumsHeadBytes = 0;
    bool m_headWanted = false;
    // Chunks likely begun before every place is known.
    int32_t m_guessedChunks = 0;
    // The place each chunk was encoded with. Up to m_decidedChunks under
    // m_placeMutex while the places are not known; the encode helper's after.
    std::vector<int32_t> m_encodedPlace;
    std::mutex m_placeMutex;
    int32_t m_decidedChunks = 0;
    // Every chunk's real place, written once before m_placesKnown is set.
    std::vector<int32_t> m_knownPlace;
    std::atomic<bool> m_placesKnown{false};
    // The chunk bytes finish corrects, once every place is known; -1 before.
    std::atomic<int64_t> m_knownCorrection{-1};

    // What finish corrects: chunk, place encoded with, real place.
    struct Correction {
        int32_t chunk;
        int32_t from;
        int32_t to;
    };
    std::vector<Correction> m_corrections;
    int64_t m_correctionWork = 0;
    // The inputs by File ID, and the checksum file, once taken.
    std::vector<int32_t> m_order;
    std::string m_checksumFile;
    bool m_haveChecksumFile = false;
    WorkerLane m_hashLane;
    WorkerLane m_encodeLane;
};

}  // namespace morvane

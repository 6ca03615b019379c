#include "engine/recovery/par2_encoder.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "engine/block_plan.h"
#include "engine/checksum_file.h"
#include "engine/division_header.h"
#include "engine/file_layer.h"
#include "engine/recovery/galois_field16.h"
#include "engine/recovery/md5_lanes.h"
#include "engine/recovery/md5_stream.h"
#include "engine/recovery/par2_layout.h"
#include "engine/recovery/par2_packets.h"
#include "engine/recovery/slice_checksums.h"

namespace morvane {

namespace {

const std::string kCreatorText = "Created by Morvane.";

constexpr std::size_t kScratchSlack = 2 * GaloisField16::kRegionAlignment + 2;

// Recovery slices of at most this many bytes in all are accumulated in
// memory and written once at the end; larger ones are accumulated in their
// files, read back and written again for every block.
constexpr uint64_t kSlicesInMemory = 16 << 20;

// Chunks no larger than a block are copied aside, at most this many bytes
// of them, and their MD5 computed several at once in the processor's
// vector lanes.
constexpr std::size_t kLaneChunkBytes = 16 << 20;
// Fewer chunks at once than this gain nothing over one stream.
constexpr std::size_t kFewestLaneChunks = 3;

// Even, so that only a block's last piece can be odd.
constexpr std::size_t kStagedPiece = 256 << 10;
// Blocks waiting for each helper; a run lends far fewer at a time.
constexpr std::size_t kQueuedBlocks = 64;

// A slice in its file is read and written in pieces of this many bytes.
constexpr std::size_t kFilePiece = 1 << 20;

Status digestFailure() {
    return Status::SysError(EIO, "MD5 computation failed");
}

Status sourceChanged() {
    return Status::SysError(EIO, "The large file changed while it was divided");
}

Status cancelled() {
    return Status::SysError(ECANCELED);
}

bool stopped(const std::atomic<bool>* stop) {
    return stop && stop->load(std::memory_order_relaxed);
}

Status outOfOrder() {
    return Status::SysError(EINVAL, "Recovery data got the blocks out of order");
}

// A pointer into `buffer` at the same address as `like` modulo the region
// alignment; the buffer needs kScratchSlack bytes beyond what is used.
char* alignedLike(char* buffer, const void* like) {
    constexpr uintptr_t a = GaloisField16::kRegionAlignment;
    const uintptr_t want = reinterpret_cast<uintptr_t>(like) % a;
    const uintptr_t have = reinterpret_cast<uintptr_t>(buffer) % a;
    return buffer + (want + a - have) % a;
}

std::size_t evenUp(std::size_t n) {
    return n + (n & 1);
}

bool alignedAlike(const void* a, const void* b) {
    constexpr uintptr_t kA = GaloisField16::kRegionAlignment;
    return reinterpret_cast<uintptr_t>(a) % kA == reinterpret_cast<uintptr_t>(b) % kA;
}

}  // namespace

struct Par2Encoder::Target {
    File* file = nullptr;
    int64_t packetOffset = 0;
    int64_t dataOffset = 0;
    // The slice's bytes when they are held in memory; nullptr when in the file.
    std::unique_ptr<char[]> memory;
};

struct Par2Encoder::InputFile {
    Par2FileInfo info;
    int32_t guessedIndex = 0;
    int32_t index = 0;
};

struct Par2Encoder::HashState {
    int32_t chunk = 0;
    int64_t done = 0;
    bool headDone = false;
    bool ended = true;
    Md5Stream head;
    Md5Stream full;
    Md5Stream slice;
    // Whole chunks waiting for the lanes, each at k * laneChunkBytes.
    std::unique_ptr<char[]> laneChunks;
    std::size_t laneChunkBytes = 0;
    std::size_t laneCount = 0;
    std::vector<int32_t> waiting;
};

Par2Encoder::Par2Encoder(FileLayer& layer, RecoveryPlan plan, const std::atomic<bool>* stop)
    : m_layer(layer),
      m_plan(std::move(plan)),
      m_stop(stop),
      m_field(std::make_unique<GaloisField16>()),
      m_hashState(std::make_unique<HashState>()),
      m_hashLane(kQueuedBlocks),
      m_encodeLane(kQueuedBlocks) {}

Par2Encoder::~Par2Encoder() {
    stopHelpers();
}

void Par2Encoder::stopHelpers() {
    m_hashLane.stop();
    m_encodeLane.stop();
}

std::vector<std::string> Par2Encoder::outputNames() const {
    std::vector<std::string> names{recoveryIndexName(m_plan.prefix)};
    for (const RecoveryVolume& v : recoveryVolumes(m_plan.prefix, m_plan.recoveryChunks)) {
        names.push_back(v.name);
    }
    return names;
}

uint16_t Par2Encoder::constant(int32_t inputIndex, uint32_t exponent) const {
    const uint64_t power = uint64_t{inputSliceExponent(inputIndex)} * exponent % kFieldOrder;
    return m_field->power(2, static_cast<uint32_t>(power));
}

Status Par2Encoder::hashWholeInput(const char* data, std::size_t n, InputFile* file) {
    Par2FileInfo& info = file->info;
    Md5Stream md5;
    md5.update(data, std::min<std::size_t>(n, kHashedHeadBytes));
    if (!md5.finish(&info.hash16k)) return digestFailure();
    md5.update(data, n);
    Md5Stream slice;
    slice.copyFrom(md5);
    if (!md5.finish(&info.hash)) return digestFailure();
    slice.updateZeros(m_sliceSize - n);
    Md5Digest sliceHash{};
    if (!slice.finish(&sliceHash)) return digestFailure();
    info.sliceHashes = {sliceHash};
    info.sliceCrcs = {paddedCrc(crc32Of(0, data, n), n, m_sliceSize)};
    info.length = n;
    info.id = fileIdOf(info.hash16k, info.length, info.name);
    return Status::OK();
}

Status Par2Encoder::hashHeads(File& source) {
    const RecoveryPlan& p = m_plan;
    const std::size_t atOnce = Md5Lane::width();
    std::vector<char> heads(kHashedHeadBytes * atOnce);
    for (int32_t first = 1; first <= p.chunks.numOfChunks; first += int32_t(atOnce)) {
        const int32_t last = std::min<int32_t>(p.chunks.numOfChunks, first + int32_t(atOnce) - 1);
        std::vector<Md5Lane> lanes(static_cast<std::size_t>(last - first + 1));
        std::vector<Md5Lane*> streams;
        std::vector<const char*> data;
        std::vector<std::size_t> sizes;
        for (int32_t k = first; k <= last; ++k) {
            InputFile& in = m_inputs[k - 1];
            in.info.name = chunkFileName(p.prefix, k);
            in.info.length = static_cast<uint64_t>(p.chunks.bytesOf(k));
            char* head = heads.data() + std::size_t(k - first) * kHashedHeadBytes;
            const std::size_t want = std::min<std::size_t>(kHashedHeadBytes, in.info.length);
            Status s = readExactAt(m_layer, source, p.chunks.offsetOf(k), head, want);
            if (!s.ok()) return s;
            streams.push_back(&lanes[std::size_t(k - first)]);
            data.push_back(head);
            sizes.push_back(want);
        }
        Md5Lane::updateMany(streams.data(), data.data(), sizes.data(), streams.size());
        for (int32_t k = first; k <= last; ++k) {
            InputFile& in = m_inputs[k - 1];
            in.info.hash16k = lanes[std::size_t(k - first)].finish();
            in.info.id = fileIdOf(in.info.hash16k, in.info.length, in.info.name);
        }
    }
    return Status::OK();
}

Status Par2Encoder::start(File& source, const OutputOpener& openOutput) {
    const RecoveryPlan& p = m_plan;
    if (p.chunks.numOfChunks < 1 || p.chunks.avgChunkSize < 1 || p.chunks.lastChunkSize < 1 ||
        p.chunks.lastChunkSize > p.chunks.avgChunkSize || p.recoveryChunks < 1 ||
        p.recoveryChunks > maxRecoveryChunks(p.chunks.numOfChunks) || p.headerBytes.empty() ||
        p.checksumFileBytes < 1 || p.prefix.empty()) {
        return Status::SysError(EINVAL, "Recovery data cannot be made for this division");
    }
    if (!m_field->valid()) return Status::SysError(ENOMEM);
    m_source = &source;
    m_sliceSize = sliceSizeFor(std::max<uint64_t>(
        {uint64_t(p.chunks.avgChunkSize), p.headerBytes.size(), uint64_t(p.checksumFileBytes)}));

    // Chunks 1..N, the header, the checksum file.
    const int32_t n = p.chunks.numOfChunks;
    m_inputs.resize(static_cast<std::size_t>(n) + 2);
    Status s = hashHeads(source);
    if (!s.ok()) return s;
    InputFile& header = m_inputs[n];
    header.info.name = headerFileName(p.prefix);
    s = hashWholeInput(p.headerBytes.data(), p.headerBytes.size(), &header);
    if (!s.ok()) return s;
    m_inputs[n + 1].info.name = checksumFileName(p.prefix);
    m_inputs[n + 1].info.length = static_cast<uint64_t>(p.checksumFileBytes);

    // Places while the checksum file's ID is unknown: it is guessed to sort
    // below every file whose ID lies in the upper half of the range.
    std::vector<int32_t> known(static_cast<std::size_t>(n) + 1);
    for (int32_t i = 0; i <= n; ++i) known[i] = i;
    std::sort(known.begin(), known.end(), [this](int32_t a, int32_t b) {
        return fileIdLess(m_inputs[a].info.id, m_inputs[b].info.id);
    });
    for (int32_t rank = 0; rank <= n; ++rank) {
        InputFile& in = m_inputs[known[rank]];
        in.guessedIndex = rank + (in.info.id[15] >= 0x80 ? 1 : 0);
    }
    m_encodedPlace.assign(static_cast<std::size_t>(n), 0);
    m_sumsHeadBytes = std::min<std::size_t>(kHashedHeadBytes, std::size_t(p.checksumFileBytes));
    const int32_t headChunks = chunksInSumsHead();
    m_guessedChunks = headChunks > 0 ? std::min(n, headChunks + 1) : n;

    // Every output is opened now: the slices are accumulated in place.
    std::vector<uint64_t> describing{kPacketHeaderBytes + kMainFixedBytes + 16 * uint64_t(n + 2)};
    for (const InputFile& in : m_inputs) {
        describing.push_back(kPacketHeaderBytes + fileDescriptionBody(in.info).size());
    }
    for (std::size_t i = 0; i < m_inputs.size(); ++i) {
        describing.push_back(kPacketHeaderBytes + kSliceChecksumIdBytes + kSliceChecksumEntryBytes);
    }
    const uint64_t creatorBytes = kPacketHeaderBytes + creatorBody(kCreatorText).size();
    m_fileNames = outputNames();
    m_targets.resize(static_cast<std::size_t>(p.recoveryChunks));
    const std::vector<RecoveryVolume> volumes = recoveryVolumes(p.prefix, p.recoveryChunks);
    for (const std::string& name : m_fileNames) {
        std::unique_ptr<File> file;
        s = openOutput(name, &file);
        if (!s.ok()) return s;
        m_files.push_back(std::move(file));
    }
    m_layouts.clear();
    for (std::size_t v = 0; v < volumes.size(); ++v) {
        m_layouts.push_back(layoutVolume(volumes[v].count, m_sliceSize, describing, creatorBytes));
        for (const VolumeLayout::Entry& e : m_layouts.back().entries) {
            if (e.describing >= 0) continue;
            Target& t = m_targets[volumes[v].firstExponent + e.recovery];
            t.file = m_files[v + 1].get();
            t.packetOffset = static_cast<int64_t>(e.offset);
            t.dataOffset = t.packetOffset + kRecoveryDataOffset;
        }
    }
    m_describingSizes = describing;
    if (m_sliceSize * m_targets.size() <= kSlicesInMemory) {
        for (Target& t : m_targets) {
            t.memory.reset(new (std::nothrow) char[m_sliceSize]());
            if (!t.memory) return Status::SysError(ENOMEM);
        }
    }

    m_scratch = m_layer.allocateBlock(BlockSize + kScratchSlack);
    if (!m_scratch) return Status::SysError(ENOMEM);
    prepareLanes(*m_hashState);
    s = m_hashLane.start();
    if (s.ok()) s = m_encodeLane.start();
    m_headWanted = s.ok() && headChunks > 0;
    return s;
}

int32_t Par2Encoder::chunksInSumsHead() const {
    const Sha256Digest none{};
    std::size_t bytes = 0;
    for (int32_t k = 1; k <= m_plan.chunks.numOfChunks; ++k) {
        bytes += checksumLine(none, m_inputs[k - 1].info.name).size();
        if (bytes >= m_sumsHeadBytes) return k;
    }
    return 0;
}

std::vector<int32_t> Par2Encoder::orderById(const Md5Digest& sumsId) const {
    const std::size_t sums = m_inputs.size() - 1;
    const auto idOf = [&](int32_t i) -> const Md5Digest& {
        return std::size_t(i) == sums ? sumsId : m_inputs[i].info.id;
    };
    std::vector<int32_t> order(m_inputs.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = int32_t(i);
    std::sort(order.begin(), order.end(),
              [&](int32_t a, int32_t b) { return fileIdLess(idOf(a), idOf(b)); });
    for (std::size_t rank = 1; rank < order.size(); ++rank) {
        if (idOf(order[rank]) == idOf(order[rank - 1])) return {};
    }
    return order;
}

bool Par2Encoder::takeChecksumLines(const std::string& text) {
    if (!m_headWanted) return false;
    m_sumsHead += text;
    if (m_sumsHead.size() < m_sumsHeadBytes) return false;
    m_headWanted = false;
    const InputFile& sums = m_inputs.back();
    Md5Digest head{};
    if (!md5Of(m_sumsHead.data(), m_sumsHeadBytes, &head)) return false;
    const std::vector<int32_t> order = orderById(fileIdOf(head, sums.info.length, sums.info.name));
    if (order.empty()) return false;
    const int32_t n = m_plan.chunks.numOfChunks;
    std::vector<int32_t> places(static_cast<std::size_t>(n));
    for (std::size_t rank = 0; rank < order.size(); ++rank) {
        if (order[rank] < n) places[order[rank]] = int32_t(rank);
    }
    std::lock_guard<std::mutex> lock(m_placeMutex);
    int64_t corrected = 0;
    for (int32_t k = 0; k < m_decidedChunks && m_targets.size() > 1; ++k) {
        if (m_encodedPlace[k] != places[k]) corrected += int64_t(m_inputs[k].info.length);
    }
    m_knownPlace = std::move(places);
    m_knownCorrection.store(corrected, std::memory_order_release);
    m_placesKnown.store(true, std::memory_order_release);
    return true;
}

int32_t Par2Encoder::decidePlace(int32_t chunk) {
    const std::size_t k = std::size_t(chunk - 1);
    if (!m_placesKnown.load(std::memory_order_acquire)) {
        std::lock_guard<std::mutex> lock(m_placeMutex);
        if (!m_placesKnown.load(std::memory_order_relaxed)) {
            m_decidedChunks = chunk;
            return m_encodedPlace[k] = m_inputs[k].guessedIndex;
        }
    }
    return m_encodedPlace[k] = m_knownPlace[k];
}

void Par2Encoder::take(const Block& block) {
    if (m_taken++ == 0) m_firstSequence = block.sequence;
    m_hashLane.post([this, block] { return hashJob(block); });
    m_encodeLane.post([this, block] { return encodeJob(block); });
}

Status Par2Encoder::waitUntilDone(int64_t sequence) {
    // Blocks are counted from 1 in the order taken.
    const int64_t count = sequence - m_firstSequence + 1;
    // The helpers may be many blocks behind: a stop waits only for the block
    // each is in, after which neither reads a block again.
    Status s = m_hashLane.waitFor(count, m_stop);
    if (s.ok()) s = m_encodeLane.waitFor(count, m_stop);
    if (!s.ok() && stopped(m_stop)) {
        stopHelpers();
        return cancelled();
    }
    return s;
}

void Par2Encoder::prepareLanes(HashState& state) const {
    const std::size_t chunkBytes = static_cast<std::size_t>(m_plan.chunks.avgChunkSize);
    if (chunkBytes > std::size_t{BlockSize}) return;
    const std::size_t count = std::min(Md5Lane::width(), kLaneChunkBytes / chunkBytes);
    if (count < kFewestLaneChunks) return;
    // Without the memory the chunks are hashed one by one.
    state.laneChunks.reset(new (std::nothrow) char[count * chunkBytes]);
    if (!state.laneChunks) return;
    state.laneChunkBytes = chunkBytes;
    state.laneCount = count;
}

Status Par2Encoder::hashJob(const Block& block) {
    if (m_hashLane.failed() || m_encodeLane.failed()) return Status::OK();
    return hashBlock(block, *m_hashState);
}

Status Par2Encoder::encodeJob(const Block& block) {
    if (m_hashLane.failed() || m_encodeLane.failed()) return Status::OK();
    return encodeBlock(block, m_scratch.get());
}

Status Par2Encoder::hashBlock(const Block& block, HashState& state) {
    if (block.chunk < 1 || block.chunk > m_plan.chunks.numOfChunks) return outOfOrder();
    if (block.chunk != state.chunk) {
        if (!state.ended || block.chunk != state.chunk + 1 || block.offset != 0) {
            return outOfOrder();
        }
        state.chunk = block.chunk;
        state.done = 0;
        state.headDone = false;
        state.ended = false;
    } else if (state.ended || block.offset != state.done) {
        return outOfOrder();
    }
    InputFile& in = m_inputs[block.chunk - 1];
    if (uint64_t(state.done) + block.bytes > in.info.length) return outOfOrder();
    if (state.laneChunks) return stageChunk(block, state);

    std::size_t used = 0;
    if (!state.headDone) {
        used = std::min<std::size_t>(block.bytes, kHashedHeadBytes - state.done);
        state.head.update(block.data, used);
    }
    const bool atEnd = uint64_t(state.done) + block.bytes == in.info.length;
    if (!state.headDone && (state.done + used == kHashedHeadBytes || atEnd)) {
        // The whole-file digest goes on from the 16 KiB one: no byte is hashed twice.
        state.full.copyFrom(state.head);
        Md5Digest head{};
        if (!state.head.finish(&head)) return digestFailure();
        if (head != in.info.hash16k) return sourceChanged();
        state.headDone = true;
    }
    if (used < block.bytes) state.full.update(block.data + used, block.bytes - used);
    state.done += static_cast<int64_t>(block.bytes);
    if (block.endsChunk != atEnd) return outOfOrder();
    if (!atEnd) return Status::OK();

    state.slice.copyFrom(state.full);
    if (!state.full.finish(&in.info.hash)) return digestFailure();
    state.slice.updateZeros(m_sliceSize - in.info.length);
    Md5Digest sliceHash{};
    if (!state.slice.finish(&sliceHash)) return digestFailure();
    in.info.sliceHashes = {sliceHash};
    state.ended = true;
    ++m_chunksHashed;
    return Status::OK();
}

Status Par2Encoder::stageChunk(const Block& block, HashState& state) {
    // The chunk's slot holds it whole: it is no larger than the first.
    char* slot = state.laneChunks.get() + state.waiting.size() * state.laneChunkBytes;
    std::memcpy(slot + block.offset, block.data, block.bytes);
    state.done += static_cast<int64_t>(block.bytes);
    const bool atEnd = uint64_t(state.done) == m_inputs[block.chunk - 1].info.length;
    if (block.endsChunk != atEnd) return outOfOrder();
    if (!atEnd) return Status::OK();
    state.ended = true;
    state.waiting.push_back(block.chunk);
    if (state.waiting.size() < state.laneCount && block.chunk < m_plan.chunks.numOfChunks) {
        return Status::OK();
    }
    return hashWaitingChunks(state);
}

Status Par2Encoder::hashWaitingChunks(HashState& state) {
    const std::size_t count = state.waiting.size();
    std::vector<Md5Lane> lanes(count);
    std::vector<Md5Lane*> streams;
    std::vector<const char*> heads, rests;
    std::vector<std::size_t> headSizes, restSizes;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t length = m_inputs[state.waiting[i] - 1].info.length;
        const std::size_t head = std::min(length, kHashedHeadBytes);
        streams.push_back(&lanes[i]);
        heads.push_back(state.laneChunks.get() + i * state.laneChunkBytes);
        headSizes.push_back(head);
        rests.push_back(heads.back() + head);
        restSizes.push_back(length - head);
    }
    // The whole-file digests go on from the 16 KiB ones.
    Md5Lane::updateMany(streams.data(), heads.data(), headSizes.data(), count);
    for (std::size_t i = 0; i < count; ++i) {
        Md5Lane head = lanes[i];
        if (head.finish() != m_inputs[state.waiting[i] - 1].info.hash16k) return sourceChanged();
    }
    Md5Lane::updateMany(streams.data(), rests.data(), restSizes.data(), count);
    for (std::size_t i = 0; i < count; ++i) {
        InputFile& in = m_inputs[state.waiting[i] - 1];
        Md5Lane slice = lanes[i];
        in.info.hash = lanes[i].finish();
        slice.updateZeros(m_sliceSize - in.info.length);
        in.info.sliceHashes = {slice.finish()};
        ++m_chunksHashed;
    }
    state.waiting.clear();
    return Status::OK();
}

Status Par2Encoder::encodeBlock(const Block& block, char* scratch) {
    if (block.chunk < 1 || block.chunk > m_plan.chunks.numOfChunks || block.bytes > BlockSize) {
        return outOfOrder();
    }
    // The CRC-32 is taken here rather than beside the MD5: it balances the
    // two helpers. Blocks were checked to come in order by the hash helper.
    InputFile& in = m_inputs[block.chunk - 1];
    if (block.offset == 0) m_crc = 0;
    m_crc = crc32Of(m_crc, block.data, block.bytes);
    if (block.endsChunk) {
        in.info.sliceCrcs = {paddedCrc(m_crc, uint64_t(block.offset) + block.bytes, m_sliceSize)};
    }
    if (block.offset == 0) m_place = decidePlace(block.chunk);
    const int32_t index = m_place;
    // Chunk 1 is the largest input that passes as blocks: it writes every
    // slice's first bytes, later chunks add to them.
    const bool first = block.chunk == 1;
    for (uint32_t e = 0; e < m_targets.size(); ++e) {
        if (stopped(m_stop)) return cancelled();
        Status s = accumulate(e, constant(index, e), block.offset, block.data, block.bytes, first,
                              scratch);
        if (!s.ok()) return s;
        // Counted slice by slice, so that the count moves steadily.
        const auto share = [&](uint64_t k) {
            return static_cast<int64_t>(block.bytes * k / m_targets.size());
        };
        m_bytesEncoded.fetch_add(share(e + 1) - share(e), std::memory_order_relaxed);
    }
    return Status::OK();
}

Status Par2Encoder::accumulate(uint32_t recoveryIndex, uint16_t coefficient, int64_t offset,
                               const char* data, std::size_t bytes, bool overwrite, char* scratch) {
    const Target& t = m_targets[recoveryIndex];
    if (t.memory) {
        addInMemory(t.memory.get() + offset, coefficient, data, bytes, overwrite, scratch);
        return Status::OK();
    }
    char* region = alignedLike(scratch, data);
    // In pieces, so that a stop waits for one piece at most, not a block.
    for (std::size_t done = 0; done < bytes; done += kFilePiece) {
        if (stopped(m_stop)) return cancelled();
        const std::size_t n = std::min(bytes - done, kFilePiece);
        const std::size_t even = evenUp(n);
        const int64_t at = t.dataOffset + offset + int64_t(done);
        if (!overwrite) {
            Status s = readExactAt(m_layer, *t.file, at, region + done, even);
            if (!s.ok()) return s;
        }
        m_field->multiplyRegion(data + done, region + done, coefficient, n, !overwrite);
        Status s = m_layer.writeAt(*t.file, at, region + done, even);
        if (!s.ok()) return s;
    }
    return Status::OK();
}

void Par2Encoder::addInMemory(char* dst, uint16_t coefficient, const char* data, std::size_t bytes,
                              bool overwrite, char* scratch) const {
    if (alignedAlike(dst, data)) {
        m_field->multiplyRegion(data, dst, coefficient, bytes, !overwrite);
        return;
    }
    // Each piece is first moved to the scratch at the slice's alignment,
    // small enough to stay in the processor's cache.
    char* staged = alignedLike(scratch, dst);
    for (std::size_t done = 0; done < bytes;) {
        const std::size_t piece = std::min(bytes - done, kStagedPiece);
        std::memcpy(staged, data + done, piece);
        m_field->multiplyRegion(staged, dst + done, coefficient, piece, !overwrite);
        done += piece;
    }
}

Status Par2Encoder::correctChunk(int32_t chunk, int32_t fromIndex, int32_t toIndex, char* data) {
    InputFile& in = m_inputs[chunk - 1];
    std::vector<uint16_t> deltas(m_targets.size());
    for (uint32_t e = 0; e < deltas.size(); ++e) {
        deltas[e] = constant(toIndex, e) ^ constant(fromIndex, e);
    }
    Md5Stream md5;
    const int64_t start = m_plan.chunks.offsetOf(chunk);
    for (uint64_t done = 0; done < in.info.length;) {
        if (stopped(m_stop)) return cancelled();
        const std::size_t n =
            static_cast<std::size_t>(std::min<uint64_t>(BlockSize, in.info.length - done));
        Status s = readExactAt(m_layer, *m_source, start + int64_t(done), data, n);
        if (!s.ok()) return s;
        md5.update(data, n);
        for (uint32_t e = 1; e < deltas.size(); ++e) {
            if (deltas[e] == 0) continue;
            if (stopped(m_stop)) return cancelled();
            s = accumulate(e, deltas[e], int64_t(done), data, n, false, m_scratch.get());
            if (!s.ok()) return s;
            m_bytesFinished.fetch_add(int64_t(n), std::memory_order_relaxed);
        }
        done += n;
    }
    Md5Digest hash{};
    if (!md5.finish(&hash)) return digestFailure();
    if (hash != in.info.hash) return sourceChanged();
    return Status::OK();
}

Status Par2Encoder::takeChecksumFile(const std::string& checksumFile) {
    Status s = stopped(m_stop) ? cancelled() : waitUntilDone(m_firstSequence + m_taken - 1);
    stopHelpers();
    if (!s.ok()) return s;
    const int32_t n = m_plan.chunks.numOfChunks;
    if (m_chunksHashed != n) return outOfOrder();
    if (int64_t(checksumFile.size()) != m_plan.checksumFileBytes) {
        return Status::SysError(EINVAL, "The checksum file has another length than planned");
    }
    InputFile& sums = m_inputs[n + 1];
    s = hashWholeInput(checksumFile.data(), checksumFile.size(), &sums);
    if (!s.ok()) return s;
    m_order = orderById(sums.info.id);
    if (m_order.empty()) {
        return Status::SysError(EINVAL, "Two files of the set have the same File ID");
    }
    for (std::size_t rank = 0; rank < m_order.size(); ++rank) {
        m_inputs[m_order[rank]].index = int32_t(rank);
    }
    m_corrections.clear();
    m_correctionWork = 0;
    for (int32_t k = 1; k <= n && m_targets.size() > 1; ++k) {
        const Correction c{k, m_encodedPlace[k - 1], m_inputs[k - 1].index};
        if (c.from == c.to) continue;
        m_corrections.push_back(c);
        m_correctionWork += correctionWork(c.chunk, c.from, c.to);
    }
    m_checksumFile = checksumFile;
    m_haveChecksumFile = true;
    return Status::OK();
}

int64_t Par2Encoder::correctionWork(int32_t chunk, int32_t from, int32_t to) const {
    int64_t slices = 0;
    for (uint32_t e = 1; e < m_targets.size(); ++e) {
        slices += constant(to, e) != constant(from, e) ? 1 : 0;
    }
    return slices * int64_t(m_inputs[chunk - 1].info.length);
}

Status Par2Encoder::finish(const std::string& checksumFile) {
    const Status s = takeChecksumFile(checksumFile);
    return s.ok() ? finish() : s;
}

Status Par2Encoder::finish() {
    if (!m_haveChecksumFile) {
        return Status::SysError(EINVAL, "Recovery data was finished without the checksum file");
    }
    const int32_t n = m_plan.chunks.numOfChunks;
    Status s;
    // Bytes beyond chunk 1 that the header or the checksum file reach.
    const std::size_t covered = evenUp(std::size_t(m_plan.chunks.bytesOf(1)));
    if (covered < m_sliceSize) {
        const std::vector<char> zeros(m_sliceSize - covered);
        for (const Target& t : m_targets) {
            if (t.memory) {
                std::memset(t.memory.get() + covered, 0, zeros.size());
                continue;
            }
            s = m_layer.writeAt(*t.file, t.dataOffset + int64_t(covered), zeros.data(),
                                zeros.size());
            if (!s.ok()) return s;
        }
    }
    std::unique_ptr<char[]> buffer;
    for (const Correction& c : m_corrections) {
        if (!buffer && !(buffer = m_layer.allocateBlock(BlockSize))) {
            return Status::SysError(ENOMEM);
        }
        s = correctChunk(c.chunk, c.from, c.to, buffer.get());
        if (!s.ok()) return s;
    }
    s = addSmallInput(m_inputs[n], m_plan.headerBytes.data(), m_plan.headerBytes.size());
    if (s.ok()) s = addSmallInput(m_inputs[n + 1], m_checksumFile.data(), m_checksumFile.size());
    if (s.ok()) s = writeDescription(m_order);
    for (std::unique_ptr<File>& file : m_files) {
        const Status closed = m_layer.close(*file);
        if (s.ok()) s = closed;
    }
    return s;
}

int64_t Par2Encoder::sliceBytesInMemory() const {
    int64_t bytes = 0;
    for (const Target& t : m_targets) bytes += t.memory ? int64_t(m_sliceSize) : 0;
    return bytes;
}

int64_t Par2Encoder::finishBytes() const {
    // Slices in their files are read back once for their packets' hashes.
    return int64_t(m_sliceSize * m_targets.size()) + m_correctionWork;
}

double Par2Encoder::misplacedChance(const InputFile& in) {
    // The ID's place in the range, as fileIdLess orders it; the checksum
    // file's ID is as likely anywhere in it.
    const double place = (in.info.id[15] * 256.0 + in.info.id[14] + 0.5) / 65536.0;
    return in.info.id[15] >= 0x80 ? 1.0 - place : place;
}

int64_t Par2Encoder::expectedFinishWork() const {
    if (m_targets.empty()) return 0;
    const bool inFiles = !m_targets.front().memory;
    // The bytes a block of the copy writes, and so what a byte of work is.
    const double writesPerByte = 1.0 + (inFiles ? double(m_targets.size()) : 0.0);
    const int64_t known = m_knownCorrection.load(std::memory_order_acquire);
    double corrected = double(std::max<int64_t>(known, 0));
    for (int32_t k = 0; known < 0 && k < m_guessedChunks && m_targets.size() > 1; ++k) {
        corrected += misplacedChance(m_inputs[k]) * double(m_inputs[k].info.length);
    }
    // A correction adds to every slice but the first; in memory a corrected
    // byte, read, hashed and multiplied on one thread, takes about as long as
    // a block's byte on the helpers.
    const double written =
        double(sliceBytesInMemory()) + corrected * (inFiles ? double(m_targets.size() - 1) : 1.0);
    return static_cast<int64_t>(written / writesPerByte);
}

Status Par2Encoder::addSmallInput(const InputFile& in, const char* data, std::size_t bytes) {
    std::vector<char> buffer(bytes + kScratchSlack);
    const char* aligned = alignedLike(buffer.data(), m_scratch.get());
    std::memcpy(const_cast<char*>(aligned), data, bytes);
    for (uint32_t e = 0; e < m_targets.size(); ++e) {
        if (stopped(m_stop)) return cancelled();
        Status s = accumulate(e, constant(in.index, e), 0, aligned, bytes, false, m_scratch.get());
        if (!s.ok()) return s;
    }
    return Status::OK();
}

}  // namespace morvane

namespace morvane {

namespace {

// What a recovery slice packet's MD5 covers before the slice's data.
std::array<char, 36> recoveryPacketLead(const Md5Digest& setId, std::size_t exponent) {
    std::array<char, 36> lead;
    std::memcpy(lead.data(), setId.data(), setId.size());
    std::memcpy(lead.data() + 16, kRecoverySlicePacket.data(), kRecoverySlicePacket.size());
    putLe32(lead.data() + 32, static_cast<uint32_t>(exponent));
    return lead;
}

// As hashRecoveryPackets for slices held in memory, several at once.
void hashSlicesInLanes(const std::vector<const char*>& slices, uint64_t sliceSize,
                       const Md5Digest& setId, std::size_t first, std::size_t step,
                       std::vector<Md5Digest>* hashes) {
    std::vector<std::array<char, 36>> leads;
    std::vector<Md5Lane> lanes;
    for (std::size_t e = first; e < slices.size(); e += step) {
        leads.push_back(recoveryPacketLead(setId, e));
        lanes.emplace_back();
    }
    std::vector<Md5Lane*> streams;
    std::vector<const char*> leadData, data;
    for (std::size_t i = 0; i < lanes.size(); ++i) {
        streams.push_back(&lanes[i]);
        leadData.push_back(leads[i].data());
        data.push_back(slices[first + i * step]);
    }
    const std::vector<std::size_t> leadSizes(lanes.size(), leads[0].size());
    const std::vector<std::size_t> sizes(lanes.size(), static_cast<std::size_t>(sliceSize));
    Md5Lane::updateMany(streams.data(), leadData.data(), leadSizes.data(), lanes.size());
    Md5Lane::updateMany(streams.data(), data.data(), sizes.data(), lanes.size());
    for (std::size_t i = 0; i < lanes.size(); ++i) (*hashes)[first + i * step] = lanes[i].finish();
}

// MD5 of recovery slice packets `first`, `first` + step, ... over the set
// ID, the type, the exponent and the data: in memory where `slices` has it,
// else read back from their files, adding the bytes read to `*read`.
Status hashRecoveryPackets(FileLayer& layer, const std::vector<File*>& files,
                           const std::vector<int64_t>& dataOffsets,
                           const std::vector<const char*>& slices, uint64_t sliceSize,
                           const Md5Digest& setId, std::size_t first, std::size_t step,
                           const std::atomic<bool>* stop, std::vector<Md5Digest>* hashes,
                           std::atomic<int64_t>* read) {
    // Slices are held in memory all or none.
    if (first < slices.size() && slices[first]) {
        hashSlicesInLanes(slices, sliceSize, setId, first, step, hashes);
        return Status::OK();
    }
    std::unique_ptr<char[]> buffer = layer.allocateBlock(BlockSize);
    if (!buffer) return Status::SysError(ENOMEM);
    for (std::size_t e = first; e < files.size(); e += step) {
        Md5Stream md5;
        md5.update(setId.data(), setId.size());
        md5.update(kRecoverySlicePacket.data(), kRecoverySlicePacket.size());
        char exponent[4];
        putLe32(exponent, static_cast<uint32_t>(e));
        md5.update(exponent, sizeof exponent);
        for (uint64_t done = 0; done < sliceSize;) {
            if (stopped(stop)) return cancelled();
            const std::size_t n =
                static_cast<std::size_t>(std::min<uint64_t>(BlockSize, sliceSize - done));
            if (slices[e]) {
                md5.update(slices[e] + done, n);
                done += n;
                continue;
            }
            Status s =
                readExactAt(layer, *files[e], dataOffsets[e] + int64_t(done), buffer.get(), n);
            if (!s.ok()) return s;
            md5.update(buffer.get(), n);
            read->fetch_add(int64_t(n), std::memory_order_relaxed);
            done += n;
        }
        if (!md5.finish(&(*hashes)[e])) return digestFailure();
    }
    return Status::OK();
}

}  // namespace

Status Par2Encoder::writeDescription(const std::vector<int32_t>& order) {
    std::vector<Md5Digest> sortedIds;
    for (int32_t i : order) sortedIds.push_back(m_inputs[i].info.id);
    const std::vector<char> mainBody = mainPacketBody(m_sliceSize, sortedIds);
    Md5Digest setId{};
    if (!md5Of(mainBody.data(), mainBody.size(), &setId)) return digestFailure();

    // Same order as the sizes the layout was made with.
    std::vector<std::vector<char>> describing{makePacket(kMainPacket, setId, mainBody)};
    for (const InputFile& in : m_inputs) {
        describing.push_back(
            makePacket(kFileDescriptionPacket, setId, fileDescriptionBody(in.info)));
    }
    for (const InputFile& in : m_inputs) {
        describing.push_back(makePacket(kSliceChecksumPacket, setId, sliceChecksumBody(in.info)));
    }
    for (std::size_t i = 0; i < describing.size(); ++i) {
        if (describing[i].size() != m_describingSizes[i]) {
            return Status::SysError(EINVAL, "Recovery packet sizes changed during the run");
        }
    }
    const std::vector<char> creator = makePacket(kCreatorPacket, setId, creatorBody(kCreatorText));

    // The recovery packets' hashes need their data read back: two helpers.
    std::vector<File*> files;
    std::vector<int64_t> offsets;
    std::vector<const char*> slices;
    for (const Target& t : m_targets) {
        files.push_back(t.file);
        offsets.push_back(t.dataOffset);
        slices.push_back(t.memory.get());
    }
    std::vector<Md5Digest> hashes(m_targets.size());
    Status other;
    std::thread helper;
    const std::size_t lanes = m_targets.size() > 1 ? 2 : 1;
    if (lanes == 2) {
        try {
            helper = std::thread([&] {
                other = hashRecoveryPackets(m_layer, files, offsets, slices, m_sliceSize, setId, 1,
                                            2, m_stop, &hashes, &m_bytesFinished);
            });
        } catch (const std::system_error& e) {
            return Status::SysError(e.code().value());
        }
    }
    Status s = hashRecoveryPackets(m_layer, files, offsets, slices, m_sliceSize, setId, 0, lanes,
                                   m_stop, &hashes, &m_bytesFinished);
    if (helper.joinable()) helper.join();
    if (s.ok()) s = other;
    if (!s.ok()) return s;

    for (std::size_t e = 0; e < m_targets.size(); ++e) {
        std::vector<char> header =
            makePacketHeader(kRecoverySlicePacket, setId, 4 + m_sliceSize, hashes[e]);
        header.resize(header.size() + 4);
        putLe32(header.data() + kPacketHeaderBytes, static_cast<uint32_t>(e));
        const Target& t = m_targets[e];
        s = m_layer.writeAt(*t.file, t.packetOffset, header.data(), header.size());
        // In pieces, so that a stop waits for one piece at most.
        for (std::size_t done = 0; s.ok() && t.memory && done < m_sliceSize; done += kFilePiece) {
            if (stopped(m_stop)) return cancelled();
            const std::size_t n = std::min(m_sliceSize - done, kFilePiece);
            s = m_layer.writeAt(*t.file, t.dataOffset + int64_t(done), t.memory.get() + done, n);
            m_bytesFinished.fetch_add(int64_t(n), std::memory_order_relaxed);
        }
        if (!s.ok()) return s;
    }
    // Each run of description packets between two recovery packets goes out
    // in one write.
    for (std::size_t v = 0; v < m_layouts.size(); ++v) {
        File& file = *m_files[v + 1];
        std::vector<char> run;
        int64_t runOffset = 0;
        auto flushRun = [&]() {
            Status r = m_layer.writeAt(file, runOffset, run.data(), run.size());
            run.clear();
            return r;
        };
        for (const VolumeLayout::Entry& e : m_layouts[v].entries) {
            if (e.describing < 0) {
                if (!run.empty() && !(s = flushRun()).ok()) return s;
                continue;
            }
            if (run.empty()) runOffset = int64_t(e.offset);
            const std::vector<char>& packet = describing[std::size_t(e.describing)];
            run.insert(run.end(), packet.begin(), packet.end());
        }
        if (run.empty()) runOffset = int64_t(m_layouts[v].creatorOffset);
        run.insert(run.end(), creator.begin(), creator.end());
        if (!(s = flushRun()).ok()) return s;
    }
    std::vector<char> index;
    for (const std::vector<char>& packet : describing) {
        index.insert(index.end(), packet.begin(), packet.end());
    }
    index.insert(index.end(), creator.begin(), creator.end());
    return m_layer.write(*m_files[0], index.data(), index.size());
}

}  // namespace morvane

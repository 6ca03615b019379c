#include "engine/file_divider.h"

#include <algorithm>
#include <cerrno>
#include <deque>
#include <limits>
#include <vector>

#include "engine/checksum_file.h"
#include "engine/copy_loop.h"
#include "engine/division_header.h"
#include "engine/file_layer.h"
#include "engine/hash_lanes.h"
#include "engine/output_names.h"
#include "engine/output_set.h"
#include "engine/overwrite_guard.h"
#include "engine/recovery/par2_encoder.h"
#include "engine/recovery/par2_layout.h"
#include "engine/recovery/par2_set.h"

namespace morvane {

namespace {

// Files of this size or more cannot be one chunk: the header's 32-bit fields
// describe chunks, so the first plan of such a file uses chunks of the
// largest size the window accepts.
constexpr int64_t kLargeFileSize = int64_t{std::numeric_limits<int32_t>::max()} + 1;
constexpr int32_t kLargeFileChunkSize = 2000000000;
// The block size of file systems that share extents, as they are made.
constexpr int32_t kSharedBlock = 4096;

}  // namespace

FileDivider::FileDivider(std::shared_ptr<FileLayer> layer)
    : m_layer(layer ? std::move(layer) : std::make_shared<FileLayer>()),
      m_bigFilePath(withTrailingSeparator(executableFolder())),
      m_chunkPath(m_bigFilePath) {}

FileDivider::~FileDivider() = default;

void FileDivider::setBigFileName(const std::string& strBFN) {
    m_errors.setName(&m_bigFileName, strBFN, kInvalidFilename);
}

void FileDivider::setBigFilePath(const std::string& strBFP) {
    m_errors.setFolder(&m_bigFilePath, strBFP);
}

void FileDivider::setChunkPrefix(const std::string& strCP) {
    m_errors.setName(&m_chunkPrefix, strCP, kInvalidChunkPrefix);
}

void FileDivider::setChunkPath(const std::string& strCP) {
    m_errors.setFolder(&m_chunkPath, strCP);
}

void FileDivider::setAvgChunkSize(int32_t lngACS) {
    if (m_bigFileSize == 0) {
        m_errors.setError(kAnalysisRequired);
    } else if (lngACS < 1 || lngACS > m_bigFileSize ||
               (m_bigFileSize - 1) / lngACS + 1 > std::numeric_limits<int32_t>::max()) {
        m_errors.setError(kInvalidChunkSize);
    } else {
        m_avgChunkSize = lngACS;
        m_errors.clearError();
    }
    computeChunks();
}

int64_t FileDivider::BigFileSize() {
    if (m_bigFileSize == 0) m_errors.setError(kAnalysisRequired);
    return m_bigFileSize;
}

bool FileDivider::analyze() {
    if (m_bigFileName.empty()) {
        m_errors.setError(kInvalidFilename);
        return false;
    }
    if (!measureBigFile()) return false;
    m_avgChunkSize =
        m_bigFileSize >= kLargeFileSize ? kLargeFileChunkSize : static_cast<int32_t>(m_bigFileSize);
    if (!computeChunks()) return false;
    m_errors.clearError();
    return true;
}

bool FileDivider::measureBigFile() {
    std::unique_ptr<File> file;
    int64_t length = 0;
    Status s = m_layer->openRead(bigFileFullName(), &file);
    if (s.ok()) s = m_layer->size(*file, &length);
    if (s.ok()) s = m_layer->close(*file);
    if (!s.ok()) m_bigFileSize = 0;
    if (!m_errors.check(s)) return false;
    m_bigFileSize = length;
    if (length == 0) {
        m_errors.setError(kZeroLengthFile);
        return false;
    }
    return true;
}

bool FileDivider::computeChunks() {
    if (m_avgChunkSize == 0) {
        m_errors.setError(kAnalysisRequired);
        return false;
    }
    const int64_t count = m_bigFileSize / m_avgChunkSize;
    const int64_t rest = m_bigFileSize % m_avgChunkSize;
    // The chunk-size setter keeps the count within 32 bits.
    m_numOfChunks = static_cast<int32_t>(rest > 0 ? count + 1 : count);
    m_lastChunkSize = rest > 0 ? static_cast<int32_t>(rest) : m_avgChunkSize;
    return true;
}

void FileDivider::computeOps() {
    m_numOfOps = countOps(m_avgChunkSize, m_lastChunkSize, m_numOfChunks);
}

bool FileDivider::divideFile() {
    return m_run.run([this] { return runDivision(); });
}

bool FileDivider::runDivision() {
    if (!computeChunks()) return false;
    if (m_bigFileSize == 0) {
        // A failed re-analysis leaves an old chunk size but no file to divide.
        m_errors.setError(kAnalysisRequired);
        return false;
    }
    if (m_chunkPrefix.empty()) {
        m_errors.setError(kInvalidChunkPrefix);
        return false;
    }
    if (!outputsAreDistinctFromSource()) return false;
    if (m_run.stopRequested()) return false;

    if (auto* o = m_errors.observer()) o->onGenHeader();
    m_run.phase().enterFollowing(RunPhaseKind::WritingChunks, &m_run.bytesCounter(), m_bigFileSize);
    OutputSet outputs(m_layer, &m_run.stopFlag());
    outputs.timeFlushesInto(m_run.phase().flushTimes());
    std::vector<char> header;
    Status s = writeHeader(outputs, &header);
    if (s.ok()) s = writeChunks(outputs, header);
    if (s.ok()) m_run.phase().enter(RunPhaseKind::Flushing);
    if (s.ok()) s = outputs.commit();
    if (!s.ok()) outputs.abandon();
    if (!m_errors.check(s, m_run.stopRequested())) return false;
    m_errors.clearError();
    if (auto* o = m_errors.observer()) o->onComplete();
    return true;
}

bool FileDivider::outputsAreDistinctFromSource() {
    FileId source;
    if (!m_layer->identify(bigFileFullName(), &source)) return true;
    if (!namesInclude(*m_layer, m_chunkPath, outputNames(), source)) return true;
    m_errors.setError(kOutputWouldOverwriteInput);
    return false;
}

OutputNames FileDivider::outputNames() const {
    return outputNamesOf(m_chunkPrefix);
}

OutputNames FileDivider::outputNamesOf(const std::string& prefix) const {
    std::vector<std::string> names{headerFileName(prefix), checksumFileName(prefix)};
    if (m_recoveryChunks > 0) {
        names.push_back(recoveryIndexName(prefix));
        for (const RecoveryVolume& volume : recoveryVolumes(prefix, m_recoveryChunks)) {
            names.push_back(volume.name);
        }
    }
    return OutputNames(std::move(names), prefix, m_numOfChunks);
}

bool FileDivider::isOlderRecoveryFile(const std::string& folder, const std::string& prefix,
                                      const OutputNames& ours, const std::string& name) const {
    return isRecoveryFileName(name, prefix) && !ours.contains(name) &&
           m_layer->entryOf(folder + name) == FileLayer::Entry::File &&
           describesChunksOf(*m_layer, folder + name, prefix);
}

void FileDivider::replaceOlderRecoveryFiles(OutputSet& outputs) {
    std::vector<std::string> entries;
    if (!m_layer->listFolder(m_chunkPath, &entries).ok()) return;
    const OutputNames ours = outputNames();
    for (const std::string& name : entries) {
        if (isOlderRecoveryFile(m_chunkPath, m_chunkPrefix, ours, name)) outputs.replaceAlso(name);
    }
}

std::vector<std::string> FileDivider::filesReplacedIn(const std::string& folder,
                                                      const std::string& prefix) const {
    std::vector<std::string> entries;
    std::vector<std::string> replaced;
    const std::string path = withTrailingSeparator(folder);
    if (prefix.empty() || !m_layer->listFolder(path, &entries).ok()) return replaced;
    std::sort(entries.begin(), entries.end(),
              [&prefix](const std::string& a, const std::string& b) {
                  const int64_t ka = chunkNumberOf(a, prefix, std::numeric_limits<int32_t>::max());
                  const int64_t kb = chunkNumberOf(b, prefix, std::numeric_limits<int32_t>::max());
                  return ka != kb ? ka < kb : a < b;
              });
    const OutputNames ours = outputNamesOf(prefix);
    for (const std::string& name : entries) {
        if ((ours.contains(name) && m_layer->entryOf(path + name) != FileLayer::Entry::Folder) ||
            isOlderRecoveryFile(path, prefix, ours, name)) {
            replaced.push_back(name);
        }
    }
    return replaced;
}

int32_t FileDivider::MaxRecoveryChunks() const {
    return m_numOfChunks > 0 ? maxRecoveryChunks(m_numOfChunks) : 0;
}

int64_t FileDivider::RecoveryBytes(int32_t count) const {
    if (m_numOfChunks < 1) return 0;
    const uint64_t largest = std::max<uint64_t>(
        {static_cast<uint64_t>(m_avgChunkSize), 2 + m_bigFileName.size() + kHeaderFixedBytes - 2,
         static_cast<uint64_t>(checksumFileSize(m_chunkPrefix.empty() ? "x" : m_chunkPrefix,
                                                m_numOfChunks, m_bigFileName))});
    return static_cast<int64_t>(sliceSizeFor(largest)) * count;
}

Status FileDivider::writeHeader(OutputSet& outputs, std::vector<char>* header) {
    DivisionHeader record;
    record.BigFileName = m_bigFileName;
    record.AvgChunkSize = m_avgChunkSize;
    record.LastChunkSize = m_lastChunkSize;
    record.NumOfChunks = m_numOfChunks;
    std::vector<char>& bytes = *header;
    if (!encodeHeader(record, &bytes)) return Status::SysError(ENAMETOOLONG);
    if (m_recoveryChunks < 0 || m_recoveryChunks > MaxRecoveryChunks()) {
        return Status::SysError(EINVAL, "Recovery data cannot be made for this division");
    }

    const int64_t total = m_bigFileSize + static_cast<int64_t>(bytes.size()) +
                          checksumFileSize(m_chunkPrefix, m_numOfChunks, m_bigFileName) +
                          RecoveryBytes(m_recoveryChunks);
    OutputSet::Plan plan;
    plan.names = outputNames();
    plan.last = headerFileName(m_chunkPrefix);
    plan.bytes = total;
    // Chunks copied between files of one file system that shares extents
    // take no new data blocks, but for a last block shorter than the file
    // system's (kSharedBlock or a divisor of it).
    FileId source;
    if (m_avgChunkSize % kSharedBlock == 0 && m_layer->identify(bigFileFullName(), &source)) {
        plan.shareable = m_bigFileSize - m_lastChunkSize % kSharedBlock;
        plan.sharedFrom = source.device;
    }
    Status s = outputs.begin(m_chunkPath, plan);
    if (s.ok()) replaceOlderRecoveryFiles(outputs);
    File* file = nullptr;
    if (s.ok()) s = outputs.create(headerFileName(m_chunkPrefix), true, &file);
    if (s.ok()) s = m_layer->write(*file, bytes.data(), bytes.size());
    if (s.ok()) s = outputs.retire(*file);
    return s;
}

Status FileDivider::writeChunks(OutputSet& outputs, const std::vector<char>& header) {
    m_currentOp = 0;
    computeOps();

    CopyLoop loop(*m_layer, m_run.stopFlag(), m_run.bytesCounter());
    HashLanes hashes(HashLanes::kChunkLane | HashLanes::kWholeLane);
    RecoveryPlan plan;
    plan.prefix = m_chunkPrefix;
    plan.chunks = layout();
    plan.headerBytes = header;
    plan.checksumFileBytes = checksumFileSize(m_chunkPrefix, m_numOfChunks, m_bigFileName);
    plan.recoveryChunks = m_recoveryChunks;
    Par2Encoder recovery(*m_layer, plan, &m_run.stopFlag());
    loop.addConsumer(&hashes);
    if (m_recoveryChunks > 0) loop.addConsumer(&recovery);
    loop.setOutputs(&outputs);
    loop.setShareExtents(outputs.sharesExtents());
    Status s = loop.start();
    if (s.ok()) s = hashes.start();
    if (!s.ok()) return s;

    std::unique_ptr<File> source;
    s = m_layer->openRead(bigFileFullName(), &source);
    if (s.ok() && m_recoveryChunks > 0) {
        s = recovery.start(*source,
                           [&outputs](const std::string& name, std::unique_ptr<File>* out) {
                               return outputs.createDetached(name, out);
                           });
        // A block counts as done once encoded: the recovery writes it costs
        // are part of its pace, and the encoder lags the copy by a few blocks.
        m_run.phase().enterFollowing(RunPhaseKind::WritingChunks, &recovery.bytesEncoded(),
                                     m_bigFileSize);
        if (s.ok()) m_run.phase().expectLater(recovery.expectedFinishWork());
    }
    // The phase must not follow the encoder's count once the encoder is gone.
    const struct FollowGuard {
        RunPhase& phase;
        ~FollowGuard() { phase.stopFollowing(); }
    } followGuard{m_run.phase()};
    // Chunk digests handed to the encoder as they come, so that it learns
    // the checksum file's ID early; kept for the checksum file.
    std::deque<Sha256Digest> early;
    const auto handOver = [&] {
        while (recovery.wantsChecksumLines() && hashes.chunkDigestsReady() > 0) {
            Sha256Digest digest;
            if (!hashes.takeChunkDigest(&digest).ok()) return;
            early.push_back(digest);
            const int32_t k = static_cast<int32_t>(early.size());
            if (recovery.takeChecksumLines(checksumLine(digest, chunkFileName(m_chunkPrefix, k)))) {
                m_run.phase().expectLater(recovery.expectedFinishWork());
            }
        }
    };
    const auto notify = [this, &handOver] {
        handOver();
        ++m_currentOp;
        if (auto* o = m_errors.observer()) o->onNewDivision();
    };
    for (int32_t n = 1; s.ok() && n <= m_numOfChunks; ++n) {
        m_currentChunk = n;
        File* chunk = nullptr;
        s = outputs.create(chunkFileName(m_chunkPrefix, n), false, &chunk);
        if (s.ok()) {
            s = loop.copyChunk(*source, *chunk, n, plan.chunks.bytesOf(n), notify);
        }
        if (s.ok()) s = outputs.retire(*chunk);
    }
    if (s.ok()) s = loop.drain();
    if (s.ok() && m_run.stopRequested()) s = CopyLoop::stopped();

    // Written once every chunk is: the last line needs every byte of the file.
    File* file = nullptr;
    if (s.ok()) s = outputs.create(checksumFileName(m_chunkPrefix), false, &file);
    std::string checksums;
    if (s.ok()) {
        s = writeChecksumFile(
            *m_layer, *file, m_chunkPrefix, m_numOfChunks, m_bigFileName,
            [&](Sha256Digest* digest) {
                if (early.empty()) return hashes.takeChunkDigest(digest);
                *digest = early.front();
                early.pop_front();
                return Status::OK();
            },
            [&](Sha256Digest* digest) { return hashes.wholeDigest(digest); },
            m_recoveryChunks > 0 ? &checksums : nullptr);
    }
    if (s.ok()) s = outputs.retire(*file);
    // The recovery data covers the checksum file, and reads the large file
    // again for the few chunks it has to correct.
    if (s.ok() && m_recoveryChunks > 0) s = recovery.takeChecksumFile(checksums);
    if (s.ok() && m_recoveryChunks > 0) {
        // The finish counts the slices it writes out or reads back and the
        // chunks it corrects, against a total known from here on.
        m_run.phase().enterFollowing(RunPhaseKind::WritingRecovery, &recovery.bytesFinished(),
                                     recovery.finishBytes());
        s = recovery.finish();
    }
    if (s.ok()) s = m_layer->close(*source);
    return s;
}

}  // namespace morvane

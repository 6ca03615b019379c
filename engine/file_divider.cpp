#include "engine/file_divider.h"

#include <cerrno>
#include <limits>
#include <vector>

#include "engine/checksum_file.h"
#include "engine/chunk_hasher.h"
#include "engine/division_header.h"
#include "engine/durable_outputs.h"
#include "engine/file_layer.h"
#include "engine/overwrite_guard.h"

namespace morvane {

namespace {

// Files of this size or more cannot be one chunk: the header's 32-bit fields
// describe chunks, so the first plan of such a file uses chunks of the
// largest size the window accepts.
constexpr int64_t kLargeFileSize = int64_t{std::numeric_limits<int32_t>::max()} + 1;
constexpr int32_t kLargeFileChunkSize = 2000000000;

}  // namespace

FileDivider::FileDivider(std::shared_ptr<FileLayer> layer)
    : m_layer(layer ? std::move(layer) : std::make_shared<FileLayer>()),
      m_bigFilePath(withTrailingSeparator(executableFolder())),
      m_chunkPath(m_bigFilePath),
      m_outputs(std::make_unique<DurableOutputs>(*m_layer)) {}

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
    if (!s.ok()) {
        m_bigFileSize = 0;
        m_errors.setSystemError(s);
        return false;
    }
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
    m_stopped = false;
    m_bytesDone = 0;
    const bool done = runDivision();
    m_stopRequested = false;
    return done;
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
    const DurableOutputs::Scope outputs(*m_outputs);
    if (!writeHeader()) return false;
    if (!writeChunks()) return false;
    if (!flushOutputs()) return false;
    m_errors.clearError();
    if (auto* o = m_errors.observer()) o->onComplete();
    return true;
}

bool FileDivider::outputsAreDistinctFromSource() {
    FileId source;
    if (!m_layer->identify(bigFileFullName(), &source)) return true;
    if (!chunkSetIncludes(*m_layer, m_chunkPath, m_chunkPrefix, m_numOfChunks, source)) {
        return true;
    }
    m_errors.setError(kOutputWouldOverwriteInput);
    return false;
}

bool FileDivider::writeHeader() {
    if (auto* o = m_errors.observer()) o->onGenHeader();
    DivisionHeader header;
    header.BigFileName = m_bigFileName;
    header.AvgChunkSize = m_avgChunkSize;
    header.LastChunkSize = m_lastChunkSize;
    header.NumOfChunks = m_numOfChunks;

    std::vector<char> bytes;
    Status s;
    if (!encodeHeader(header, &bytes)) {
        s = Status::SysError(ENAMETOOLONG);
    } else {
        std::unique_ptr<File> file;
        s = m_outputs->begin(m_chunkPath);
        if (s.ok()) s = m_layer->openWrite(m_chunkPath + headerFileName(m_chunkPrefix), &file);
        if (s.ok()) s = m_layer->write(*file, bytes.data(), bytes.size());
        if (s.ok()) s = m_outputs->retire(*file);
    }
    if (!s.ok()) {
        m_errors.setSystemError(s);
        return false;
    }
    return true;
}

bool FileDivider::writeChunks() {
    m_currentOp = 0;
    computeOps();

    // Two block buffers serve every block: the helpers hash one while the
    // run reads and writes the other.
    ChunkHasher hasher(ChunkHasher::Scope::ChunksAndWhole);
    Status s = hasher.start(*m_layer);
    if (!s.ok()) {
        m_errors.setSystemError(s);
        return false;
    }

    std::unique_ptr<File> source;
    s = m_layer->openRead(bigFileFullName(), &source);
    for (int32_t n = 1; s.ok() && n <= m_numOfChunks; ++n) {
        m_currentChunk = n;
        s = writeChunk(*source, n < m_numOfChunks ? m_avgChunkSize : m_lastChunkSize, hasher);
    }
    if (s.ok()) s = m_layer->close(*source);
    if (s.ok()) s = writeChecksumFile(hasher);
    if (!s.ok() && m_stopRequested) {
        m_stopped = true;
        return false;
    }
    if (!s.ok()) {
        m_errors.setSystemError(s);
        return false;
    }
    return true;
}

Status FileDivider::writeChunk(File& source, int32_t chunkBytes, ChunkHasher& hasher) {
    const BlockPlan plan = planBlocks(chunkBytes);
    std::unique_ptr<File> chunk;
    Status s =
        m_layer->openWrite(m_chunkPath + chunkFileName(m_chunkPrefix, m_currentChunk), &chunk);
    for (int64_t b = 1; s.ok() && b <= plan.blocks; ++b) {
        ++m_currentOp;
        if (auto* o = m_errors.observer()) o->onNewDivision();
        const std::size_t bytes = b < plan.blocks ? BlockSize : plan.tail;
        if (m_stopRequested) s = Status::SysError(ECANCELED);
        if (s.ok()) s = hasher.copyBlock(*m_layer, source, *chunk, bytes, b == plan.blocks);
        if (s.ok()) m_outputs->wrote(*chunk);
        if (s.ok()) m_bytesDone += static_cast<int64_t>(bytes);
    }
    if (s.ok()) s = m_outputs->retire(*chunk);
    return s;
}

Status FileDivider::writeChecksumFile(ChunkHasher& hasher) {
    // Written once every chunk is: the last line needs every byte of the file.
    constexpr std::size_t kWritePiece = 1 << 20;
    std::unique_ptr<File> file;
    Status s = m_layer->openWrite(m_chunkPath + checksumFileName(m_chunkPrefix), &file);
    std::string text;
    Sha256Digest digest;
    for (int32_t n = 1; s.ok() && n <= m_numOfChunks; ++n) {
        s = hasher.takeChunkDigest(&digest);
        if (s.ok()) text += checksumLine(digest, chunkFileName(m_chunkPrefix, n));
        if (s.ok() && text.size() >= kWritePiece) {
            s = m_layer->write(*file, text.data(), text.size());
            text.clear();
        }
    }
    if (s.ok()) s = hasher.wholeDigest(&digest);
    if (s.ok()) text += checksumLine(digest, m_bigFileName);
    if (s.ok()) s = m_layer->write(*file, text.data(), text.size());
    if (s.ok()) s = m_outputs->retire(*file);
    return s;
}

bool FileDivider::flushOutputs() {
    const Status s = m_outputs->finish();
    if (!s.ok()) {
        m_errors.setSystemError(s);
        return false;
    }
    return true;
}

}  // namespace morvane

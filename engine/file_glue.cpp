#include "engine/file_glue.h"

#include <cerrno>
#include <vector>

#include "engine/chunk_hasher.h"
#include "engine/division_header.h"
#include "engine/durable_outputs.h"
#include "engine/file_layer.h"
#include "engine/overwrite_guard.h"

namespace morvane {

FileGlue::FileGlue(std::shared_ptr<FileLayer> layer)
    : m_layer(layer ? std::move(layer) : std::make_shared<FileLayer>()),
      m_bigFilePath(withTrailingSeparator(executableFolder())),
      m_headerFilePath(m_bigFilePath),
      m_outputs(std::make_unique<DurableOutputs>(*m_layer)) {}

FileGlue::~FileGlue() = default;

void FileGlue::setBigFilePath(const std::string& strBFP) {
    m_errors.setFolder(&m_bigFilePath, strBFP);
}

void FileGlue::setChunkPrefix(const std::string& strCP) {
    m_errors.setName(&m_chunkPrefix, strCP, kInvalidChunkPrefix);
}

void FileGlue::setHeaderFileName(const std::string& strHFN) {
    m_errors.setName(&m_headerFileName, strHFN, kInvalidFilename);
}

void FileGlue::setHeaderFilePath(const std::string& strHFP) {
    m_errors.setFolder(&m_headerFilePath, strHFP);
}

void FileGlue::setBigFileName(const std::string& strBFN) {
    m_errors.setName(&m_bigFileName, strBFN, kInvalidFilename);
}

bool FileGlue::analyze() {
    if (m_headerFileName.empty()) {
        m_errors.setError(kInvalidFilename);
        return false;
    }

    // The record is the 2-byte name length, the name and 12 bytes of sizes;
    // nothing after it is read. Bytes the file lacks stay zero.
    std::unique_ptr<File> file;
    std::vector<char> bytes(2, '\0');
    std::size_t got = 0;
    Status s = m_layer->openRead(m_headerFilePath + m_headerFileName, &file);
    if (s.ok()) s = m_layer->read(*file, bytes.data(), bytes.size(), &got);
    if (s.ok() && got == bytes.size()) {
        const unsigned char length[2] = {static_cast<unsigned char>(bytes[0]),
                                         static_cast<unsigned char>(bytes[1])};
        bytes.resize(headerRecordSize(length));
        std::size_t more = 0;
        s = m_layer->read(*file, bytes.data() + 2, bytes.size() - 2, &more);
        got += more;
    }
    if (s.ok()) s = m_layer->close(*file);
    if (!s.ok()) {
        m_errors.setSystemError(s);
        return false;
    }
    bytes.resize(got);

    const DivisionHeader header = decodeHeader(bytes);
    m_bigFileName = header.BigFileName;
    m_avgChunkSize = header.AvgChunkSize;
    m_lastChunkSize = header.LastChunkSize;
    m_numOfChunks = header.NumOfChunks;
    if (!isHeaderValid()) {
        m_errors.setError(kInvalidHeaderFile);
        resetHeader();
        return false;
    }
    if (!readChecksumFile()) {
        m_errors.setError(kInvalidChecksumFile);
        resetHeader();
        return false;
    }
    m_bigFileSize = header.bigFileSize();
    m_errors.clearError();
    return true;
}

bool FileGlue::readChecksumFile() {
    constexpr std::size_t kReadPiece = 1 << 20;
    m_checksumFileName.clear();
    m_chunkDigests.clear();
    if (m_chunkPrefix.empty()) return true;
    const std::string name = checksumFileName(m_chunkPrefix);
    const std::string path = m_headerFilePath + name;
    if (!m_layer->isPresentFile(path)) return true;

    ChecksumFileReader reader(m_chunkPrefix, m_numOfChunks);
    std::vector<char> piece(kReadPiece);
    std::unique_ptr<File> file;
    std::size_t got = kReadPiece;
    bool valid = true;
    Status s = m_layer->openRead(path, &file);
    while (s.ok() && valid && got == kReadPiece) {
        s = m_layer->read(*file, piece.data(), piece.size(), &got);
        if (s.ok()) valid = reader.feed(piece.data(), got);
    }
    if (s.ok()) s = m_layer->close(*file);
    if (!s.ok() || !valid || !reader.finish(&m_chunkDigests)) {
        m_chunkDigests.clear();
        return false;
    }
    m_checksumFileName = name;
    return true;
}

bool FileGlue::isHeaderValid() const {
    DivisionHeader header;
    header.BigFileName = m_bigFileName;
    header.AvgChunkSize = m_avgChunkSize;
    header.LastChunkSize = m_lastChunkSize;
    header.NumOfChunks = m_numOfChunks;
    return header.isValid();
}

void FileGlue::resetHeader() {
    m_checksumFileName.clear();
    m_chunkDigests.clear();
    m_bigFileName.clear();
    m_avgChunkSize = 0;
    m_lastChunkSize = 0;
    m_numOfChunks = 0;
}

bool FileGlue::isReadyForChunks() {
    if (m_bigFileName.empty() || !isHeaderValid()) {
        m_errors.setError(kAnalysisRequired);
        return false;
    }
    if (m_chunkPrefix.empty()) {
        m_errors.setError(kInvalidChunkPrefix);
        return false;
    }
    return true;
}

bool FileGlue::checkExistence() {
    if (!isReadyForChunks()) return false;
    const int32_t count = m_numOfChunks;
    for (int32_t k = 1; k <= count; ++k) {
        m_currentChunk = k;
        if (auto* o = m_errors.observer()) o->onCheckExist();
        if (!m_layer->isPresentFile(chunkFullName(k))) {
            m_errors.setError(kChunkFileMissing);
            return false;
        }
    }
    return true;
}

bool FileGlue::glueFile() {
    m_stopped = false;
    m_bytesDone = 0;
    const bool done = runGlue();
    m_stopRequested = false;
    return done;
}

bool FileGlue::runGlue() {
    if (!isReadyForChunks()) return false;
    if (!outputIsDistinctFromInputs()) return false;
    m_currentOp = 0;
    m_numOfOps = countOps(m_avgChunkSize, m_lastChunkSize, m_numOfChunks);
    if (!copyChunks()) return false;
    m_errors.clearError();
    if (auto* o = m_errors.observer()) o->onComplete();
    return true;
}

bool FileGlue::outputIsDistinctFromInputs() {
    FileId output;
    if (!m_layer->identify(m_bigFilePath + m_bigFileName, &output)) return true;
    const auto isOutput = [&](const std::string& path) {
        FileId id;
        return m_layer->identify(path, &id) && id == output;
    };
    // The set's checksum file counts as an input even when the analysis
    // found none: it may have been put in place since.
    if (!isOutput(m_headerFilePath + m_headerFileName) &&
        !isOutput(m_headerFilePath + checksumFileName(m_chunkPrefix)) &&
        !chunksInclude(*m_layer, m_headerFilePath, m_chunkPrefix, m_numOfChunks, output)) {
        return true;
    }
    m_errors.setError(kOutputWouldOverwriteInput);
    return false;
}

bool FileGlue::copyChunks() {
    // Without checksums one block buffer serves every block (the tail of a
    // chunk is its first bytes); with them the hasher's two buffers do.
    std::unique_ptr<ChunkHasher> hasher;
    std::unique_ptr<char[]> block;
    Status s;
    if (m_chunkDigests.empty()) {
        block = m_layer->allocateBlock(BlockSize);
        if (!block) s = Status::SysError(ENOMEM);
    } else {
        hasher = std::make_unique<ChunkHasher>(ChunkHasher::Scope::Chunks);
        s = hasher->start(*m_layer);
    }

    const DurableOutputs::Scope outputs(*m_outputs);
    std::unique_ptr<File> output;
    if (s.ok()) s = m_outputs->begin(m_bigFilePath);
    if (s.ok()) s = m_layer->openWrite(m_bigFilePath + m_bigFileName, &output);
    if (!s.ok()) {
        m_errors.setSystemError(s);
        return false;
    }
    for (int32_t k = 1; k <= m_numOfChunks; ++k) {
        const int32_t bytes = k < m_numOfChunks ? m_avgChunkSize : m_lastChunkSize;
        if (!copyChunk(*output, k, bytes, block.get(), hasher.get())) return false;
    }
    s = m_outputs->retire(*output);
    if (s.ok()) s = m_outputs->finish();
    if (!s.ok()) {
        m_errors.setSystemError(s);
        return false;
    }
    return true;
}

bool FileGlue::copyChunk(File& output, int32_t k, int32_t chunkBytes, char* block,
                         ChunkHasher* hasher) {
    const BlockPlan plan = planBlocks(chunkBytes);
    m_currentChunk = k;
    std::unique_ptr<File> chunk;
    Status s = m_layer->openRead(chunkFullName(k), &chunk);
    for (int64_t b = 1; s.ok() && b <= plan.blocks; ++b) {
        ++m_currentOp;
        if (auto* o = m_errors.observer()) o->onNewDivision();
        const std::size_t bytes = b < plan.blocks ? BlockSize : plan.tail;
        if (m_stopRequested) s = Status::SysError(ECANCELED);
        if (s.ok()) {
            s = hasher ? hasher->copyBlock(*m_layer, *chunk, output, bytes, b == plan.blocks)
                       : m_layer->copy(*chunk, output, bytes, block);
        }
        if (s.ok()) m_outputs->wrote(output);
        if (s.ok()) m_bytesDone += static_cast<int64_t>(bytes);
    }
    if (s.ok()) s = m_layer->close(*chunk);
    if (!s.ok() && m_stopRequested) {
        m_stopped = true;
        return false;
    }
    if (!s.ok()) {
        m_errors.setSystemError(s);
        return false;
    }
    return !hasher || isChunkIntact(k, *hasher);
}

bool FileGlue::isChunkIntact(int32_t k, ChunkHasher& hasher) {
    Sha256Digest digest;
    const Status s = hasher.takeChunkDigest(&digest);
    if (!s.ok()) {
        m_errors.setSystemError(s);
        return false;
    }
    if (digest == m_chunkDigests[k - 1]) return true;
    m_errors.setError(kChunkFileDamaged, chunkFileName(m_chunkPrefix, k));
    return false;
}

std::string FileGlue::chunkFullName(int64_t k) const {
    return m_headerFilePath + chunkFileName(m_chunkPrefix, k);
}

}  // namespace morvane

#include "engine/file_glue.h"

#include <cerrno>
#include <new>
#include <vector>

#include "engine/division_header.h"
#include "engine/file_layer.h"
#include "engine/overwrite_guard.h"

namespace morvane {

FileGlue::FileGlue(std::shared_ptr<FileLayer> layer)
    : m_layer(layer ? std::move(layer) : std::make_shared<FileLayer>()),
      m_bigFilePath(withTrailingSeparator(executableFolder())),
      m_headerFilePath(m_bigFilePath) {}

FileGlue::~FileGlue() = default;

void FileGlue::setBigFilePath(const std::string& strBFP) {
    if (strBFP.empty()) return;
    m_bigFilePath = withTrailingSeparator(strBFP);
    clearError();
}

void FileGlue::setChunkPrefix(const std::string& strCP) {
    if (strCP.empty()) {
        setError(kInvalidChunkPrefix);
        return;
    }
    m_chunkPrefix = strCP;
    clearError();
}

void FileGlue::setHeaderFileName(const std::string& strHFN) {
    if (strHFN.empty()) {
        setError(kInvalidFilename);
        return;
    }
    m_headerFileName = strHFN;
    clearError();
}

void FileGlue::setHeaderFilePath(const std::string& strHFP) {
    if (strHFP.empty()) return;
    m_headerFilePath = withTrailingSeparator(strHFP);
    clearError();
}

void FileGlue::setBigFileName(const std::string& strBFN) {
    if (strBFN.empty()) {
        setError(kInvalidFilename);
        return;
    }
    m_bigFileName = strBFN;
    clearError();
}

bool FileGlue::analyze() {
    if (m_headerFileName.empty()) {
        setError(kInvalidFilename);
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
        setSystemError(s);
        return false;
    }
    bytes.resize(got);

    const DivisionHeader header = decodeHeader(bytes);
    m_bigFileName = header.BigFileName;
    m_avgChunkSize = header.AvgChunkSize;
    m_lastChunkSize = header.LastChunkSize;
    m_numOfChunks = header.NumOfChunks;
    if (!isHeaderValid()) {
        setError(kInvalidHeaderFile);
        resetHeader();
        return false;
    }
    m_bigFileSize = header.bigFileSize();
    clearError();
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
    m_bigFileName.clear();
    m_avgChunkSize = 0;
    m_lastChunkSize = 0;
    m_numOfChunks = 0;
}

bool FileGlue::checkExistence() {
    if (m_bigFileName.empty() || !isHeaderValid()) {
        setError(kAnalysisRequired);
        return false;
    }
    if (m_chunkPrefix.empty()) {
        setError(kInvalidChunkPrefix);
        return false;
    }
    const int32_t count = m_numOfChunks;
    for (int32_t k = 1; k <= count; ++k) {
        m_currentChunk = k;
        if (m_observer) m_observer->onCheckExist();
        if (!m_layer->isPresentFile(chunkFullName(k))) {
            setError(kChunkFileMissing);
            return false;
        }
    }
    return true;
}

bool FileGlue::glueFile() {
    if (m_bigFileName.empty() || !isHeaderValid()) {
        setError(kAnalysisRequired);
        return false;
    }
    if (m_chunkPrefix.empty()) {
        setError(kInvalidChunkPrefix);
        return false;
    }
    if (!outputIsDistinctFromInputs()) return false;
    m_currentOp = 0;
    m_numOfOps = countOps(m_avgChunkSize, m_lastChunkSize, m_numOfChunks);
    if (!copyChunks()) return false;
    clearError();
    if (m_observer) m_observer->onComplete();
    return true;
}

bool FileGlue::outputIsDistinctFromInputs() {
    FileId output;
    if (!m_layer->identify(m_bigFilePath + m_bigFileName, &output)) return true;
    FileId header;
    const bool isHeader =
        m_layer->identify(m_headerFilePath + m_headerFileName, &header) && header == output;
    if (!isHeader &&
        !chunkSetIncludes(*m_layer, m_headerFilePath, m_chunkPrefix, m_numOfChunks, output)) {
        return true;
    }
    setError(kOutputWouldOverwriteInput);
    return false;
}

bool FileGlue::copyChunks() {
    // One block buffer serves every block; the tail of a chunk is the first
    // bytes of the same buffer, so memory stays at one block.
    std::unique_ptr<char[]> block(new (std::nothrow) char[BlockSize]);
    if (!block) {
        setSystemError(Status::SysError(ENOMEM));
        return false;
    }

    std::unique_ptr<File> output;
    Status s = m_layer->openWrite(m_bigFilePath + m_bigFileName, &output);
    if (!s.ok()) {
        setSystemError(s);
        return false;
    }
    for (int32_t k = 1; k <= m_numOfChunks; ++k) {
        const int32_t bytes = k < m_numOfChunks ? m_avgChunkSize : m_lastChunkSize;
        if (!copyChunk(*output, k, bytes, block.get())) return false;
    }
    s = m_layer->flush(*output);
    if (s.ok()) s = m_layer->close(*output);
    if (!s.ok()) {
        setSystemError(s);
        return false;
    }
    return true;
}

bool FileGlue::copyChunk(File& output, int32_t k, int32_t chunkBytes, char* block) {
    const BlockPlan plan = planBlocks(chunkBytes);
    m_currentChunk = k;
    std::unique_ptr<File> chunk;
    Status s = m_layer->openRead(chunkFullName(k), &chunk);
    for (int64_t b = 1; s.ok() && b <= plan.blocks; ++b) {
        ++m_currentOp;
        if (m_observer) m_observer->onNewDivision();
        const std::size_t bytes = b < plan.blocks ? BlockSize : plan.tail;
        s = m_layer->copy(*chunk, output, bytes, block);
        if (s.ok()) m_layer->startWriteback(output, false);
    }
    if (s.ok()) s = m_layer->close(*chunk);
    if (!s.ok()) {
        setSystemError(s);
        return false;
    }
    return true;
}

std::string FileGlue::chunkFullName(int64_t k) const {
    return m_headerFilePath + chunkFileName(m_chunkPrefix, k);
}

void FileGlue::setError(int16_t code) {
    m_error.setEngine(code);
    if (m_observer) m_observer->onError();
}

void FileGlue::setSystemError(const Status& failure) {
    m_error.setSystem(failure);
    if (m_observer) m_observer->onError();
}

void FileGlue::clearError() {
    m_error.clear();
    if (m_observer) m_observer->onClearErr();
}

}  // namespace morvane

#include "engine/file_glue.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "engine/copy_loop.h"
#include "engine/division_header.h"
#include "engine/file_layer.h"
#include "engine/hash_lanes.h"
#include "engine/output_names.h"
#include "engine/output_set.h"
#include "engine/overwrite_guard.h"
#include "engine/recovery/par2_layout.h"
#include "engine/recovery/par2_set.h"
#include "engine/recovery/set_repair.h"

namespace morvane {

namespace {

// The most chunks a set opened through its recovery data can have: one per
// input slice of the format.
constexpr int32_t kMaxChunksOfRecoveryData = 32768;

}  // namespace

FileGlue::FileGlue(std::shared_ptr<FileLayer> layer)
    : m_layer(layer ? std::move(layer) : std::make_shared<FileLayer>()),
      m_bigFilePath(withTrailingSeparator(executableFolder())),
      m_headerFilePath(m_bigFilePath) {}

FileGlue::~FileGlue() = default;

namespace {

// The block size of file systems that share extents, as they are made.
constexpr int32_t kSharedBlock = 4096;

}  // namespace

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
    // A division cut short in its commit left older files aside: they are
    // put back, or removed when its new header made it.
    OutputSet::settleInterrupted(*m_layer, m_headerFilePath, m_headerFileName);

    if (!openThroughRecoveryIndex()) return false;

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
    if (!m_errors.check(s)) return false;
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
    s = loadRecovery();
    bool valid = true;
    if (s.ok()) s = loadChecksumFile(m_headerFilePath + checksumFileName(m_chunkPrefix), &valid);
    if ((!s.ok() || !valid) && m_recovery &&
        m_recovery->protects(checksumFileName(m_chunkPrefix))) {
        // A damaged checksum file is rebuilt from the recovery data.
        s = Status::OK();
        valid = true;
    }
    if (!s.ok()) resetHeader();
    if (!m_errors.check(s)) return false;
    if (!valid) {
        m_errors.setError(kInvalidChecksumFile);
        resetHeader();
        return false;
    }
    m_bigFileSize = header.bigFileSize();
    m_errors.clearError();
    return true;
}

bool FileGlue::openThroughRecoveryIndex() {
    const std::string suffix = ".par2";
    const std::string& name = m_headerFileName;
    if (name.size() <= suffix.size() ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return true;
    }
    const std::string prefix = name.substr(0, name.size() - suffix.size());
    SetShape shape{m_headerFilePath, prefix, kMaxChunksOfRecoveryData, 0, 0, false};
    SetRepair repair(m_layer, &m_run.stopFlag());
    repair.setPhase(&m_run.phase());
    bool found = false;
    Status s = repair.load(shape, &found);
    if (s.ok() && !found) s = Status::SysError(ENODATA, "No usable recovery data: " + name);
    SetSurvey survey;
    if (s.ok()) s = repair.survey(&survey);
    std::vector<std::string> lost = survey.missing;
    lost.insert(lost.end(), survey.damaged.begin(), survey.damaged.end());
    const std::string header = headerFileName(prefix);
    // A lost or damaged header is rebuilt, with whatever else must be.
    if (s.ok() && !survey.foreign && std::find(lost.begin(), lost.end(), header) != lost.end()) {
        bool uncovered = false;
        s = repair.rebuild(lost, ChecksumList(), m_headerFilePath, &uncovered);
    }
    if (!m_errors.check(s)) return false;
    m_headerFileName = header;
    m_chunkPrefix = prefix;
    return true;
}

Status FileGlue::loadRecovery() {
    SetShape shape{m_headerFilePath, m_chunkPrefix, m_numOfChunks, m_avgChunkSize, m_lastChunkSize};
    auto repair = std::make_unique<SetRepair>(m_layer, &m_run.stopFlag());
    repair->setPhase(&m_run.phase());
    m_recovery.reset();
    bool found = false;
    const Status s = repair->load(shape, &found);
    if (found) m_recovery = std::move(repair);
    return s;
}

int32_t FileGlue::RecoveryChunks() const {
    return m_recovery ? m_recovery->recoveryChunks() : 0;
}

const std::vector<int32_t>& FileGlue::RebuiltChunks() const {
    return m_recovery ? m_recovery->rebuilt() : m_noneRebuilt;
}

bool FileGlue::RebuiltInPlace() const {
    return !m_recovery || m_recovery->rebuiltInPlace();
}

Status FileGlue::loadChecksumFile(const std::string& path, bool* valid) {
    m_checksumFileName.clear();
    m_checksums = ChecksumList();
    *valid = true;
    if (m_chunkPrefix.empty()) return Status::OK();
    const std::string name = checksumFileName(m_chunkPrefix);
    if (!m_layer->isPresentFile(path)) return Status::OK();

    ChecksumFileReader reader(m_chunkPrefix, m_numOfChunks, m_bigFileName);
    ChecksumList list;
    const Status s = readChecksumFile(*m_layer, path, reader, &list, valid);
    if (s.ok() && *valid) {
        m_checksums = std::move(list);
        m_checksumFileName = name;
    }
    return s;
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
    m_checksums = ChecksumList();
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
    std::vector<int32_t> missing;
    for (int32_t k = 1; k <= count; ++k) {
        m_currentChunk = k;
        if (auto* o = m_errors.observer()) o->onCheckExist();
        if (!m_layer->isPresentFile(chunkFullName(k))) {
            if (!m_recovery) {
                m_errors.setError(kChunkFileMissing);
                return false;
            }
            missing.push_back(k);
        }
    }
    std::string why;
    if (!missing.empty() && !m_recovery->covers(chunkNames(missing), &why)) {
        m_currentChunk = missing.front();
        m_errors.setError(kChunkFileMissing, why);
        return false;
    }
    return true;
}

std::vector<std::string> FileGlue::chunkNames(const std::vector<int32_t>& chunks) const {
    std::vector<std::string> names;
    for (int32_t k : chunks) names.push_back(chunkFileName(m_chunkPrefix, k));
    return names;
}

bool FileGlue::surveyAndRebuild() {
    SetSurvey survey;
    // The chunk lane checks every chunk's bytes as the glue reads them, and
    // a chunk it finds damaged is rebuilt then: without a checksum file the
    // recovery data's MD5s are the only judge.
    const Status s =
        m_checksums.chunks.empty() ? m_recovery->survey(&survey) : m_recovery->glance(&survey);
    if (!m_errors.check(s, m_run.stopRequested())) return false;
    if (survey.foreign) {
        // Recovery data of another division: the set is glued without it.
        m_recovery.reset();
        m_foreignRecovery = true;
        for (int32_t k = 1; k <= m_numOfChunks; ++k) {
            if (!m_layer->isPresentFile(chunkFullName(k))) {
                m_currentChunk = k;
                m_errors.setError(kChunkFileMissing);
                return false;
            }
        }
        return true;
    }
    std::vector<std::string> lost = survey.missing;
    lost.insert(lost.end(), survey.damaged.begin(), survey.damaged.end());
    const bool chunkLost = std::any_of(lost.begin(), lost.end(), [this](const std::string& name) {
        return chunkNumberOf(name, m_chunkPrefix, m_numOfChunks) != 0;
    });
    // A lost header or checksum file alone is rebuilt when the data covers
    // it; otherwise the chunks are glued as they are.
    std::string why;
    if (lost.empty() || (!chunkLost && !m_recovery->covers(lost, &why))) return true;
    const bool chunkMissing =
        std::any_of(survey.missing.begin(), survey.missing.end(), [this](const std::string& name) {
            return chunkNumberOf(name, m_chunkPrefix, m_numOfChunks) != 0;
        });
    return rebuild(lost, chunkMissing, outputFolder());
}

std::string FileGlue::outputFolder() const {
    return folderOf(m_layer->followLinks(m_bigFilePath + m_bigFileName));
}

bool FileGlue::rebuild(const std::vector<std::string>& names, bool anyMissing,
                       const std::string& outputFolder) {
    std::string why;
    bool uncovered = !m_recovery->covers(names, &why);
    Status s;
    if (!uncovered) {
        s = m_recovery->rebuild(names, m_checksums, outputFolder, &uncovered);
        if (uncovered) why = s.text();
    }
    if (uncovered && !m_run.stopRequested()) {
        m_currentChunk = 0;
        for (const std::string& name : names) {
            const int64_t k = chunkNumberOf(name, m_chunkPrefix, m_numOfChunks);
            if (k != 0) {
                m_currentChunk = static_cast<int32_t>(k);
                break;
            }
        }
        if (anyMissing) {
            m_errors.setError(kChunkFileMissing, why);
        } else {
            const std::string damaged =
                m_currentChunk != 0 ? chunkFileName(m_chunkPrefix, m_currentChunk) : names.front();
            m_errors.setError(kChunkFileDamaged, damaged + " (" + why + ")");
        }
        return false;
    }
    if (!m_errors.check(s, m_run.stopRequested())) return false;
    const std::string checksums = checksumFileName(m_chunkPrefix);
    if (std::find(names.begin(), names.end(), checksums) == names.end()) return true;
    // The checksum file was rebuilt: its digests count from now on.
    bool valid = true;
    s = loadChecksumFile(m_recovery->pathOf(checksums), &valid);
    if (s.ok() && !valid) s = Status::SysError(EIO, "File damaged: " + checksums);
    return m_errors.check(s, m_run.stopRequested());
}

bool FileGlue::glueFile() {
    return m_run.run([this] { return runGlue(); });
}

bool FileGlue::runGlue() {
    if (m_recovery) m_recovery->startRun();
    m_damaged.clear();
    m_foreignRecovery = false;
    if (!isReadyForChunks()) return false;
    if (!outputIsDistinctFromInputs()) return false;
    if (m_run.stopRequested()) return false;
    if (m_recovery && !surveyAndRebuild()) return false;
    m_currentOp = 0;
    m_numOfOps = countOps(m_avgChunkSize, m_lastChunkSize, m_numOfChunks);
    bool glued = copyChunks();
    if (glued && !m_damaged.empty()) {
        // Found damaged on the way: rebuilt, then glued once more.
        const std::vector<int32_t> damaged = m_damaged;
        m_damaged.clear();
        glued = rebuild(chunkNames(damaged), false, outputFolder());
        m_currentOp = 0;
        m_run.bytesCounter() = 0;
        if (glued) glued = copyChunks();
        if (glued && !m_damaged.empty()) {
            m_currentChunk = m_damaged.front();
            m_errors.setError(kChunkFileDamaged, chunkFileName(m_chunkPrefix, m_damaged.front()));
            glued = false;
        }
    }
    // Rebuilt chunks kept for this run only go with it.
    if (m_recovery) m_recovery->endRun();
    if (!glued) return false;
    m_errors.clearError();
    if (auto* o = m_errors.observer()) o->onComplete();
    return true;
}

bool FileGlue::checkSet() {
    return m_run.run([this] { return runCheck(); });
}

bool FileGlue::repairSet() {
    return m_run.run([this] { return runRepair(); });
}

bool FileGlue::runCheck() {
    m_check = SetCheck();
    if (!isReadyForChunks()) return false;
    SetSurvey survey;
    bool surveyed = false;
    if (m_recovery) {
        const Status s = m_recovery->survey(&survey);
        if (!m_errors.check(s, m_run.stopRequested())) return false;
        surveyed = !survey.foreign;
        m_check.recoveryUsed = surveyed;
        m_check.foreignRecovery = survey.foreign;
    }
    const auto listed = [](const std::vector<std::string>& names, const std::string& name) {
        return std::find(names.begin(), names.end(), name) != names.end();
    };
    m_check.contentsChecked = surveyed || !m_checksums.chunks.empty();
    for (int32_t k = 1; k <= m_numOfChunks; ++k) {
        m_currentChunk = k;
        CheckedFile file{chunkFileName(m_chunkPrefix, k), FileHealth::Intact};
        if (surveyed) {
            if (listed(survey.missing, file.name)) file.health = FileHealth::Missing;
            if (listed(survey.damaged, file.name)) file.health = FileHealth::Damaged;
        } else if (!m_errors.check(judgeChunk(k, &file.health), m_run.stopRequested())) {
            return false;
        }
        m_check.files.push_back(file);
    }
    m_check.chunks = m_numOfChunks;
    for (const std::string& name : {m_headerFileName, checksumFileName(m_chunkPrefix)}) {
        if (surveyed && listed(survey.missing, name)) {
            m_check.files.push_back({name, FileHealth::Missing});
        } else if (surveyed && listed(survey.damaged, name)) {
            m_check.files.push_back({name, FileHealth::Damaged});
        }
    }
    const std::vector<std::string> lost = m_check.lost();
    if (!lost.empty() && surveyed) {
        m_check.recoverable = m_recovery->covers(lost, &m_check.why);
    } else if (!lost.empty()) {
        m_check.recoverable = false;
        m_check.why = m_check.foreignRecovery ? "the recovery data belongs to another division"
                                              : "there is no recovery data";
    }
    m_errors.clearError();
    return true;
}

Status FileGlue::judgeChunk(int32_t k, FileHealth* health) {
    const std::string path = chunkFullName(k);
    *health = FileHealth::Missing;
    if (!m_layer->isPresentFile(path)) return Status::OK();
    std::unique_ptr<File> file;
    int64_t size = 0;
    Status s = m_layer->openRead(path, &file);
    if (s.ok()) s = m_layer->size(*file, &size);
    if (s.ok()) s = m_layer->close(*file);
    if (!s.ok()) return s;
    *health = size == layout().bytesOf(k) ? FileHealth::Intact : FileHealth::Damaged;
    if (*health == FileHealth::Damaged || m_checksums.chunks.empty()) return Status::OK();
    m_run.phase().enter(RunPhaseKind::Checking, chunkFileName(m_chunkPrefix, k), size);
    Sha256Digest digest;
    s = sha256OfFile(*m_layer, path, &digest, &m_run.stopFlag(), &m_run.phase().doneCounter());
    if (s.ok() && digest != m_checksums.chunks[std::size_t(k - 1)]) *health = FileHealth::Damaged;
    return s;
}

bool FileGlue::runRepair() {
    if (m_recovery) m_recovery->startRun();
    if (!runCheck()) return false;
    const std::vector<std::string> lost = m_check.lost();
    if (lost.empty()) return true;
    if (!m_check.recoverable) {
        m_currentChunk = 0;
        for (const CheckedFile& file : m_check.files) {
            if (file.health == FileHealth::Intact) continue;
            m_currentChunk = int32_t(chunkNumberOf(file.name, m_chunkPrefix, m_numOfChunks));
            break;
        }
        if (m_check.anyChunkMissing()) {
            m_errors.setError(kChunkFileMissing, m_check.why);
        } else {
            const std::string damaged =
                m_currentChunk != 0 ? chunkFileName(m_chunkPrefix, m_currentChunk) : lost.front();
            m_errors.setError(kChunkFileDamaged, damaged + " (" + m_check.why + ")");
        }
        return false;
    }
    // Put back beside the header or not at all: a repair has no output of
    // its own to rebuild into.
    bool done = rebuild(lost, m_check.anyChunkMissing(), m_headerFilePath);
    if (done && !m_recovery->rebuiltInPlace()) {
        done = m_errors.check(Status::SysError(EROFS, "Cannot write beside " + m_headerFileName));
    }
    m_recovery->endRun();
    if (!done) return false;
    m_errors.clearError();
    return true;
}

bool FileGlue::outputIsDistinctFromInputs() {
    // The set's files, whether the analysis used them or not: they may have
    // been put in place since. Recovery files are inputs, and a lost chunk
    // is an output of the rebuild, so the output may not even take a name
    // of the set that is not there.
    std::vector<std::string> entries;
    m_layer->listFolder(m_headerFilePath, &entries);
    std::vector<std::string> names{m_headerFileName, checksumFileName(m_chunkPrefix)};
    for (const std::string& name : entries) {
        if (isRecoveryFileName(name, m_chunkPrefix)) names.push_back(name);
    }
    names.push_back(recoveryIndexName(m_chunkPrefix));
    const OutputNames inputs(std::move(names), m_chunkPrefix, m_numOfChunks);
    const std::string target = m_layer->followLinks(m_bigFilePath + m_bigFileName);
    FileId output;
    FileId outputFolder;
    FileId headerFolder;
    const bool sameName =
        inputs.contains(nameOf(target)) && m_layer->identify(folderOf(target), &outputFolder) &&
        m_layer->identify(m_headerFilePath, &headerFolder) && outputFolder == headerFolder;
    if (!sameName && (!m_layer->identify(target, &output) ||
                      !namesInclude(*m_layer, m_headerFilePath, inputs, output))) {
        return true;
    }
    m_errors.setError(kOutputWouldOverwriteInput);
    return false;
}

bool FileGlue::copyChunks() {
    // An output name that is a link is written where the link leads.
    const std::string target = m_layer->followLinks(m_bigFilePath + m_bigFileName);
    const std::string folder = folderOf(target);
    const std::string name = nameOf(target);
    const bool inPlace = m_layer->kindOf(target) == FileLayer::Kind::Other;

    OutputSet outputs(m_layer, &m_run.stopFlag());
    outputs.timeFlushesInto(m_run.phase().flushTimes());
    CopyLoop loop(*m_layer, m_run.stopFlag(), m_run.bytesCounter());
    const bool verified = !m_checksums.chunks.empty();
    HashLanes hashes(HashLanes::kChunkLane | (m_checksums.hasWhole ? HashLanes::kWholeLane : 0));
    if (verified) loop.addConsumer(&hashes);
    loop.setOutputs(&outputs);
    Status s = loop.start();
    if (s.ok() && verified) s = hashes.start();

    File* output = nullptr;
    if (s.ok()) {
        OutputSet::Plan plan;
        plan.names = OutputNames({name});
        plan.last = name;
        plan.bytes = inPlace ? 0 : m_bigFileSize;
        plan.devicesInPlace = true;
        plan.keepAttributes = true;
        FileId chunks;
        if (m_avgChunkSize % kSharedBlock == 0 && m_layer->identify(m_headerFilePath, &chunks)) {
            plan.shareable = m_bigFileSize - m_lastChunkSize % kSharedBlock;
            plan.sharedFrom = chunks.device;
        }
        s = outputs.begin(folder, plan);
    }
    if (s.ok()) s = outputs.create(name, false, &output);
    loop.setShareExtents(outputs.sharesExtents());
    m_run.phase().enterFollowing(RunPhaseKind::Gluing, &m_run.bytesCounter(), m_bigFileSize);
    int32_t verifiedChunks = 0;
    const auto notify = [this] {
        ++m_currentOp;
        if (auto* o = m_errors.observer()) o->onNewDivision();
    };
    for (int32_t k = 1; s.ok() && k <= m_numOfChunks; ++k) {
        m_currentChunk = k;
        std::unique_ptr<File> chunk;
        s = m_layer->openRead(chunkFullName(k), &chunk);
        if (s.ok()) {
            s = loop.copyChunk(*chunk, *output, k, layout().bytesOf(k), notify);
        }
        if (s.ok()) s = m_layer->close(*chunk);
        // Digests are compared as they come, without waiting for them.
        if (s.ok() && verified &&
            !checkChunks(hashes, hashes.chunkDigestsReady(), &verifiedChunks)) {
            return false;
        }
    }
    if (s.ok()) s = outputs.retire(*output);
    if (s.ok()) s = loop.drain();
    if (s.ok() && verified) {
        if (!checkChunks(hashes, m_numOfChunks - verifiedChunks, &verifiedChunks)) return false;
        if (!m_damaged.empty()) return true;  // the output is dropped; the caller rebuilds
        if (m_checksums.hasWhole && !isWholeIntact(hashes)) return false;
    }
    if (s.ok() && m_run.stopRequested()) s = CopyLoop::stopped();
    if (s.ok()) m_run.phase().enter(RunPhaseKind::Flushing);
    if (s.ok()) s = outputs.commit();
    if (!s.ok()) outputs.abandon();
    return m_errors.check(s, m_run.stopRequested());
}

bool FileGlue::checkChunks(HashLanes& hashes, int32_t count, int32_t* verified) {
    for (int32_t i = 0; i < count; ++i) {
        Sha256Digest digest;
        if (!m_errors.check(hashes.takeChunkDigest(&digest))) return false;
        const int32_t k = ++*verified;
        if (digest != m_checksums.chunks[k - 1] && m_recovery && m_damaged.size() < 1u << 15) {
            m_damaged.push_back(k);  // rebuilt once the run has seen every chunk
        } else if (digest != m_checksums.chunks[k - 1]) {
            m_currentChunk = k;
            m_errors.setError(kChunkFileDamaged, chunkFileName(m_chunkPrefix, k));
            return false;
        }
    }
    return true;
}

bool FileGlue::isWholeIntact(HashLanes& hashes) {
    Sha256Digest digest;
    if (!m_errors.check(hashes.wholeDigest(&digest))) return false;
    if (digest == m_checksums.whole) return true;
    m_errors.setError(kInvalidChecksumFile);
    return false;
}

std::string FileGlue::chunkFullName(int64_t k) const {
    if (m_recovery) return m_recovery->pathOf(chunkFileName(m_chunkPrefix, k));
    return m_headerFilePath + chunkFileName(m_chunkPrefix, k);
}

}  // namespace morvane

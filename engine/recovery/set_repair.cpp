#include "engine/recovery/set_repair.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>

#include "engine/division_header.h"
#include "engine/file_layer.h"
#include "engine/output_names.h"
#include "engine/output_set.h"
#include "engine/recovery/md5_stream.h"
#include "engine/recovery/par2_repair.h"
#include "engine/recovery/par2_set.h"
#include "engine/recovery/par2_wire.h"
#include "engine/sha256_stream.h"

namespace morvane {

namespace {

// Failures that say a folder cannot take the rebuilt files: read-only
// media, whatever free space they report, and full ones.
bool cannotTake(const Status& s) {
    return s.number() == EROFS || s.number() == EACCES || s.number() == EPERM ||
           s.number() == ENOSPC || s.number() == EDQUOT;
}

constexpr std::size_t kSurveyBlock = 1 << 20;
// The head of a file whose MD5 the recovery data keeps apart.
constexpr uint64_t kHeadBytes = 16384;

// "a, b and c".
std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += i + 1 == names.size() ? " and " : ", ";
        text += names[i];
    }
    return text;
}

}  // namespace

SetRepair::SetRepair(std::shared_ptr<FileLayer> layer, const std::atomic<bool>* stop)
    : m_layer(std::move(layer)), m_stop(stop) {}

SetRepair::~SetRepair() = default;

bool SetRepair::isOwnName(const std::string& name) const {
    return chunkNumberOf(name, m_shape.prefix, m_shape.numOfChunks) != 0 ||
           name == headerFileName(m_shape.prefix) || name == checksumFileName(m_shape.prefix);
}

Status SetRepair::load(const SetShape& shape, bool* found) {
    *found = false;
    m_shape = shape;
    m_set.reset();
    m_recoveryChunks = 0;
    if (shape.prefix.empty()) return Status::OK();
    auto set = std::make_unique<Par2Set>();
    const Status s = set->read(*m_layer, shape.folder, shape.prefix);
    if (!s.ok() || !set->usable()) return s;
    // Recovery data of another division (an older set of the same names)
    // describes other chunks, and data that names other files is not the
    // set's: neither is used.
    int32_t described = 0;
    uint64_t largest = 1;
    for (std::size_t i = 0; i < set->files().size(); ++i) {
        const Par2FileInfo& file = set->files()[i];
        if (!isOwnName(file.name)) return Status::OK();
        largest = std::max(largest, set->slicesOf(i));
        const int64_t k = chunkNumberOf(file.name, shape.prefix, shape.numOfChunks);
        if (k == 0 || !shape.sizesKnown) continue;
        if (file.length != static_cast<uint64_t>(shape.chunkBytes(k))) return Status::OK();
        ++described;
    }
    if (shape.sizesKnown && described != shape.numOfChunks) return Status::OK();
    m_recoveryChunks = static_cast<int32_t>(set->recoverySlices().size() / largest);
    // Slices too few for a chunk may still rebuild the header or the
    // checksum file, and the descriptions still check every file.
    *found = !set->recoverySlices().empty();
    if (*found) m_set = std::move(set);
    return Status::OK();
}

bool SetRepair::protects(const std::string& name) const {
    return m_set && m_set->fileIndex(name) >= 0;
}

Status SetRepair::matches(std::size_t i, const std::string& path, uint64_t bytes, char* buffer,
                          bool* present, bool* same) {
    const Par2FileInfo& info = m_set->files()[i];
    *present = m_layer->isPresentFile(path);
    *same = false;
    if (!*present) return Status::OK();
    std::unique_ptr<File> file;
    Status s = m_layer->openRead(path, &file);
    int64_t size = 0;
    if (s.ok()) s = m_layer->size(*file, &size);
    if (!s.ok()) return s;
    if (uint64_t(size) != info.length) return m_layer->close(*file);
    const bool whole = bytes >= info.length;
    bytes = whole ? info.length : kHeadBytes;
    Md5Stream md5;
    for (uint64_t done = 0; done < bytes;) {
        if (m_stop && *m_stop) return Status::SysError(ECANCELED);
        const std::size_t n = std::size_t(std::min<uint64_t>(kSurveyBlock, bytes - done));
        s = readExactAt(*m_layer, *file, int64_t(done), buffer, n);
        if (!s.ok()) return s;
        md5.update(buffer, n);
        done += n;
        if (m_phase) m_phase->advance(int64_t(n));
    }
    Md5Digest hash{};
    if (!md5.finish(&hash)) return Status::SysError(EIO, "MD5 computation failed");
    *same = hash == (whole ? info.hash : info.hash16k);
    return m_layer->close(*file);
}

Status SetRepair::survey(SetSurvey* out) {
    return compareFiles(true, out);
}

Status SetRepair::glance(SetSurvey* out) {
    return compareFiles(false, out);
}

Status SetRepair::compareFiles(bool chunksWhole, SetSurvey* out) {
    *out = SetSurvey();
    std::unique_ptr<char[]> buffer = m_layer->allocateBlock(kSurveyBlock);
    if (!buffer) return Status::SysError(ENOMEM);
    int32_t chunksThere = 0;
    int32_t chunksIntact = 0;
    for (std::size_t i = 0; i < m_set->files().size(); ++i) {
        const std::string& name = m_set->files()[i].name;
        const bool chunk = chunkNumberOf(name, m_shape.prefix, m_shape.numOfChunks) != 0;
        const uint64_t length = m_set->files()[i].length;
        const uint64_t bytes = chunk && !chunksWhole ? std::min(length, kHeadBytes) : length;
        bool present = false;
        bool same = false;
        if (m_phase) m_phase->enter(RunPhaseKind::Checking, name, int64_t(bytes));
        Status s = matches(i, pathOf(name), bytes, buffer.get(), &present, &same);
        if (!s.ok()) return s;
        chunksThere += chunk && present;
        chunksIntact += chunk && same;
        if (!present) {
            out->missing.push_back(name);
        } else if (!same) {
            out->damaged.push_back(name);
        }
    }
    // Data whose MD5s no chunk that is there matches describes other chunks.
    out->foreign = chunksThere > 0 && chunksIntact == 0;
    if (out->foreign) {
        out->missing.clear();
        out->damaged.clear();
    }
    if (out->missing.empty() && out->damaged.empty()) return Status::OK();
    return dropDamagedSlices(buffer.get());
}

Status SetRepair::dropDamagedSlices(char* buffer) {
    std::set<std::pair<std::string, int64_t>> damaged;
    std::map<std::string, std::unique_ptr<File>> open;
    for (const RecoverySliceRef& ref : m_set->recoverySlices()) {
        std::unique_ptr<File>& file = open[ref.path];
        Status s = file ? Status::OK() : m_layer->openRead(ref.path, &file);
        bool intact = false;
        if (s.ok()) s = checkSlice(*file, ref, buffer, &intact);
        if (!s.ok()) return s;
        if (!intact) damaged.emplace(ref.path, ref.packetOffset);
    }
    for (auto& entry : open) {
        const Status s = m_layer->close(*entry.second);
        if (!s.ok()) return s;
    }
    m_set->keepRecoverySlices([&](RecoverySliceRef& ref) {
        ref.checked = true;
        return damaged.count({ref.path, ref.packetOffset}) == 0;
    });
    if (damaged.empty()) return Status::OK();
    uint64_t largest = 1;
    for (std::size_t i = 0; i < m_set->files().size(); ++i) {
        largest = std::max(largest, m_set->slicesOf(i));
    }
    m_recoveryChunks = static_cast<int32_t>(m_set->recoverySlices().size() / largest);
    return Status::OK();
}

Status SetRepair::checkSlice(File& file, const RecoverySliceRef& ref, char* buffer, bool* intact) {
    // The packet's MD5 covers it from its set ID to the slice's last byte.
    const uint64_t length = kRecoveryDataOffset - kPacketHashedFrom + m_set->sliceSize();
    const int64_t from = ref.packetOffset + int64_t(kPacketHashedFrom);
    Md5Stream md5;
    for (uint64_t done = 0; done < length;) {
        if (m_stop && *m_stop) return Status::SysError(ECANCELED);
        const std::size_t n = std::size_t(std::min<uint64_t>(kSurveyBlock, length - done));
        const Status s = readExactAt(*m_layer, file, from + int64_t(done), buffer, n);
        if (!s.ok()) return s;
        md5.update(buffer, n);
        done += n;
    }
    Md5Digest hash{};
    if (!md5.finish(&hash)) return Status::SysError(EIO, "MD5 computation failed");
    *intact = hash == ref.packetHash;
    return Status::OK();
}

bool SetRepair::covers(const std::vector<std::string>& names, std::string* why) const {
    return canRebuild(*m_set, names, why);
}

Status SetRepair::rebuildInto(OutputSet& set, const std::string& folder,
                              std::vector<std::string>& names, const ChecksumList& checksums,
                              bool* uncovered) {
    int64_t bytes = 0;
    for (const std::string& name : names) {
        bytes += int64_t(m_set->files()[std::size_t(m_set->fileIndex(name))].length);
    }
    OutputSet::Plan plan;
    plan.last = headerFileName(m_shape.prefix);
    // The checksum file has the last word on what a chunk holds: each
    // rebuilt chunk is hashed as it is read back for its MD5.
    const bool judged = !checksums.chunks.empty();
    Sha256Stream sha;
    std::string wrong;
    const ReadBackObserver readBack = [&](const std::string& name, const char* bytes,
                                          std::size_t n) {
        const int64_t k = chunkNumberOf(name, m_shape.prefix, m_shape.numOfChunks);
        if (!judged || k == 0) return Status::OK();
        if (n > 0) {
            sha.update(bytes, n);
            return Status::OK();
        }
        Sha256Digest digest;
        const bool ok = sha.finish(&digest);
        sha = Sha256Stream();
        if (!ok) return Status::SysError(EIO, "SHA-256 computation failed");
        if (digest != checksums.chunks[std::size_t(k - 1)] && wrong.empty()) wrong = name;
        return Status::OK();
    };
    Status s;
    // A file found damaged on the way counts as lost too, while the
    // recovery data covers them all.
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::vector<std::string> found;
        if (m_phase) {
            m_phase->enter(RunPhaseKind::Rebuilding, joined(names), rebuildWork(*m_set, names));
        }
        plan.names = OutputNames(names);
        plan.bytes = bytes;
        s = set.begin(folder, plan);
        wrong.clear();
        if (s.ok()) {
            s = rebuildFiles(
                *m_layer, *m_set, m_shape.folder, names,
                [&set](const std::string& name, std::unique_ptr<File>* out) {
                    return set.createDetached(name, out);
                },
                &found, m_stop, readBack, m_phase ? &m_phase->doneCounter() : nullptr);
        }
        if (s.ok() || found.empty()) break;
        for (const std::string& name : found) {
            names.push_back(name);
            bytes += int64_t(m_set->files()[std::size_t(m_set->fileIndex(name))].length);
        }
        std::string why;
        if (!canRebuild(*m_set, names, &why)) {
            *uncovered = true;
            return Status::SysError(ENODATA, why);
        }
    }
    if (!s.ok() && s.number() == ENODATA && !(m_stop && *m_stop)) *uncovered = true;
    if (s.ok() && !wrong.empty()) {
        s = Status::SysError(EIO, "Rebuilt chunk does not match its checksum: " + wrong);
    }
    return s;
}

Status SetRepair::rebuild(const std::vector<std::string>& lost, const ChecksumList& checksums,
                          const std::string& outputFolder, bool* uncovered) {
    *uncovered = false;
    std::vector<std::string> names = lost;
    // Put back beside the header, or, where that folder cannot take them,
    // kept in the output's folder for this run only.
    auto place = std::make_unique<OutputSet>(m_layer, m_stop);
    Status s = rebuildInto(*place, m_shape.folder, names, checksums, uncovered);
    if (s.ok()) {
        if (m_phase) m_phase->enter(RunPhaseKind::Flushing);
        s = place->commit();
    } else if (cannotTake(s)) {
        place->abandon();
        names = lost;
        m_scratch = std::make_unique<OutputSet>(m_layer, m_stop);
        s = rebuildInto(*m_scratch, outputFolder, names, checksums, uncovered);
        for (std::size_t i = 0; s.ok() && i < names.size(); ++i) {
            m_kept.emplace_back(names[i], m_scratch->pathOf(names[i]));
        }
        m_inPlace = false;
    }
    if (!s.ok()) {
        place->abandon();
        m_scratch.reset();
        m_kept.clear();
        return s;
    }
    for (const std::string& name : names) {
        const int64_t k = chunkNumberOf(name, m_shape.prefix, m_shape.numOfChunks);
        if (k != 0) m_rebuilt.push_back(int32_t(k));
    }
    std::sort(m_rebuilt.begin(), m_rebuilt.end());
    return Status::OK();
}

std::string SetRepair::pathOf(const std::string& name) const {
    for (const auto& [kept, path] : m_kept) {
        if (kept == name) return path;
    }
    return m_shape.folder + name;
}

void SetRepair::startRun() {
    endRun();
    m_rebuilt.clear();
    m_inPlace = true;
    // The files may have changed since an earlier run checked them.
    if (m_set) {
        m_set->keepRecoverySlices([](RecoverySliceRef& ref) {
            ref.checked = false;
            return true;
        });
    }
}

void SetRepair::endRun() {
    m_scratch.reset();
    m_kept.clear();
}

}  // namespace morvane

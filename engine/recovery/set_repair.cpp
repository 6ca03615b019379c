#include "engine/recovery/set_repair.h"

#include <algorithm>
#include <cerrno>

#include "engine/division_header.h"
#include "engine/file_layer.h"
#include "engine/hash_lanes.h"
#include "engine/output_set.h"
#include "engine/recovery/par2_layout.h"
#include "engine/recovery/par2_repair.h"
#include "engine/recovery/par2_set.h"

namespace morvane {

namespace {

// Failures that say a folder cannot be written to at all.
bool isReadOnly(const Status& s) {
    return s.number() == EROFS || s.number() == EACCES || s.number() == EPERM;
}

}  // namespace

SetRepair::SetRepair(std::shared_ptr<FileLayer> layer, const std::atomic<bool>* stop)
    : m_layer(std::move(layer)), m_stop(stop) {}

SetRepair::~SetRepair() = default;

bool SetRepair::load(const SetShape& shape) {
    m_shape = shape;
    m_set.reset();
    m_recoveryChunks = 0;
    if (shape.prefix.empty() ||
        !m_layer->isPresentFile(shape.folder + recoveryIndexName(shape.prefix))) {
        return false;
    }
    auto set = std::make_unique<Par2Set>();
    if (!set->read(*m_layer, shape.folder, shape.prefix).ok() || !set->usable()) return false;
    // Recovery data of another division (an older set of the same names)
    // describes other chunks: it is not used.
    int32_t described = 0;
    uint64_t largest = 1;
    for (std::size_t i = 0; i < set->files().size(); ++i) {
        const Par2FileInfo& file = set->files()[i];
        largest = std::max(largest, set->slicesOf(i));
        const int64_t k = chunkNumberOf(file.name, shape.prefix, shape.numOfChunks);
        if (k == 0) continue;
        if (file.length != static_cast<uint64_t>(shape.chunkBytes(k))) return false;
        ++described;
    }
    if (described != shape.numOfChunks) return false;
    m_recoveryChunks = static_cast<int32_t>(set->recoverySlices().size() / largest);
    if (m_recoveryChunks > 0) m_set = std::move(set);
    return m_recoveryChunks > 0;
}

std::vector<std::string> SetRepair::chunkNames(const std::vector<int32_t>& chunks) const {
    std::vector<std::string> names;
    for (int32_t k : chunks) names.push_back(chunkFileName(m_shape.prefix, k));
    return names;
}

bool SetRepair::covers(const std::vector<int32_t>& chunks, std::string* why) const {
    return canRebuild(*m_set, chunkNames(chunks), why);
}

Status SetRepair::rebuildInto(OutputSet& set, const std::string& folder,
                              std::vector<int32_t>& chunks, std::vector<std::string>& names,
                              const ChecksumList& checksums) {
    int64_t bytes = 0;
    for (int32_t k : chunks) bytes += m_shape.chunkBytes(k);
    const auto isOurs = [&names](const std::string& stem, bool) {
        return std::find(names.begin(), names.end(), stem) != names.end();
    };
    Status s;
    // A chunk found damaged on the way counts as lost too, while the
    // recovery data covers them all.
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::vector<std::string> found;
        s = set.begin(folder, bytes, isOurs);
        if (s.ok()) {
            s = rebuildFiles(
                *m_layer, *m_set, m_shape.folder, names,
                [&set](const std::string& name, std::unique_ptr<File>* out) {
                    return set.createDetached(name, out);
                },
                &found);
        }
        std::string unused;
        if (s.ok() || found.empty()) break;
        for (const std::string& name : found) {
            const int64_t k = chunkNumberOf(name, m_shape.prefix, m_shape.numOfChunks);
            if (k == 0) return s;
            chunks.push_back(static_cast<int32_t>(k));
            names.push_back(name);
            bytes += m_shape.chunkBytes(k);
        }
        if (!canRebuild(*m_set, names, &unused)) return Status::SysError(ENODATA, unused);
    }
    // The checksum file has the last word on what a chunk holds.
    for (std::size_t i = 0; s.ok() && !checksums.chunks.empty() && i < chunks.size(); ++i) {
        Sha256Digest digest;
        s = sha256OfFile(*m_layer, set.pathOf(names[i]), &digest);
        if (s.ok() && digest != checksums.chunks[chunks[i] - 1]) {
            s = Status::SysError(EIO, "Rebuilt chunk does not match its checksum: " + names[i]);
        }
    }
    return s;
}

Status SetRepair::rebuild(const std::vector<int32_t>& lost, const ChecksumList& checksums,
                          const std::string& outputFolder) {
    std::vector<int32_t> chunks = lost;
    std::vector<std::string> names = chunkNames(chunks);
    // Put back beside the header, or, where that folder cannot be written,
    // kept in the output's folder for this run only.
    auto place = std::make_unique<OutputSet>(m_layer, m_stop);
    Status s = rebuildInto(*place, m_shape.folder, chunks, names, checksums);
    if (s.ok()) {
        s = place->commit();
    } else if (isReadOnly(s)) {
        place->abandon();
        m_scratch = std::make_unique<OutputSet>(m_layer, m_stop);
        s = rebuildInto(*m_scratch, outputFolder, chunks, names, checksums);
        for (std::size_t i = 0; s.ok() && i < chunks.size(); ++i) {
            m_chunkPaths.emplace_back(chunks[i], m_scratch->pathOf(names[i]));
        }
        m_inPlace = false;
    }
    if (!s.ok()) {
        place->abandon();
        m_scratch.reset();
        m_chunkPaths.clear();
        return s;
    }
    m_rebuilt.insert(m_rebuilt.end(), chunks.begin(), chunks.end());
    std::sort(m_rebuilt.begin(), m_rebuilt.end());
    return Status::OK();
}

std::string SetRepair::chunkPath(int64_t k) const {
    for (const auto& [chunk, path] : m_chunkPaths) {
        if (chunk == k) return path;
    }
    return m_shape.folder + chunkFileName(m_shape.prefix, k);
}

void SetRepair::startRun() {
    endRun();
    m_rebuilt.clear();
    m_inPlace = true;
}

void SetRepair::endRun() {
    m_scratch.reset();
    m_chunkPaths.clear();
}

}  // namespace morvane

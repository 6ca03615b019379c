#include "engine/recovery/par2_set.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <memory>

#include "engine/division_header.h"
#include "engine/file_layer.h"
#include "engine/recovery/galois_field16.h"
#include "engine/recovery/par2_layout.h"

namespace morvane {

namespace {

// A main packet listing 32,768 files twice over, or a slice checksum packet
// of 32,768 slices, fits; no description packet of a usable set is longer.
constexpr uint64_t kMaxDescribingBytes =
    kPacketHeaderBytes + 12 + 16 * 2 * uint64_t(kMaxInputSlices);
constexpr std::size_t kMaxNameBytes = 4096;
// Distinct sets whose main packets are considered.
constexpr std::size_t kMaxSets = 8;
constexpr std::size_t kWindow = 1 << 20;
constexpr char kMagic[8] = {'P', 'A', 'R', '2', '\0', 'P', 'K', 'T'};

// Calls `visit` for every packet header found in a file. `visit` returns
// the offset to go on from, or -1 when the header turned out not to start a
// packet, so that the search goes on from the next byte.
using PacketVisitor = std::function<int64_t(int64_t offset, const PacketHeader& header)>;

Status scanFile(FileLayer& layer, File& file, int64_t size, const PacketVisitor& visit) {
    std::vector<char> window(kWindow);
    int64_t windowStart = 0;
    std::size_t windowBytes = 0;
    int64_t pos = 0;
    while (pos + int64_t(kPacketHeaderBytes) <= size) {
        // The window is read again only when the next header is not all in it.
        if (pos < windowStart ||
            pos + int64_t(kPacketHeaderBytes) > windowStart + int64_t(windowBytes)) {
            Status s = layer.readAt(file, pos, window.data(), window.size(), &windowBytes);
            if (!s.ok()) return s;
            windowStart = pos;
            if (windowBytes < kPacketHeaderBytes) break;
        }
        const std::size_t from = std::size_t(pos - windowStart);
        const char* hit = static_cast<const char*>(
            ::memmem(window.data() + from, windowBytes - from, kMagic, sizeof kMagic));
        if (hit == nullptr) {
            pos = windowStart + int64_t(windowBytes) - int64_t(sizeof kMagic) + 1;
            if (windowStart + int64_t(windowBytes) >= size) break;
            continue;
        }
        const int64_t at = windowStart + (hit - window.data());
        if (at + int64_t(kPacketHeaderBytes) > windowStart + int64_t(windowBytes)) {
            pos = at;
            windowBytes = 0;
            continue;
        }
        PacketHeader header;
        int64_t next = -1;
        if (parsePacketHeader(hit, &header) && header.length <= uint64_t(size - at)) {
            next = visit(at, header);
        }
        pos = next < 0 ? at + 1 : next;
    }
    return Status::OK();
}

// True when a packet of `length` bytes at `offset` is followed by the end
// of the file or another packet's magic: its length is then believable
// without reading it.
bool endsWell(FileLayer& layer, File& file, int64_t size, int64_t offset, uint64_t length) {
    const int64_t after = offset + int64_t(length);
    if (after == size) return true;
    char magic[sizeof kMagic];
    std::size_t got = 0;
    return layer.readAt(file, after, magic, sizeof magic, &got).ok() && got == sizeof magic &&
           std::memcmp(magic, kMagic, sizeof magic) == 0;
}

// Reads a packet's body and checks the packet MD5. Only for lengths up to
// kMaxDescribingBytes.
bool readVerified(FileLayer& layer, File& file, int64_t offset, const PacketHeader& header,
                  std::vector<char>* body) {
    if (header.length > kMaxDescribingBytes) return false;
    body->resize(header.length - kPacketHeaderBytes);
    std::size_t got = 0;
    if (!layer.readAt(file, offset + int64_t(kPacketHeaderBytes), body->data(), body->size(), &got)
             .ok() ||
        got != body->size()) {
        return false;
    }
    Md5Stream md5;
    md5.update(header.setId.data(), header.setId.size());
    md5.update(header.type.data(), header.type.size());
    md5.update(body->data(), body->size());
    Md5Digest hash{};
    return md5.finish(&hash) && hash == header.hash;
}

bool sameFile(const Par2FileInfo& a, const Par2FileInfo& b) {
    return a.id == b.id && a.hash == b.hash && a.hash16k == b.hash16k && a.length == b.length &&
           a.name == b.name;
}

}  // namespace

uint64_t Par2Set::slicesOf(std::size_t file) const {
    return (m_files[file].length + m_sliceSize - 1) / m_sliceSize;
}

int32_t Par2Set::fileIndex(const std::string& name) const {
    for (std::size_t i = 0; i < m_files.size(); ++i) {
        if (m_files[i].name == name) return int32_t(i);
    }
    return -1;
}

Status Par2Set::read(FileLayer& layer, const std::string& folder, const std::string& prefix) {
    *this = Par2Set();
    std::vector<std::string> names;
    Status s = layer.listFolder(folder, &names);
    if (!s.ok()) return s;
    // The set's description first, then its volumes in name order.
    std::vector<std::string> paths;
    const std::string index = recoveryIndexName(prefix);
    const std::string volume = prefix + ".vol";
    std::sort(names.begin(), names.end());
    if (std::find(names.begin(), names.end(), index) != names.end()) {
        paths.push_back(folder + index);
    }
    for (const std::string& name : names) {
        if (name.size() > volume.size() + 5 && name.compare(0, volume.size(), volume) == 0 &&
            name.compare(name.size() - 5, 5, ".par2") == 0) {
            paths.push_back(folder + name);
        }
    }
    if (paths.empty()) return Status::OK();

    struct Opened {
        std::unique_ptr<File> file;
        int64_t size = 0;
    };
    std::vector<Opened> files;
    for (const std::string& path : paths) {
        Opened o;
        s = layer.openRead(path, &o.file);
        if (s.ok()) s = layer.size(*o.file, &o.size);
        if (!s.ok()) return s;
        files.push_back(std::move(o));
    }

    // Pass 1: the main packets; the set is the first one found.
    std::vector<std::pair<Md5Digest, MainPacket>> mains;
    std::vector<char> body;
    for (Opened& o : files) {
        s = scanFile(layer, *o.file, o.size, [&](int64_t at, const PacketHeader& h) -> int64_t {
            const int64_t next = at + int64_t(h.length);
            if (h.type != kMainPacket) {
                return endsWell(layer, *o.file, o.size, at, h.length) ? next : -1;
            }
            if (!readVerified(layer, *o.file, at, h, &body)) return -1;
            Md5Digest id{};
            MainPacket main;
            if (!md5Of(body.data(), body.size(), &id) || id != h.setId ||
                !parseMainBody(body.data(), body.size(), &main) ||
                main.recoveryIds.size() > std::size_t(kMaxInputSlices)) {
                return next;
            }
            const bool known = std::any_of(mains.begin(), mains.end(),
                                           [&](const auto& m) { return m.first == id; });
            if (!known && mains.size() < kMaxSets) mains.emplace_back(id, std::move(main));
            return next;
        });
        if (!s.ok()) return s;
    }
    if (mains.empty()) {
        m_problem = "The recovery data has no intact main packet";
        return Status::OK();
    }
    m_setId = mains.front().first;
    m_sliceSize = mains.front().second.sliceSize;
    const std::vector<Md5Digest>& ids = mains.front().second.recoveryIds;
    std::map<Md5Digest, std::size_t> position;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        if (!position.emplace(ids[i], i).second) {
            m_problem = "The recovery data lists a file twice";
            return Status::OK();
        }
    }

    // Pass 2: descriptions of the set's files. Pass 3: their slice
    // checksums (whose count the descriptions fix) and the recovery slices.
    std::vector<Par2FileInfo> found(ids.size());
    std::vector<bool> described(ids.size(), false);
    std::map<uint32_t, RecoverySliceRef> recovery;
    bool contradiction = false;
    for (int pass = 2; pass <= 3; ++pass) {
        for (std::size_t f = 0; f < files.size(); ++f) {
            Opened& o = files[f];
            s = scanFile(layer, *o.file, o.size, [&](int64_t at, const PacketHeader& h) -> int64_t {
                const int64_t next = at + int64_t(h.length);
                const bool ours = h.setId == m_setId;
                if (h.type == kRecoverySlicePacket) {
                    if (!ours || pass != 3 || h.length != kPacketHeaderBytes + 4 + m_sliceSize) {
                        return endsWell(layer, *o.file, o.size, at, h.length) ? next : -1;
                    }
                    if (!endsWell(layer, *o.file, o.size, at, h.length)) return -1;
                    char exponentBytes[4];
                    std::size_t got = 0;
                    if (!layer
                             .readAt(*o.file, at + int64_t(kPacketHeaderBytes), exponentBytes, 4,
                                     &got)
                             .ok() ||
                        got != 4) {
                        return -1;
                    }
                    RecoverySliceRef ref{paths[f], at, getLe32(exponentBytes), h.hash};
                    if (ref.exponent >= 65535) return next;
                    auto [it, added] = recovery.emplace(ref.exponent, ref);
                    if (!added && it->second.packetHash != ref.packetHash) contradiction = true;
                    return next;
                }
                if (h.length > kMaxDescribingBytes) {
                    return endsWell(layer, *o.file, o.size, at, h.length) ? next : -1;
                }
                const bool wanted = ours && ((pass == 2 && h.type == kFileDescriptionPacket) ||
                                             (pass == 3 && h.type == kSliceChecksumPacket));
                if (!readVerified(layer, *o.file, at, h, &body)) return -1;
                if (!wanted || body.size() < 16) return next;
                Md5Digest id{};
                std::memcpy(id.data(), body.data(), 16);
                const auto it = position.find(id);
                if (it == position.end()) return next;
                Par2FileInfo& file = found[it->second];
                if (pass == 2) {
                    Par2FileInfo info;
                    if (body.size() > 56 + kMaxNameBytes ||
                        !parseFileDescriptionBody(body.data(), body.size(), &info)) {
                        return next;
                    }
                    if (described[it->second]) {
                        if (!sameFile(file, info)) contradiction = true;
                    } else {
                        file = std::move(info);
                        described[it->second] = true;
                    }
                    return next;
                }
                if (!described[it->second]) return next;
                const uint64_t slices = (file.length + m_sliceSize - 1) / m_sliceSize;
                if ((body.size() - 16) / 20 != slices || (body.size() - 16) % 20 != 0) return next;
                Par2FileInfo copy = file;
                if (!parseSliceChecksumBody(body.data(), body.size(), &copy)) return next;
                if (!file.sliceHashes.empty() &&
                    (file.sliceHashes != copy.sliceHashes || file.sliceCrcs != copy.sliceCrcs)) {
                    contradiction = true;
                }
                file = std::move(copy);
                return next;
            });
            if (!s.ok()) return s;
        }
        if (pass == 2) {
            uint64_t slices = 0;
            for (std::size_t i = 0; i < found.size(); ++i) {
                if (!described[i]) {
                    m_problem = "The recovery data lacks the description of a file";
                    return Status::OK();
                }
                slices += std::min<uint64_t>((found[i].length + m_sliceSize - 1) / m_sliceSize,
                                             uint64_t(kMaxInputSlices) + 1);
            }
            if (slices > uint64_t(kMaxInputSlices)) {
                m_problem = "The recovery data claims more slices than the format allows";
                return Status::OK();
            }
        }
    }
    if (contradiction) {
        m_problem = "The recovery data contradicts itself";
        return Status::OK();
    }
    m_files = std::move(found);
    for (auto& entry : recovery) m_recovery.push_back(std::move(entry.second));
    m_problem.clear();
    return Status::OK();
}

int32_t recoveryChunkCount(FileLayer& layer, const std::string& folder, const std::string& prefix) {
    Par2Set set;
    if (!set.read(layer, folder, prefix).ok() || !set.usable()) return 0;
    uint64_t largest = 1;
    for (std::size_t i = 0; i < set.files().size(); ++i)
        largest = std::max(largest, set.slicesOf(i));
    return int32_t(set.recoverySlices().size() / largest);
}

}  // namespace morvane

namespace morvane {

bool isRecoveryFileName(const std::string& name, const std::string& prefix) {
    const std::string volume = prefix + ".vol";
    return name == recoveryIndexName(prefix) ||
           (name.size() > volume.size() + 5 && name.compare(0, volume.size(), volume) == 0 &&
            name.compare(name.size() - 5, 5, ".par2") == 0);
}

bool describesChunksOf(FileLayer& layer, const std::string& path, const std::string& prefix) {
    std::unique_ptr<File> file;
    int64_t size = 0;
    if (!layer.openRead(path, &file).ok() || !layer.size(*file, &size).ok()) return false;
    bool found = false;
    std::vector<char> body;
    scanFile(layer, *file, size, [&](int64_t at, const PacketHeader& h) -> int64_t {
        const int64_t next = at + int64_t(h.length);
        if (found) return size;
        if (h.type != kFileDescriptionPacket) {
            return endsWell(layer, *file, size, at, h.length) ? next : -1;
        }
        Par2FileInfo info;
        if (!readVerified(layer, *file, at, h, &body) ||
            !parseFileDescriptionBody(body.data(), body.size(), &info)) {
            return -1;
        }
        found = chunkNumberOf(info.name, prefix, std::numeric_limits<int32_t>::max()) > 0;
        return next;
    });
    return found;
}

}  // namespace morvane

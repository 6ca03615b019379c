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
    kPacketHeaderBytes + kMainFixedBytes + 16 * 2 * uint64_t(kMaxInputSlices);
constexpr std::size_t kMaxNameBytes = 4096;
// Distinct sets whose main packets are considered.
constexpr std::size_t kMaxSets = 8;
constexpr std::size_t kWindow = 1 << 20;

// A file read through one window of kWindow bytes, moved only by the scan:
// the packets it finds, their bodies and the magic after each come from one
// read where they lie within it, and a read elsewhere leaves it in place.
class Window {
  public:
    Window(FileLayer& layer, File& file, int64_t size)
        : m_layer(layer), m_file(file), m_size(size) {}

    // Makes [offset, offset + n) readable at `*data`, reading the window
    // again from `offset` unless it holds that range; `*available` bytes
    // from `offset` are (fewer at the end of the file).
    Status view(int64_t offset, std::size_t n, const char** data, std::size_t* available) {
        if (!holds(offset, n)) {
            if (m_bytes.empty()) m_bytes.resize(kWindow);
            m_filled = 0;
            const Status s = m_layer.readAt(m_file, offset, m_bytes.data(), kWindow, &m_filled);
            if (!s.ok()) return s;
            m_start = offset;
        }
        *data = m_bytes.data() + (offset - m_start);
        *available = std::size_t(m_start + int64_t(m_filled) - offset);
        return Status::OK();
    }
    // Reads [offset, offset + n) into `out`, from the window when it holds
    // the range; `*got` is short at the end of the file.
    Status readAt(int64_t offset, char* out, std::size_t n, std::size_t* got) {
        if (!holds(offset, n)) return m_layer.readAt(m_file, offset, out, n, got);
        const std::size_t available = std::size_t(m_start + int64_t(m_filled) - offset);
        *got = std::min(n, available);
        std::memcpy(out, m_bytes.data() + (offset - m_start), *got);
        return Status::OK();
    }
    int64_t size() const { return m_size; }

  private:
    // The window holds [offset, offset + n), or all of it the file has.
    bool holds(int64_t offset, std::size_t n) const {
        const int64_t end = m_start + int64_t(m_filled);
        return !m_bytes.empty() && offset >= m_start && offset <= end &&
               (offset + int64_t(n) <= end || end >= m_size);
    }

    FileLayer& m_layer;
    File& m_file;
    const int64_t m_size;
    std::vector<char> m_bytes;
    int64_t m_start = 0;
    std::size_t m_filled = 0;
};

// Calls `visit` for every packet header found in a file. `visit` returns
// the offset to go on from, or -1 when the header turned out not to start a
// packet, so that the search goes on from the next byte.
using PacketVisitor = std::function<int64_t(int64_t offset, const PacketHeader& header)>;

Status scanFile(Window& window, const PacketVisitor& visit) {
    const int64_t size = window.size();
    int64_t pos = 0;
    while (pos + int64_t(kPacketHeaderBytes) <= size) {
        const char* data = nullptr;
        std::size_t available = 0;
        const Status s = window.view(pos, kPacketHeaderBytes, &data, &available);
        if (!s.ok()) return s;
        if (available < kPacketHeaderBytes) break;
        const char* hit =
            static_cast<const char*>(::memmem(data, available, kPacketMagic, sizeof kPacketMagic));
        if (hit == nullptr) {
            if (pos + int64_t(available) >= size) break;
            pos += int64_t(available) - int64_t(sizeof kPacketMagic) + 1;
            continue;
        }
        const int64_t at = pos + (hit - data);
        if (hit + kPacketHeaderBytes > data + available) {
            pos = at;  // the window is read again from the header
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
bool endsWell(Window& window, int64_t offset, uint64_t length) {
    const int64_t after = offset + int64_t(length);
    if (after == window.size()) return true;
    char magic[sizeof kPacketMagic];
    std::size_t got = 0;
    return window.readAt(after, magic, sizeof magic, &got).ok() && got == sizeof magic &&
           std::memcmp(magic, kPacketMagic, sizeof magic) == 0;
}

// Reads a packet's body and checks the packet MD5. Only for lengths up to
// kMaxDescribingBytes.
bool readVerified(Window& window, int64_t offset, const PacketHeader& header,
                  std::vector<char>* body) {
    if (header.length > kMaxDescribingBytes) return false;
    body->resize(header.length - kPacketHeaderBytes);
    std::size_t got = 0;
    if (!window.readAt(offset + int64_t(kPacketHeaderBytes), body->data(), body->size(), &got)
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

// What one read keeps between its steps.
struct Par2Set::OpenedFile {
    std::string path;
    std::unique_ptr<File> file;
    int64_t size = 0;
    // Kept from one scan to the next.
    std::unique_ptr<Window> window;
    // The end of the furthest packet whose check failed: what lies before
    // it has been hashed once and is not hashed again.
    int64_t failedEnd = 0;
};

struct Par2Set::Reading {
    using Opened = OpenedFile;
    FileLayer& layer;
    std::vector<Opened> files;
    std::vector<std::pair<Md5Digest, MainPacket>> mains;
    std::map<Md5Digest, std::size_t> position;
    std::vector<bool> described;
    std::map<uint32_t, RecoverySliceRef> recovery;
    bool contradiction = false;
    std::vector<char> body;

    // Calls `visit` for each packet header of every file.
    Status scan(const std::function<int64_t(Opened&, int64_t, const PacketHeader&)>& visit) {
        for (Opened& o : files) {
            if (!o.window) o.window = std::make_unique<Window>(layer, *o.file, o.size);
            Status s = scanFile(*o.window,
                                [&](int64_t at, const PacketHeader& h) { return visit(o, at, h); });
            if (!s.ok()) return s;
        }
        return Status::OK();
    }
    // The offset after a packet whose body is not read: where it ends when
    // its length is believable, else -1.
    int64_t skip(Opened& o, int64_t at, const PacketHeader& h) {
        return endsWell(*o.window, at, h.length) ? at + int64_t(h.length) : -1;
    }
    // Reads and checks the packet at `at` into `body`, unless it starts
    // within one that failed its check.
    bool verify(Opened& o, int64_t at, const PacketHeader& h, uint64_t* hashed) {
        if (at < o.failedEnd) return false;
        if (h.length <= kMaxDescribingBytes) *hashed += h.length - kPacketHashedFrom;
        if (readVerified(*o.window, at, h, &body)) return true;
        o.failedEnd = at + int64_t(h.length);
        return false;
    }
};

Status Par2Set::read(FileLayer& layer, const std::string& folder, const std::string& prefix) {
    *this = Par2Set();
    Reading r{layer, {}, {}, {}, {}, {}, false, {}};
    Status s = openFiles(r, folder, prefix);
    if (!s.ok() || r.files.empty()) return s;
    s = readMainPackets(r);
    if (!s.ok() || !adoptFirstMain(r)) return s;
    s = readDescriptions(r);
    if (!s.ok() || !checkDescriptions(r)) return s;
    s = readChecksumsAndSlices(r);
    if (!s.ok()) return s;
    if (r.contradiction) {
        m_problem = "The recovery data contradicts itself";
        return Status::OK();
    }
    for (auto& entry : r.recovery) m_recovery.push_back(std::move(entry.second));
    m_problem.clear();
    return Status::OK();
}

Status Par2Set::openFiles(Reading& r, const std::string& folder, const std::string& prefix) {
    std::vector<std::string> names;
    Status s = r.layer.listFolder(folder, &names);
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
    for (const std::string& path : paths) {
        Reading::Opened o;
        o.path = path;
        s = r.layer.openRead(path, &o.file);
        if (s.ok()) s = r.layer.size(*o.file, &o.size);
        if (!s.ok()) return s;
        r.files.push_back(std::move(o));
    }
    return Status::OK();
}

Status Par2Set::readMainPackets(Reading& r) {
    return r.scan([&](Reading::Opened& o, int64_t at, const PacketHeader& h) -> int64_t {
        const int64_t next = at + int64_t(h.length);
        if (h.type != kMainPacket) return r.skip(o, at, h);
        if (!r.verify(o, at, h, &m_bytesHashed)) return -1;
        Md5Digest id{};
        MainPacket main;
        if (!md5Of(r.body.data(), r.body.size(), &id) || id != h.setId ||
            !parseMainBody(r.body.data(), r.body.size(), &main) ||
            main.recoveryIds.size() > std::size_t(kMaxInputSlices)) {
            return next;
        }
        const bool known = std::any_of(r.mains.begin(), r.mains.end(),
                                       [&](const auto& m) { return m.first == id; });
        if (!known && r.mains.size() < kMaxSets) r.mains.emplace_back(id, std::move(main));
        return next;
    });
}

bool Par2Set::adoptFirstMain(Reading& r) {
    if (r.mains.empty()) {
        m_problem = "The recovery data has no intact main packet";
        return false;
    }
    m_setId = r.mains.front().first;
    m_sliceSize = r.mains.front().second.sliceSize;
    const std::vector<Md5Digest>& ids = r.mains.front().second.recoveryIds;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        if (!r.position.emplace(ids[i], i).second) {
            m_problem = "The recovery data lists a file twice";
            return false;
        }
    }
    m_files.assign(ids.size(), Par2FileInfo());
    r.described.assign(ids.size(), false);
    return true;
}

Status Par2Set::readDescriptions(Reading& r) {
    return r.scan([&](Reading::Opened& o, int64_t at, const PacketHeader& h) -> int64_t {
        const int64_t next = at + int64_t(h.length);
        if (h.type == kRecoverySlicePacket || h.length > kMaxDescribingBytes) {
            return r.skip(o, at, h);
        }
        if (!r.verify(o, at, h, &m_bytesHashed)) return -1;
        const std::size_t* index = ownFile(r, h, kFileDescriptionPacket);
        if (index == nullptr) return next;
        Par2FileInfo info;
        if (r.body.size() > kFileDescriptionFixedBytes + kMaxNameBytes ||
            !parseFileDescriptionBody(r.body.data(), r.body.size(), &info)) {
            return next;
        }
        Par2FileInfo& file = m_files[*index];
        if (r.described[*index]) {
            if (!sameFile(file, info)) r.contradiction = true;
        } else {
            file = std::move(info);
            r.described[*index] = true;
        }
        return next;
    });
}

bool Par2Set::checkDescriptions(Reading& r) {
    uint64_t slices = 0;
    for (std::size_t i = 0; i < m_files.size(); ++i) {
        if (!r.described[i]) {
            m_problem = "The recovery data lacks the description of a file";
            return false;
        }
        slices += std::min<uint64_t>((m_files[i].length + m_sliceSize - 1) / m_sliceSize,
                                     uint64_t(kMaxInputSlices) + 1);
    }
    if (slices > uint64_t(kMaxInputSlices)) {
        m_problem = "The recovery data claims more slices than the format allows";
        return false;
    }
    return true;
}

const std::size_t* Par2Set::ownFile(const Reading& r, const PacketHeader& h,
                                    const PacketType& type) const {
    if (h.setId != m_setId || h.type != type || r.body.size() < 16) return nullptr;
    Md5Digest id{};
    std::memcpy(id.data(), r.body.data(), 16);
    const auto it = r.position.find(id);
    return it == r.position.end() ? nullptr : &it->second;
}

Status Par2Set::readChecksumsAndSlices(Reading& r) {
    return r.scan([&](Reading::Opened& o, int64_t at, const PacketHeader& h) -> int64_t {
        if (h.type == kRecoverySlicePacket) return takeRecoverySlice(r, o, at, h);
        const int64_t next = at + int64_t(h.length);
        if (h.length > kMaxDescribingBytes) return r.skip(o, at, h);
        if (!r.verify(o, at, h, &m_bytesHashed)) return -1;
        const std::size_t* index = ownFile(r, h, kSliceChecksumPacket);
        if (index == nullptr || !r.described[*index]) return next;
        Par2FileInfo& file = m_files[*index];
        const uint64_t slices = (file.length + m_sliceSize - 1) / m_sliceSize;
        const std::size_t entries = r.body.size() - kSliceChecksumIdBytes;
        if (entries / kSliceChecksumEntryBytes != slices ||
            entries % kSliceChecksumEntryBytes != 0) {
            return next;
        }
        Par2FileInfo copy = file;
        if (!parseSliceChecksumBody(r.body.data(), r.body.size(), &copy)) return next;
        if (!file.sliceHashes.empty() &&
            (file.sliceHashes != copy.sliceHashes || file.sliceCrcs != copy.sliceCrcs)) {
            r.contradiction = true;
        }
        file = std::move(copy);
        return next;
    });
}

int64_t Par2Set::takeRecoverySlice(Reading& r, OpenedFile& o, int64_t at, const PacketHeader& h) {
    if (h.setId != m_setId || h.length != kRecoveryDataOffset + m_sliceSize) {
        return r.skip(o, at, h);
    }
    if (r.skip(o, at, h) < 0) return -1;
    char exponentBytes[kRecoveryExponentBytes];
    std::size_t got = 0;
    if (!o.window
             ->readAt(at + int64_t(kPacketHeaderBytes), exponentBytes, sizeof exponentBytes, &got)
             .ok() ||
        got != sizeof exponentBytes) {
        return -1;
    }
    const int64_t next = at + int64_t(h.length);
    RecoverySliceRef ref{o.path, at, getLe32(exponentBytes), h.hash};
    if (ref.exponent >= kFieldOrder) return next;
    auto [it, added] = r.recovery.emplace(ref.exponent, ref);
    if (!added && it->second.packetHash != ref.packetHash) r.contradiction = true;
    return next;
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
    Window window(layer, *file, size);
    scanFile(window, [&](int64_t at, const PacketHeader& h) -> int64_t {
        const int64_t next = at + int64_t(h.length);
        if (found) return size;
        if (h.type != kFileDescriptionPacket) return endsWell(window, at, h.length) ? next : -1;
        Par2FileInfo info;
        if (!readVerified(window, at, h, &body) ||
            !parseFileDescriptionBody(body.data(), body.size(), &info)) {
            return -1;
        }
        found = chunkNumberOf(info.name, prefix, std::numeric_limits<int32_t>::max()) > 0;
        return next;
    });
    return found;
}

}  // namespace morvane

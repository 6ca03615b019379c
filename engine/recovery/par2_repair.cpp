#include "engine/recovery/par2_repair.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include "engine/file_layer.h"
#include "engine/recovery/galois_field16.h"
#include "engine/recovery/md5_stream.h"
#include "engine/recovery/par2_packets.h"
#include "engine/recovery/par2_set.h"
#include "engine/recovery/slice_checksums.h"

namespace morvane {

namespace {

constexpr std::size_t kAlign = GaloisField16::kRegionAlignment;
// Memory for the matrix and the stripes of all lost slices together.
constexpr uint64_t kMemoryBudget = 56 << 20;
constexpr uint64_t kMinStripe = 4096;
constexpr uint64_t kMaxStripe = 16 << 20;
// Present files kept open between stripes when there are at most this many.
constexpr std::size_t kKeptOpen = 256;

// A buffer whose first byte lies on a kAlign boundary.
class AlignedBuffer {
  public:
    bool allocate(FileLayer& layer, std::size_t bytes) {
        m_memory = layer.allocateBlock(bytes + kAlign);
        if (!m_memory) return false;
        const uintptr_t at = reinterpret_cast<uintptr_t>(m_memory.get());
        m_data = m_memory.get() + (kAlign - at % kAlign) % kAlign;
        return true;
    }
    char* data() const { return m_data; }

  private:
    std::unique_ptr<char[]> m_memory;
    char* m_data = nullptr;
};

struct InputSlice {
    std::size_t file = 0;
    uint64_t slice = 0;
    int32_t index = 0;
};

std::string joinNames(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

uint16_t constantPower(const GaloisField16& field, int32_t index, uint32_t exponent) {
    const uint64_t power = uint64_t{inputSliceExponent(index)} * exponent % kFieldOrder;
    return field.power(2, static_cast<uint32_t>(power));
}

bool stopped(const std::atomic<bool>* stop) {
    return stop && stop->load(std::memory_order_relaxed);
}

Status cancelled() {
    return Status::SysError(ECANCELED);
}

// Inverts the n x n matrix in `rows` (rows `stride` words apart) in place,
// Gauss-Jordan with row pivoting and the columns put back in order at the
// end; row operations are region multiplications. False when it is
// singular or when stopped (`*stop`).
bool invert(const GaloisField16& field, std::vector<uint16_t>& rows, std::size_t n,
            std::size_t stride, const std::atomic<bool>* stop, bool* wasStopped) {
    const std::size_t rowBytes = stride * 2;
    std::vector<std::size_t> swapped(n);
    std::vector<uint16_t> scaled(stride);
    const auto rowOf = [&](std::size_t r) {
        return reinterpret_cast<char*>(rows.data() + r * stride);
    };
    for (std::size_t c = 0; c < n; ++c) {
        if (stopped(stop)) {
            *wasStopped = true;
            return false;
        }
        std::size_t pivot = c;
        while (pivot < n && rows[pivot * stride + c] == 0) ++pivot;
        if (pivot == n) return false;
        swapped[c] = pivot;
        if (pivot != c) {
            std::swap_ranges(rows.begin() + pivot * stride, rows.begin() + (pivot + 1) * stride,
                             rows.begin() + c * stride);
        }
        const uint16_t scale = field.divide(1, rows[c * stride + c]);
        rows[c * stride + c] = 1;
        field.multiplyRegion(rowOf(c), reinterpret_cast<char*>(scaled.data()), scale, rowBytes,
                             false);
        std::copy(scaled.begin(), scaled.end(), rows.begin() + c * stride);
        for (std::size_t r = 0; r < n; ++r) {
            const uint16_t factor = rows[r * stride + c];
            if (r == c || factor == 0) continue;
            rows[r * stride + c] = 0;
            field.multiplyRegion(rowOf(c), rowOf(r), factor, rowBytes, true);
        }
    }
    for (std::size_t c = n; c-- > 0;) {
        if (swapped[c] == c) continue;
        for (std::size_t r = 0; r < n; ++r) {
            std::swap(rows[r * stride + c], rows[r * stride + swapped[c]]);
        }
    }
    return true;
}

class Rebuild {
  public:
    Rebuild(FileLayer& layer, const Par2Set& set, const std::string& folder,
            std::vector<std::string>* damaged, const std::atomic<bool>* stop,
            std::atomic<int64_t>* done)
        : m_layer(layer),
          m_set(set),
          m_folder(folder),
          m_damaged(damaged),
          m_stop(stop),
          m_done(done) {}

    // One attempt with the recovery slices `use`. `*bad` is set to the
    // position in `use` of a slice whose data failed its MD5.
    Status run(const std::vector<InputSlice>& lost, const std::vector<InputSlice>& present,
               const std::vector<std::size_t>& use, std::vector<std::unique_ptr<File>>& outputs,
               std::ptrdiff_t* bad);

  private:
    Status readPresent(const InputSlice& in, uint64_t at, std::size_t bytes, char* out,
                       std::vector<std::unique_ptr<File>>& open);

    // Notes `name` as damaged; the failure to return.
    Status damaged(const std::string& name);
    // Counts `bytes` more read or written.
    void count(uint64_t bytes) {
        if (m_done) m_done->fetch_add(int64_t(bytes), std::memory_order_relaxed);
    }

    FileLayer& m_layer;
    const Par2Set& m_set;
    const std::string& m_folder;
    std::vector<std::string>* m_damaged;
    const std::atomic<bool>* m_stop;
    std::atomic<int64_t>* m_done;
    GaloisField16 m_field;
};

Status Rebuild::damaged(const std::string& name) {
    if (m_damaged && std::find(m_damaged->begin(), m_damaged->end(), name) == m_damaged->end()) {
        m_damaged->push_back(name);
    }
    return Status::SysError(EIO, "File damaged: " + name);
}

Status Rebuild::readPresent(const InputSlice& in, uint64_t at, std::size_t bytes, char* out,
                            std::vector<std::unique_ptr<File>>& open) {
    const Par2FileInfo& info = m_set.files()[in.file];
    std::unique_ptr<File>& file = open[in.file];
    if (!file) {
        Status s = m_layer.openRead(m_folder + info.name, &file);
        if (!s.ok()) return s;
        int64_t size = 0;
        s = m_layer.size(*file, &size);
        if (!s.ok()) return s;
        if (uint64_t(size) != info.length) return damaged(info.name);
    }
    const uint64_t start = in.slice * m_set.sliceSize() + at;
    const uint64_t inFile =
        start >= info.length ? 0 : std::min<uint64_t>(bytes, info.length - start);
    std::size_t got = 0;
    if (inFile > 0) {
        Status s = m_layer.readAt(*file, int64_t(start), out, std::size_t(inFile), &got);
        if (!s.ok()) return s;
        if (got < inFile) return damaged(info.name);
        count(inFile);
    }
    std::memset(out + inFile, 0, bytes - inFile);
    return Status::OK();
}

Status Rebuild::run(const std::vector<InputSlice>& lost, const std::vector<InputSlice>& present,
                    const std::vector<std::size_t>& use,
                    std::vector<std::unique_ptr<File>>& outputs, std::ptrdiff_t* bad) {
    *bad = -1;
    if (!m_field.valid()) return Status::SysError(ENOMEM);
    const std::size_t n = lost.size();
    const std::vector<RecoverySliceRef>& recovery = m_set.recoverySlices();

    // recovery r = sum over inputs of constant^exponent(r) * input: the
    // lost part of that sum, as a matrix to invert.
    const std::size_t stride = (n + 7) / 8 * 8;
    std::vector<uint16_t> inverse(n * stride, 0);
    for (std::size_t r = 0; r < n; ++r) {
        for (std::size_t j = 0; j < n; ++j) {
            inverse[r * stride + j] =
                constantPower(m_field, lost[j].index, recovery[use[r]].exponent);
        }
    }
    bool wasStopped = false;
    if (!invert(m_field, inverse, n, stride, m_stop, &wasStopped)) {
        if (wasStopped) return cancelled();
        return Status::SysError(ENODATA, "The recovery slices cannot rebuild these files");
    }

    const uint64_t sliceSize = m_set.sliceSize();
    const uint64_t matrixBytes = inverse.size() * sizeof(uint16_t);
    const uint64_t stripeBudget = kMemoryBudget > matrixBytes ? kMemoryBudget - matrixBytes : 0;
    uint64_t stripe = std::clamp<uint64_t>(stripeBudget / (n + 2), kMinStripe, kMaxStripe);
    stripe = std::min(stripe / kAlign * kAlign, sliceSize);
    std::vector<AlignedBuffer> sums(n);
    AlignedBuffer input, output;
    for (AlignedBuffer& b : sums) {
        if (!b.allocate(m_layer, stripe)) return Status::SysError(ENOMEM);
    }
    if (!input.allocate(m_layer, stripe) || !output.allocate(m_layer, stripe)) {
        return Status::SysError(ENOMEM);
    }

    std::vector<std::unique_ptr<File>> recoveryFiles(n);
    std::vector<Md5Stream> recoveryHashes(n);
    for (std::size_t r = 0; r < n; ++r) {
        const RecoverySliceRef& ref = recovery[use[r]];
        Status s = m_layer.openRead(ref.path, &recoveryFiles[r]);
        if (!s.ok()) return s;
        char exponent[4];
        putLe32(exponent, ref.exponent);
        recoveryHashes[r].update(m_set.setId().data(), 16);
        recoveryHashes[r].update(kRecoverySlicePacket.data(), kRecoverySlicePacket.size());
        recoveryHashes[r].update(exponent, sizeof exponent);
    }
    std::vector<uint32_t> crcs(present.size(), 0);
    std::vector<std::unique_ptr<File>> open(m_set.files().size());

    for (uint64_t at = 0; at < sliceSize; at += stripe) {
        const std::size_t bytes = std::size_t(std::min(stripe, sliceSize - at));
        for (std::size_t r = 0; r < n; ++r) {
            const RecoverySliceRef& ref = recovery[use[r]];
            Status s = readExactAt(m_layer, *recoveryFiles[r],
                                   ref.packetOffset + int64_t(kRecoveryDataOffset + at),
                                   sums[r].data(), bytes);
            if (!s.ok()) return s;
            count(bytes);
            if (!ref.checked) recoveryHashes[r].update(sums[r].data(), bytes);
        }
        for (std::size_t i = 0; i < present.size(); ++i) {
            if (stopped(m_stop)) return cancelled();
            Status s = readPresent(present[i], at, bytes, input.data(), open);
            if (!s.ok()) return s;
            crcs[i] = crc32Of(crcs[i], input.data(), bytes);
            for (std::size_t r = 0; r < n; ++r) {
                const uint16_t c =
                    constantPower(m_field, present[i].index, recovery[use[r]].exponent);
                m_field.multiplyRegion(input.data(), sums[r].data(), c, bytes, true);
            }
            if (open.size() > kKeptOpen) open[present[i].file].reset();
        }
        for (std::size_t j = 0; j < n; ++j) {
            if (stopped(m_stop)) return cancelled();
            for (std::size_t r = 0; r < n; ++r) {
                m_field.multiplyRegion(sums[r].data(), output.data(), inverse[j * stride + r],
                                       bytes, r > 0);
            }
            const Par2FileInfo& info = m_set.files()[lost[j].file];
            const uint64_t start = lost[j].slice * sliceSize + at;
            if (start >= info.length) continue;
            const std::size_t keep = std::size_t(std::min<uint64_t>(bytes, info.length - start));
            // Piece by piece, so that a stop is seen between writes to a slow disk.
            for (std::size_t done = 0; done < keep; done += kPieceSize) {
                if (done > 0 && stopped(m_stop)) return cancelled();
                const std::size_t piece = std::min(kPieceSize, keep - done);
                Status s = m_layer.writeAt(*outputs[lost[j].file], int64_t(start + done),
                                           output.data() + done, piece);
                if (!s.ok()) return s;
                count(piece);
            }
        }
    }
    for (std::size_t r = 0; r < n; ++r) {
        if (recovery[use[r]].checked) continue;
        Md5Digest hash{};
        if (!recoveryHashes[r].finish(&hash))
            return Status::SysError(EIO, "MD5 computation failed");
        if (hash != recovery[use[r]].packetHash) {
            *bad = std::ptrdiff_t(r);
            return Status::SysError(EIO, "A recovery slice is damaged");
        }
    }
    Status s;
    for (std::size_t i = 0; i < present.size(); ++i) {
        const Par2FileInfo& info = m_set.files()[present[i].file];
        if (present[i].slice < info.sliceCrcs.size() &&
            crcs[i] != info.sliceCrcs[present[i].slice]) {
            s = damaged(info.name);
        }
    }
    return s;
}

// The inputs of `set` in slice order, split into those of `lostFiles` and the rest.
void splitSlices(const Par2Set& set, const std::set<std::size_t>& lostFiles,
                 std::vector<InputSlice>* lost, std::vector<InputSlice>* present) {
    int32_t index = 0;
    for (std::size_t f = 0; f < set.files().size(); ++f) {
        for (uint64_t s = 0; s < set.slicesOf(f); ++s) {
            (lostFiles.count(f) ? lost : present)->push_back(InputSlice{f, s, index++});
        }
    }
}

}  // namespace

bool canRebuild(const Par2Set& set, const std::vector<std::string>& lost, std::string* why) {
    if (!set.usable()) {
        *why = set.problem();
        return false;
    }
    uint64_t needed = 0;
    std::vector<std::string> unknown;
    for (const std::string& name : lost) {
        const int32_t f = set.fileIndex(name);
        if (f < 0) {
            unknown.push_back(name);
        } else {
            needed += set.slicesOf(std::size_t(f));
        }
    }
    if (!unknown.empty()) {
        *why = "The recovery data does not protect " + joinNames(unknown);
        return false;
    }
    const std::size_t have = set.recoverySlices().size();
    if (needed > kMaxLostSlices) {
        *why = "Missing or damaged: " + joinNames(lost) + " (" + std::to_string(needed) +
               " input slices); a rebuild of more than " + std::to_string(kMaxLostSlices) +
               " slices is refused";
        return false;
    }
    if (needed > have) {
        *why = "Missing or damaged: " + joinNames(lost) + " (" + std::to_string(needed) +
               " recovery slices needed); the recovery data holds " + std::to_string(have);
        return false;
    }
    why->clear();
    return true;
}

int64_t rebuildWork(const Par2Set& set, const std::vector<std::string>& lost) {
    std::set<std::size_t> lostFiles;
    for (const std::string& name : lost) {
        const int32_t f = set.fileIndex(name);
        if (f >= 0) lostFiles.insert(std::size_t(f));
    }
    uint64_t work = 0;
    for (std::size_t f = 0; f < set.files().size(); ++f) {
        const uint64_t length = set.files()[f].length;
        work += lostFiles.count(f) ? set.slicesOf(f) * set.sliceSize() + 2 * length : length;
    }
    return int64_t(work);
}

Status rebuildFiles(FileLayer& layer, const Par2Set& set, const std::string& folder,
                    const std::vector<std::string>& lost, const OutputOpener& openOutput,
                    std::vector<std::string>* damaged, const std::atomic<bool>* stop,
                    const ReadBackObserver& readBack, std::atomic<int64_t>* done) {
    std::string why;
    if (!canRebuild(set, lost, &why)) return Status::SysError(ENODATA, why);
    std::set<std::size_t> lostFiles;
    std::vector<std::unique_ptr<File>> outputs(set.files().size());
    for (const std::string& name : lost) {
        const std::size_t f = std::size_t(set.fileIndex(name));
        if (!lostFiles.insert(f).second) continue;
        Status s = openOutput(name, &outputs[f]);
        if (!s.ok()) return s;
    }
    std::vector<InputSlice> lostSlices, present;
    splitSlices(set, lostFiles, &lostSlices, &present);

    std::vector<std::size_t> usable(set.recoverySlices().size());
    for (std::size_t i = 0; i < usable.size(); ++i) usable[i] = i;
    Rebuild rebuild(layer, set, folder, damaged, stop, done);
    const int64_t passStart = done ? done->load() : 0;
    for (;;) {
        if (done) done->store(passStart);
        if (usable.size() < lostSlices.size()) {
            return Status::SysError(ENODATA, "Missing or damaged: " + joinNames(lost) + " (" +
                                                 std::to_string(lostSlices.size()) +
                                                 " recovery slices needed); too few intact "
                                                 "recovery slices: the recovery data holds " +
                                                 std::to_string(usable.size()) + " intact");
        }
        const std::vector<std::size_t> use(usable.begin(), usable.begin() + lostSlices.size());
        std::ptrdiff_t bad = -1;
        Status s = rebuild.run(lostSlices, present, use, outputs, &bad);
        if (s.ok()) break;
        if (bad < 0) return s;
        usable.erase(usable.begin() + bad);
    }

    // Every rebuilt file is read back and checked against its MD5.
    std::unique_ptr<char[]> buffer = layer.allocateBlock(1 << 20);
    if (!buffer) return Status::SysError(ENOMEM);
    for (std::size_t f : lostFiles) {
        const Par2FileInfo& info = set.files()[f];
        Md5Stream md5;
        for (uint64_t at = 0; at < info.length;) {
            if (stopped(stop)) return cancelled();
            const std::size_t n = std::size_t(std::min<uint64_t>(1 << 20, info.length - at));
            Status s = readExactAt(layer, *outputs[f], int64_t(at), buffer.get(), n);
            if (s.ok() && readBack) s = readBack(info.name, buffer.get(), n);
            if (!s.ok()) return s;
            md5.update(buffer.get(), n);
            at += n;
            if (done) done->fetch_add(int64_t(n), std::memory_order_relaxed);
        }
        if (readBack) {
            Status s = readBack(info.name, nullptr, 0);
            if (!s.ok()) return s;
        }
        Md5Digest hash{};
        if (!md5.finish(&hash) || hash != info.hash) {
            return Status::SysError(EIO, "Rebuilt file does not match its MD5: " + info.name);
        }
        Status s = layer.close(*outputs[f]);
        if (!s.ok()) return s;
    }
    return Status::OK();
}

}  // namespace morvane

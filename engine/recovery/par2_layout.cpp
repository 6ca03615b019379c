#include "engine/recovery/par2_layout.h"

#include <algorithm>

#include "engine/recovery/galois_field16.h"
#include "engine/recovery/par2_packets.h"

namespace morvane {

namespace {

std::string padded(uint64_t value, std::size_t digits) {
    std::string text = std::to_string(value);
    if (text.size() < digits) text.insert(0, digits - text.size(), '0');
    return text;
}

}  // namespace

std::string recoveryIndexName(const std::string& prefix) {
    return prefix + ".par2";
}

std::vector<RecoveryVolume> recoveryVolumes(const std::string& prefix, int32_t recoveryChunks) {
    std::vector<RecoveryVolume> volumes;
    uint32_t first = 0;
    uint32_t size = 1;
    const uint32_t total = recoveryChunks > 0 ? static_cast<uint32_t>(recoveryChunks) : 0;
    while (first < total) {
        RecoveryVolume volume;
        volume.firstExponent = first;
        volume.count = std::min(size, total - first);
        volumes.push_back(volume);
        first += volume.count;
        size *= 2;
    }
    uint32_t largestEnd = 0;
    uint32_t largestCount = 0;
    for (const RecoveryVolume& v : volumes) {
        largestEnd = std::max(largestEnd, v.firstExponent + v.count);
        largestCount = std::max(largestCount, v.count);
    }
    const std::size_t endDigits = std::to_string(largestEnd).size();
    const std::size_t countDigits = std::to_string(largestCount).size();
    for (RecoveryVolume& v : volumes) {
        v.name = prefix + ".vol" + padded(v.firstExponent, endDigits) + "+" +
                 padded(v.count, countDigits) + ".par2";
    }
    return volumes;
}

int32_t maxRecoveryChunks(int32_t numOfChunks) {
    if (numOfChunks < 1) return 0;
    const int64_t files = int64_t{numOfChunks} + 2;
    return files > kMaxInputSlices ? 0 : static_cast<int32_t>(files);
}

uint64_t sliceSizeFor(uint64_t largestFile) {
    const uint64_t size = (largestFile + 3) / 4 * 4;
    return size == 0 ? 4 : size;
}

uint32_t describingCopies(uint32_t count) {
    uint32_t copies = 1;
    while (count > 1) {
        count >>= 1;
        ++copies;
    }
    return copies;
}

VolumeLayout layoutVolume(uint32_t count, uint64_t sliceSize,
                          const std::vector<uint64_t>& describing, uint64_t creatorBytes) {
    VolumeLayout layout;
    const uint64_t copies = describingCopies(count);
    const uint64_t total = count + copies * describing.size();
    uint64_t offset = 0;
    uint32_t recovery = 0;
    std::size_t next = 0;
    for (uint64_t position = 0; position < total; ++position) {
        VolumeLayout::Entry entry;
        entry.offset = offset;
        // Recovery packet i goes to position floor(i * total / count).
        if (recovery < count && position == recovery * total / count) {
            entry.recovery = recovery++;
            offset += kRecoveryDataOffset + sliceSize;
        } else {
            entry.describing = static_cast<int32_t>(next);
            offset += describing[next];
            next = (next + 1) % describing.size();
        }
        layout.entries.push_back(entry);
    }
    layout.creatorOffset = offset;
    layout.totalBytes = offset + creatorBytes;
    return layout;
}

}  // namespace morvane

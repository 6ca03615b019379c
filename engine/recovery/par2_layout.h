#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace morvane {

// One file of recovery slices: its name and the exponents it holds,
// firstExponent .. firstExponent + count - 1.
struct RecoveryVolume {
    std::string name;
    uint32_t firstExponent = 0;
    uint32_t count = 0;
};

// "<prefix>.par2": the set's description, without recovery slices.
std::string recoveryIndexName(const std::string& prefix);

// The files that hold `recoveryChunks` slices: 1, 2, 4, 8, ... slices each
// (the last one holding what is left), named "<prefix>.volE+C.par2" with
// the first exponent E and the count C written with as many digits as the
// largest E + C and the largest C of the set need.
std::vector<RecoveryVolume> recoveryVolumes(const std::string& prefix, int32_t recoveryChunks);

// The most recovery chunks a set of `numOfChunks` chunks can have: one per
// file it protects (the chunks, the header and the checksum file), or 0
// when those files are more than the format's 32,768 input slices.
int32_t maxRecoveryChunks(int32_t numOfChunks);

// The slice size for files of at most `largestFile` bytes: the next
// multiple of 4, so that every file is exactly one slice.
uint64_t sliceSizeFor(uint64_t largestFile);

// Where the packets of one volume go. The volume holds `count` recovery
// slice packets spread evenly among `copies` copies of the description
// packets, whose sizes are `describing` in order, then a creator packet.
struct VolumeLayout {
    struct Entry {
        // Index into `describing`, or -1 for a recovery slice packet.
        int32_t describing = -1;
        // The recovery slice packet's index within the volume.
        uint32_t recovery = 0;
        uint64_t offset = 0;
    };
    std::vector<Entry> entries;
    uint64_t creatorOffset = 0;
    uint64_t totalBytes = 0;
};

// The copies of the description packets a volume of `count` recovery
// slices repeats: 1 + floor(log2(count)).
uint32_t describingCopies(uint32_t count);

VolumeLayout layoutVolume(uint32_t count, uint64_t sliceSize,
                          const std::vector<uint64_t>& describing, uint64_t creatorBytes);

}  // namespace morvane

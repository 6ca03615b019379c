#pragma once

#include <cstddef>
#include <cstdint>

namespace morvane {

// A file's "16 KiB hash" covers this many of its first bytes (all of a
// shorter file).
constexpr std::size_t kHashedHeadBytes = 16384;

// The CRC-32 (as zlib's crc32 computes it) of `crc`'s bytes followed by
// data[0, n): start from 0. ISA-L's folding with the processor's carry-less
// multiply does the work.
uint32_t crc32Of(uint32_t crc, const char* data, std::size_t n);

// The CRC-32 of a slice whose first `length` bytes have the CRC-32 `crc`
// and whose remaining bytes up to `sliceSize` are zero.
uint32_t paddedCrc(uint32_t crc, uint64_t length, uint64_t sliceSize);

}  // namespace morvane

#pragma once

#include <cstddef>
#include <cstdint>

namespace morvane {

// A file's "16 KiB hash" covers this many of its first bytes (all of a
// shorter file).
constexpr std::size_t kHashedHeadBytes = 16384;

// The CRC-32 of a slice whose first `length` bytes have the CRC-32 `crc`
// and whose remaining bytes up to `sliceSize` are zero.
uint32_t paddedCrc(uint32_t crc, uint64_t length, uint64_t sliceSize);

}  // namespace morvane

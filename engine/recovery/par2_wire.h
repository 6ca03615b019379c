#pragma once

#include <cstddef>
#include <cstdint>

namespace morvane {

// The fixed numbers of the recovery files' format, in one place.

// Every packet starts with these eight bytes.
constexpr char kPacketMagic[8] = {'P', 'A', 'R', '2', '\0', 'P', 'K', 'T'};

// Every packet starts with this header: magic, length of the whole packet
// (a multiple of 4), MD5 of everything from the set ID to the packet's end,
// the recovery set ID and the packet type. Numbers are little-endian.
constexpr std::size_t kPacketHeaderBytes = 64;
// The part of the header that the packet MD5 covers starts here.
constexpr std::size_t kPacketHashedFrom = 32;

// A recovery slice packet's body: the 4-byte exponent, then the slice.
constexpr std::size_t kRecoveryExponentBytes = 4;
constexpr std::size_t kRecoveryDataOffset = kPacketHeaderBytes + kRecoveryExponentBytes;

// A main packet's body before its file IDs: slice size and file count.
constexpr std::size_t kMainFixedBytes = 12;
// A file description body before the name: ID, MD5, 16 KiB MD5, length.
constexpr std::size_t kFileDescriptionFixedBytes = 56;
// A slice checksum body: the file ID, then MD5 and CRC-32 per slice.
constexpr std::size_t kSliceChecksumIdBytes = 16;
constexpr std::size_t kSliceChecksumEntryBytes = 20;

// The order of the multiplicative group of GF(2^16): exponents are taken
// modulo this, and a recovery exponent must lie below it.
constexpr uint32_t kFieldOrder = 65535;

// Number of input slices a set may have: one constant exists for each.
constexpr int32_t kMaxInputSlices = 32768;

}  // namespace morvane

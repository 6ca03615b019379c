#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/recovery/md5_stream.h"
#include "engine/recovery/par2_wire.h"

namespace morvane {

using PacketType = std::array<char, 16>;
extern const PacketType kMainPacket;
extern const PacketType kFileDescriptionPacket;
extern const PacketType kSliceChecksumPacket;
extern const PacketType kRecoverySlicePacket;
extern const PacketType kCreatorPacket;

struct PacketHeader {
    uint64_t length = 0;
    Md5Digest hash{};
    Md5Digest setId{};
    PacketType type{};
};

// Reads a header from `data` (kPacketHeaderBytes bytes). False when the
// magic is wrong or the length is below the header's or not a multiple of 4.
bool parsePacketHeader(const char* data, PacketHeader* out);

// A whole packet: header (with its MD5) followed by `body`, whose size must
// be a multiple of 4.
std::vector<char> makePacket(const PacketType& type, const Md5Digest& setId,
                             const std::vector<char>& body);

// The first kPacketHeaderBytes of a packet whose body is `bodyBytes` long
// and whose MD5 is `hash` (computed by the caller over the set ID, the type
// and the body).
std::vector<char> makePacketHeader(const PacketType& type, const Md5Digest& setId,
                                   uint64_t bodyBytes, const Md5Digest& hash);

// One input file as its file description and slice checksum packets tell it.
struct Par2FileInfo {
    Md5Digest id{};
    Md5Digest hash{};
    Md5Digest hash16k{};
    uint64_t length = 0;
    std::string name;
    // MD5 and CRC-32 of each slice, zero-padded to the slice size.
    std::vector<Md5Digest> sliceHashes;
    std::vector<uint32_t> sliceCrcs;
};

// The File ID: MD5 of the 16 KiB hash, the length and the name.
Md5Digest fileIdOf(const Md5Digest& hash16k, uint64_t length, const std::string& name);

// The File IDs compared as 16-byte little-endian numbers, the order the
// main packet lists them in.
bool fileIdLess(const Md5Digest& a, const Md5Digest& b);

std::vector<char> mainPacketBody(uint64_t sliceSize, const std::vector<Md5Digest>& sortedIds);
std::vector<char> fileDescriptionBody(const Par2FileInfo& file);
std::vector<char> sliceChecksumBody(const Par2FileInfo& file);
std::vector<char> creatorBody(const std::string& creator);

// Body readers. Each returns false for a body that is not well formed; none
// allocates more than the body's own size.
struct MainPacket {
    uint64_t sliceSize = 0;
    std::vector<Md5Digest> recoveryIds;
};
bool parseMainBody(const char* body, std::size_t n, MainPacket* out);
bool parseFileDescriptionBody(const char* body, std::size_t n, Par2FileInfo* out);
// Fills the slice hashes of `file`, whose ID must match the packet's.
bool parseSliceChecksumBody(const char* body, std::size_t n, Par2FileInfo* file);

void putLe64(char* out, uint64_t value);
void putLe32(char* out, uint32_t value);
uint64_t getLe64(const char* in);
uint32_t getLe32(const char* in);

}  // namespace morvane

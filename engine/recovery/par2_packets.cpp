#include "engine/recovery/par2_packets.h"

#include <algorithm>
#include <cstring>

namespace morvane {

namespace {

PacketType typeOf(const char (&text)[17]) {
    PacketType type{};
    std::memcpy(type.data(), text, type.size());
    return type;
}

void append(std::vector<char>* out, const void* data, std::size_t n) {
    const char* bytes = static_cast<const char*>(data);
    out->insert(out->end(), bytes, bytes + n);
}

void appendLe64(std::vector<char>* out, uint64_t value) {
    char bytes[8];
    putLe64(bytes, value);
    append(out, bytes, sizeof bytes);
}

void padTo4(std::vector<char>* out) {
    while (out->size() % 4 != 0) out->push_back('\0');
}

}  // namespace

const PacketType kMainPacket = typeOf("PAR 2.0\0Main\0\0\0\0");
const PacketType kFileDescriptionPacket = typeOf("PAR 2.0\0FileDesc");
const PacketType kSliceChecksumPacket = typeOf("PAR 2.0\0IFSC\0\0\0\0");
const PacketType kRecoverySlicePacket = typeOf("PAR 2.0\0RecvSlic");
const PacketType kCreatorPacket = typeOf("PAR 2.0\0Creator\0");

void putLe64(char* out, uint64_t value) {
    for (int i = 0; i < 8; ++i) out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

void putLe32(char* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

uint64_t getLe64(const char* in) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(in[i]);
    return value;
}

uint32_t getLe32(const char* in) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(in[i]);
    return value;
}

bool parsePacketHeader(const char* data, PacketHeader* out) {
    if (std::memcmp(data, kPacketMagic, sizeof kPacketMagic) != 0) return false;
    out->length = getLe64(data + 8);
    if (out->length < kPacketHeaderBytes || out->length % 4 != 0) return false;
    std::memcpy(out->hash.data(), data + 16, 16);
    std::memcpy(out->setId.data(), data + 32, 16);
    std::memcpy(out->type.data(), data + 48, 16);
    return true;
}

std::vector<char> makePacketHeader(const PacketType& type, const Md5Digest& setId,
                                   uint64_t bodyBytes, const Md5Digest& hash) {
    std::vector<char> header(kPacketHeaderBytes);
    std::memcpy(header.data(), kPacketMagic, sizeof kPacketMagic);
    putLe64(header.data() + 8, kPacketHeaderBytes + bodyBytes);
    std::memcpy(header.data() + 16, hash.data(), 16);
    std::memcpy(header.data() + 32, setId.data(), 16);
    std::memcpy(header.data() + 48, type.data(), 16);
    return header;
}

std::vector<char> makePacket(const PacketType& type, const Md5Digest& setId,
                             const std::vector<char>& body) {
    Md5Stream md5;
    md5.update(setId.data(), setId.size());
    md5.update(type.data(), type.size());
    md5.update(body.data(), body.size());
    Md5Digest hash{};
    md5.finish(&hash);
    std::vector<char> packet = makePacketHeader(type, setId, body.size(), hash);
    packet.insert(packet.end(), body.begin(), body.end());
    return packet;
}

Md5Digest fileIdOf(const Md5Digest& hash16k, uint64_t length, const std::string& name) {
    std::vector<char> text;
    append(&text, hash16k.data(), hash16k.size());
    appendLe64(&text, length);
    append(&text, name.data(), name.size());
    Md5Digest id{};
    md5Of(text.data(), text.size(), &id);
    return id;
}

bool fileIdLess(const Md5Digest& a, const Md5Digest& b) {
    for (int i = 15; i >= 0; --i) {
        if (a[i] != b[i]) return a[i] < b[i];
    }
    return false;
}

std::vector<char> mainPacketBody(uint64_t sliceSize, const std::vector<Md5Digest>& sortedIds) {
    std::vector<char> body;
    appendLe64(&body, sliceSize);
    char count[4];
    putLe32(count, static_cast<uint32_t>(sortedIds.size()));
    append(&body, count, sizeof count);
    for (const Md5Digest& id : sortedIds) append(&body, id.data(), id.size());
    return body;
}

std::vector<char> fileDescriptionBody(const Par2FileInfo& file) {
    std::vector<char> body;
    append(&body, file.id.data(), 16);
    append(&body, file.hash.data(), 16);
    append(&body, file.hash16k.data(), 16);
    appendLe64(&body, file.length);
    append(&body, file.name.data(), file.name.size());
    padTo4(&body);
    return body;
}

std::vector<char> sliceChecksumBody(const Par2FileInfo& file) {
    std::vector<char> body;
    append(&body, file.id.data(), 16);
    for (std::size_t i = 0; i < file.sliceHashes.size(); ++i) {
        append(&body, file.sliceHashes[i].data(), 16);
        char crc[4];
        putLe32(crc, file.sliceCrcs[i]);
        append(&body, crc, sizeof crc);
    }
    return body;
}

std::vector<char> creatorBody(const std::string& creator) {
    std::vector<char> body(creator.begin(), creator.end());
    padTo4(&body);
    return body;
}

bool parseMainBody(const char* body, std::size_t n, MainPacket* out) {
    if (n < 12 || (n - 12) % 16 != 0) return false;
    out->sliceSize = getLe64(body);
    const uint32_t count = getLe32(body + 8);
    if (out->sliceSize == 0 || out->sliceSize % 4 != 0) return false;
    if (count == 0 || count > (n - 12) / 16) return false;
    out->recoveryIds.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
        std::memcpy(out->recoveryIds[i].data(), body + kMainFixedBytes + 16 * std::size_t{i}, 16);
    }
    return true;
}

bool parseFileDescriptionBody(const char* body, std::size_t n, Par2FileInfo* out) {
    if (n < kFileDescriptionFixedBytes) return false;
    std::memcpy(out->id.data(), body, 16);
    std::memcpy(out->hash.data(), body + 16, 16);
    std::memcpy(out->hash16k.data(), body + 32, 16);
    out->length = getLe64(body + 48);
    // The name is padded with zero bytes to a multiple of 4.
    std::size_t nameBytes = n - kFileDescriptionFixedBytes;
    while (nameBytes > 0 && body[kFileDescriptionFixedBytes + nameBytes - 1] == '\0') --nameBytes;
    out->name.assign(body + kFileDescriptionFixedBytes, nameBytes);
    return fileIdOf(out->hash16k, out->length, out->name) == out->id;
}

bool parseSliceChecksumBody(const char* body, std::size_t n, Par2FileInfo* file) {
    if (n < kSliceChecksumIdBytes || (n - kSliceChecksumIdBytes) % kSliceChecksumEntryBytes != 0)
        return false;
    if (std::memcmp(body, file->id.data(), 16) != 0) return false;
    const std::size_t slices = (n - kSliceChecksumIdBytes) / kSliceChecksumEntryBytes;
    file->sliceHashes.resize(slices);
    file->sliceCrcs.resize(slices);
    for (std::size_t i = 0; i < slices; ++i) {
        const char* pair = body + kSliceChecksumIdBytes + kSliceChecksumEntryBytes * i;
        std::memcpy(file->sliceHashes[i].data(), pair, 16);
        file->sliceCrcs[i] = getLe32(pair + 16);
    }
    return true;
}

}  // namespace morvane

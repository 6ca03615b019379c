#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace morvane {

// The record of a division header file: 2-byte name length, the name's
// bytes, then three little-endian int32 fields. No magic, no padding.
struct DivisionHeader {
    std::string BigFileName;  // UTF-8
    int32_t AvgChunkSize = 0;
    int32_t LastChunkSize = 0;
    int32_t NumOfChunks = 0;

    // Name not empty, every size and the count at least 1, last chunk not
    // above the average one.
    bool isValid() const;
    // (NumOfChunks - 1) * AvgChunkSize + LastChunkSize, without overflow.
    int64_t bigFileSize() const;
};

// Bytes of the fixed part of the record beside the name.
constexpr std::size_t kHeaderFixedBytes = 14;
// Longest name the length field can describe.
constexpr std::size_t kMaxHeaderNameBytes = 65535;

// The on-disk bytes of `header`. The name is stored as its own bytes.
// Returns false when the name is longer than kMaxHeaderNameBytes.
bool encodeHeader(const DivisionHeader& header, std::vector<char>* out);

// Reads a record from the first bytes of `data`. Bytes missing at the end
// read as zero. A name that is not valid UTF-8 is decoded from Windows-1252.
DivisionHeader decodeHeader(const std::vector<char>& data);

// Total bytes of the record whose first two bytes are `lengthBytes`.
std::size_t headerRecordSize(const unsigned char lengthBytes[2]);

// `text` as it is when it is valid UTF-8, otherwise decoded from Windows-1252.
std::string decodeStoredName(const std::string& bytes);

// "<prefix>.hed"
std::string headerFileName(const std::string& prefix);
// "<prefix>_<k>.div", k in plain decimal.
std::string chunkFileName(const std::string& prefix, int64_t k);
// "<prefix>.sha256": the chunks' checksums, in the format of sha256sum.
std::string checksumFileName(const std::string& prefix);
// The chunk number `name` stands for, or 0 when it is no chunk file name of
// `prefix` numbered 1..numOfChunks (plain decimal, no leading zero).
int64_t chunkNumberOf(const std::string& name, const std::string& prefix, int32_t numOfChunks);

}  // namespace morvane

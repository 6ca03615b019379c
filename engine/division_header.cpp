#include "engine/division_header.h"

#include <algorithm>

namespace morvane {

namespace {

void putInt32(std::vector<char>* out, int32_t value) {
    const uint32_t bits = static_cast<uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8) {
        out->push_back(static_cast<char>((bits >> shift) & 0xFF));
    }
}

int32_t getInt32(const std::vector<char>& data, std::size_t offset) {
    uint32_t bits = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t at = offset + i;
        const uint32_t byte = at < data.size() ? static_cast<unsigned char>(data[at]) : 0;
        bits |= byte << (8 * i);
    }
    return static_cast<int32_t>(bits);
}

bool isValidUtf8(const std::string& text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        uint32_t min = 0;
        uint32_t code = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1, min = 0x80, code = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2, min = 0x800, code = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3, min = 0x10000, code = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= n) return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3F);
        }
        if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

void appendUtf8(std::string* out, uint32_t code) {
    if (code < 0x80) {
        out->push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (code >> 6)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xE0 | (code >> 12)));
        out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

// Windows-1252 bytes 0x80..0x9F; the five bytes the code page leaves
// undefined map to the C1 control of the same value.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

bool DivisionHeader::isValid() const {
    return !BigFileName.empty() && AvgChunkSize >= 1 && LastChunkSize >= 1 && NumOfChunks >= 1 &&
           LastChunkSize <= AvgChunkSize;
}

int64_t DivisionHeader::bigFileSize() const {
    return (int64_t{NumOfChunks} - 1) * AvgChunkSize + LastChunkSize;
}

bool encodeHeader(const DivisionHeader& header, std::vector<char>* out) {
    const std::string& name = header.BigFileName;
    if (name.size() > kMaxHeaderNameBytes) return false;
    out->clear();
    out->reserve(kHeaderFixedBytes + name.size());
    out->push_back(static_cast<char>(name.size() & 0xFF));
    out->push_back(static_cast<char>((name.size() >> 8) & 0xFF));
    out->insert(out->end(), name.begin(), name.end());
    putInt32(out, header.AvgChunkSize);
    putInt32(out, header.LastChunkSize);
    putInt32(out, header.NumOfChunks);
    return true;
}

std::size_t headerRecordSize(const unsigned char lengthBytes[2]) {
    return kHeaderFixedBytes + (std::size_t{lengthBytes[0]} | (std::size_t{lengthBytes[1]} << 8));
}

DivisionHeader decodeHeader(const std::vector<char>& data) {
    DivisionHeader header;
    unsigned char lengthBytes[2] = {0, 0};
    for (std::size_t i = 0; i < 2 && i < data.size(); ++i) {
        lengthBytes[i] = static_cast<unsigned char>(data[i]);
    }
    const std::size_t nameBytes = headerRecordSize(lengthBytes) - kHeaderFixedBytes;
    // A name cut short by the end of the file keeps what is there; the
    // integers after it are then missing and read as zero.
    const std::size_t present = data.size() > 2 ? std::min(nameBytes, data.size() - 2) : 0;
    const std::string name = present > 0 ? std::string(data.data() + 2, present) : std::string();
    header.BigFileName = decodeStoredName(name);
    header.AvgChunkSize = getInt32(data, 2 + nameBytes);
    header.LastChunkSize = getInt32(data, 6 + nameBytes);
    header.NumOfChunks = getInt32(data, 10 + nameBytes);
    return header;
}

std::string decodeStoredName(const std::string& bytes) {
    if (isValidUtf8(bytes)) return bytes;
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const char ch : bytes) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c >= 0x80 && c < 0xA0) {
            appendUtf8(&text, kCp1252High[c - 0x80]);
        } else {
            appendUtf8(&text, c);
        }
    }
    return text;
}

std::string headerFileName(const std::string& prefix) {
    return prefix + ".hed";
}

std::string chunkFileName(const std::string& prefix, int64_t k) {
    return prefix + "_" + std::to_string(k) + ".div";
}

std::string checksumFileName(const std::string& prefix) {
    return prefix + ".sha256";
}

int64_t chunkNumberOf(const std::string& name, const std::string& prefix, int32_t numOfChunks) {
    const std::size_t head = prefix.size() + 1;
    static const std::string tail = ".div";
    if (name.size() <= head + tail.size()) return 0;
    if (name.compare(0, prefix.size(), prefix) != 0 || name[prefix.size()] != '_') return 0;
    if (name.compare(name.size() - tail.size(), tail.size(), tail) != 0) return 0;
    const std::size_t digits = name.size() - head - tail.size();
    if (digits > 10 || name[head] == '0') return 0;
    int64_t k = 0;
    for (std::size_t i = head; i < head + digits; ++i) {
        const char c = name[i];
        if (c < '0' || c > '9') return 0;
        k = k * 10 + (c - '0');
    }
    return k <= numOfChunks ? k : 0;
}

}  // namespace morvane

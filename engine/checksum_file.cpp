#include "engine/checksum_file.h"

#include <cstring>
#include <limits>
#include <memory>

#include "engine/division_header.h"
#include "engine/file_layer.h"

namespace morvane {

namespace {

constexpr char kHex[] = "0123456789abcdef";
constexpr std::size_t kHexDigits = 64;
// Longer lines are refused without being gathered: a name holds at most
// a few thousand bytes, even escaped.
constexpr std::size_t kMaxLine = 64 * 1024;

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool parseDigest(const char* hex, Sha256Digest* digest) {
    for (std::size_t i = 0; i < digest->size(); ++i) {
        const int high = hexValue(hex[2 * i]);
        const int low = hexValue(hex[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        (*digest)[i] = static_cast<unsigned char>(high << 4 | low);
    }
    return true;
}

// Undoes sha256sum's escapes. False for a backslash that starts none.
bool unescapeName(const char* text, std::size_t n, std::string* name) {
    name->clear();
    for (std::size_t i = 0; i < n; ++i) {
        if (text[i] != '\\') {
            *name += text[i];
            continue;
        }
        if (++i == n) return false;
        switch (text[i]) {
            case '\\':
                *name += '\\';
                break;
            case 'n':
                *name += '\n';
                break;
            case 'r':
                *name += '\r';
                break;
            default:
                return false;
        }
    }
    return true;
}

}  // namespace

bool namesAChunk(const std::string& bigFileName, const std::string& prefix, int32_t numOfChunks) {
    return chunkNumberOf(bigFileName, prefix, numOfChunks) > 0;
}

std::string checksumLine(const Sha256Digest& digest, const std::string& name) {
    const bool escaped = name.find_first_of("\\\n\r") != std::string::npos;
    std::string line;
    line.reserve(kHexDigits + name.size() + 4);
    if (escaped) line += '\\';
    for (const unsigned char byte : digest) {
        line += kHex[byte >> 4];
        line += kHex[byte & 15];
    }
    line += "  ";
    for (const char c : name) {
        if (!escaped) {
            line += c;
        } else if (c == '\\') {
            line += "\\\\";
        } else if (c == '\n') {
            line += "\\n";
        } else if (c == '\r') {
            line += "\\r";
        } else {
            line += c;
        }
    }
    line += '\n';
    return line;
}

int64_t checksumFileSize(const std::string& prefix, int32_t numOfChunks,
                         const std::string& bigFileName) {
    const Sha256Digest none{};
    // Chunk names differ only in their number: lines of one digit count
    // share a length.
    int64_t total = namesAChunk(bigFileName, prefix, numOfChunks)
                        ? 0
                        : static_cast<int64_t>(checksumLine(none, bigFileName).size());
    for (int64_t from = 1; from <= numOfChunks; from *= 10) {
        const int64_t to = std::min<int64_t>(from * 10 - 1, numOfChunks);
        total += (to - from + 1) *
                 static_cast<int64_t>(checksumLine(none, chunkFileName(prefix, from)).size());
    }
    return total;
}

Status writeChecksumFile(FileLayer& layer, File& file, const std::string& prefix,
                         int32_t numOfChunks, const std::string& bigFileName,
                         const std::function<Status(Sha256Digest*)>& nextChunk,
                         const std::function<Status(Sha256Digest*)>& whole, std::string* copy) {
    std::string text;
    Sha256Digest digest;
    Status s;
    for (int32_t n = 1; s.ok() && n <= numOfChunks; ++n) {
        s = nextChunk(&digest);
        if (s.ok()) text += checksumLine(digest, chunkFileName(prefix, n));
        if (s.ok() && text.size() >= kPieceSize) {
            s = layer.write(file, text.data(), text.size());
            if (copy) *copy += text;
            text.clear();
        }
    }
    if (s.ok()) s = whole(&digest);
    if (s.ok() && !namesAChunk(bigFileName, prefix, numOfChunks)) {
        text += checksumLine(digest, bigFileName);
    }
    if (s.ok()) s = layer.write(file, text.data(), text.size());
    if (copy) *copy += text;
    return s;
}

Status readChecksumFile(FileLayer& layer, const std::string& path, ChecksumFileReader& reader,
                        ChecksumList* list, bool* valid) {
    std::vector<char> piece(kPieceSize);
    std::unique_ptr<File> file;
    std::size_t got = piece.size();
    *valid = true;
    Status s = layer.openRead(path, &file);
    while (s.ok() && *valid && got == piece.size()) {
        s = layer.read(*file, piece.data(), piece.size(), &got);
        if (s.ok()) *valid = reader.feed(piece.data(), got);
    }
    if (s.ok()) s = layer.close(*file);
    if (s.ok() && *valid) *valid = reader.finish(list);
    return s;
}

bool ChecksumFileReader::feed(const char* data, std::size_t n) {
    const char* end = data + n;
    while (m_valid && data < end) {
        const char* lf = static_cast<const char*>(std::memchr(data, '\n', end - data));
        const std::size_t piece = (lf ? lf : end) - data;
        if (m_partial.size() + piece > kMaxLine) {
            m_valid = false;
        } else if (!lf) {
            m_partial.append(data, piece);
        } else if (m_partial.empty()) {
            m_valid = takeLine(data, piece);
        } else {
            m_partial.append(data, piece);
            m_valid = takeLine(m_partial.data(), m_partial.size());
            m_partial.clear();
        }
        data += lf ? piece + 1 : piece;
    }
    return m_valid;
}

bool ChecksumFileReader::finish(ChecksumList* list) {
    // The last line may lack its line feed.
    if (m_valid && !m_partial.empty()) {
        m_valid = takeLine(m_partial.data(), m_partial.size());
        m_partial.clear();
    }
    if (!m_valid || m_found.size() != static_cast<std::size_t>(m_numOfChunks)) return false;
    list->chunks.assign(m_found.size(), Sha256Digest{});
    for (const auto& [k, digest] : m_found) list->chunks[k - 1] = digest;
    list->hasWhole = m_hasWhole;
    list->whole = m_whole;
    return true;
}

bool ChecksumFileReader::takeLine(const char* line, std::size_t n) {
    if (n > 0 && line[n - 1] == '\r') --n;
    // Blank lines and comments, which sha256sum -c passes over.
    if (n == 0 || line[0] == '#') return true;
    const bool escaped = n > 0 && line[0] == '\\';
    if (escaped) {
        ++line;
        --n;
    }
    Sha256Digest digest;
    const char* text = nullptr;
    std::size_t length = 0;
    static constexpr char kTag[] = "SHA256 (";
    static constexpr char kTagEnd[] = ") = ";
    constexpr std::size_t kTagBytes = sizeof kTag - 1;
    constexpr std::size_t kTagEndBytes = sizeof kTagEnd - 1;
    if (n >= kTagBytes + kTagEndBytes + kHexDigits && std::memcmp(line, kTag, kTagBytes) == 0) {
        const char* end = line + n - kHexDigits - kTagEndBytes;
        if (std::memcmp(end, kTagEnd, kTagEndBytes) != 0) return false;
        if (!parseDigest(line + n - kHexDigits, &digest)) return false;
        text = line + kTagBytes;
        length = static_cast<std::size_t>(end - text);
    } else {
        if (n < kHexDigits + 3 || line[kHexDigits] != ' ' ||
            (line[kHexDigits + 1] != ' ' && line[kHexDigits + 1] != '*')) {
            return false;
        }
        if (!parseDigest(line, &digest)) return false;
        text = line + kHexDigits + 2;
        length = n - kHexDigits - 2;
    }
    if (std::memchr(text, '\0', length)) return false;
    std::string name;
    if (escaped) {
        if (!unescapeName(text, length, &name)) return false;
    } else {
        name.assign(text, length);
    }
    return keep(name, digest);
}

bool ChecksumFileReader::keep(const std::string& name, const Sha256Digest& digest) {
    if (name == m_bigFileName && !namesAChunk(m_bigFileName, m_prefix, m_numOfChunks)) {
        if (m_hasWhole && m_whole != digest) return false;
        m_hasWhole = true;
        m_whole = digest;
        return true;
    }
    const int64_t k = chunkNumberOf(name, m_prefix, std::numeric_limits<int32_t>::max());
    if (k == 0) return true;
    if (k > m_numOfChunks) return false;
    const auto [at, added] = m_found.emplace(static_cast<int32_t>(k), digest);
    return added || at->second == digest;
}

}  // namespace morvane

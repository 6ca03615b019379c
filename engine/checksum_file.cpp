#include "engine/checksum_file.h"

#include <cstring>

#include "engine/division_header.h"

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
    return -1;
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

bool ChecksumFileReader::finish(std::vector<Sha256Digest>* digests) {
    // The last line may lack its line feed.
    if (m_valid && !m_partial.empty()) {
        m_valid = takeLine(m_partial.data(), m_partial.size());
        m_partial.clear();
    }
    if (!m_valid || m_found.size() != static_cast<std::size_t>(m_numOfChunks)) return false;
    digests->assign(m_found.size(), Sha256Digest{});
    for (const auto& [k, digest] : m_found) (*digests)[k - 1] = digest;
    return true;
}

bool ChecksumFileReader::takeLine(const char* line, std::size_t n) {
    if (n > 0 && line[n - 1] == '\r') --n;
    const bool escaped = n > 0 && line[0] == '\\';
    if (escaped) {
        ++line;
        --n;
    }
    if (n < kHexDigits + 3 || line[kHexDigits] != ' ' ||
        (line[kHexDigits + 1] != ' ' && line[kHexDigits + 1] != '*')) {
        return false;
    }
    Sha256Digest digest;
    for (std::size_t i = 0; i < digest.size(); ++i) {
        const int high = hexValue(line[2 * i]);
        const int low = hexValue(line[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        digest[i] = static_cast<unsigned char>(high << 4 | low);
    }
    const char* text = line + kHexDigits + 2;
    const std::size_t length = n - kHexDigits - 2;
    if (std::memchr(text, '\0', length)) return false;
    std::string name;
    if (escaped) {
        if (!unescapeName(text, length, &name)) return false;
    } else {
        name.assign(text, length);
    }
    const int64_t k = chunkNumberOf(name, m_prefix, m_numOfChunks);
    if (k == 0) return true;
    const auto [at, added] = m_found.emplace(static_cast<int32_t>(k), digest);
    return added || at->second == digest;
}

}  // namespace morvane

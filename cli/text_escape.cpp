#include "cli/text_escape.h"

#include <cstdint>
#include <cstdio>

namespace morvane {

namespace {

// The length of the valid UTF-8 sequence at `i` (shortest form, no
// surrogates, at most U+10FFFF) and its code point; 0 when there is none.
std::size_t sequenceAt(const std::string& s, std::size_t i, uint32_t* codePoint) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        *codePoint = lead;
        return 1;
    }
    std::size_t length = 0;
    uint32_t value = 0;
    uint32_t lowest = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1F, lowest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0F, lowest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07, lowest = 0x10000;
    } else {
        return 0;
    }
    if (i + length > s.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        value = (value << 6) | (byte(i + k) & 0x3F);
    }
    if (value < lowest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *codePoint = value;
    return length;
}

std::string hexEscape(const char* format, unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

bool isControl(uint32_t codePoint) {
    return codePoint < 0x20 || codePoint == 0x7F || (codePoint >= 0x80 && codePoint < 0xA0);
}

}  // namespace

std::string escapeForTerminal(const std::string& bytes) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size();) {
        uint32_t codePoint = 0;
        const std::size_t length = sequenceAt(bytes, i, &codePoint);
        if (length == 0 || isControl(codePoint)) {
            // A control character's bytes are escaped one by one, as are stray bytes.
            const std::size_t end = length == 0 ? i + 1 : i + length;
            for (; i < end; ++i) out += hexEscape("\\x%02x", static_cast<unsigned char>(bytes[i]));
            continue;
        }
        if (codePoint == '\\') out += '\\';
        out.append(bytes, i, length);
        i += length;
    }
    return out;
}

std::string jsonString(const std::string& bytes) {
    std::string out = "\"";
    for (std::size_t i = 0; i < bytes.size();) {
        uint32_t codePoint = 0;
        const std::size_t length = sequenceAt(bytes, i, &codePoint);
        if (length == 0) {
            out += hexEscape("\\udc%02x", static_cast<unsigned char>(bytes[i]));
            ++i;
            continue;
        }
        switch (codePoint) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (codePoint < 0x20)
                    out += hexEscape("\\u%04x", codePoint);
                else
                    out.append(bytes, i, length);
        }
        i += length;
    }
    return out + "\"";
}

}  // namespace morvane

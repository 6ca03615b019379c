#pragma once

#include <string>

// File names are bytes; these write them where text is expected, so that
// the bytes can always be had back.
namespace morvane {

// For a line on a terminal or in a log: valid UTF-8 as it is, a backslash
// doubled, and every control character or byte that is not part of valid
// UTF-8 written as \xNN (two lower-case hex digits).
std::string escapeForTerminal(const std::string& bytes);

// A JSON string literal, quotes included: valid UTF-8 as it is (with JSON's
// escapes for quotes, backslashes and control characters), and every byte
// that is not part of valid UTF-8 as the lone surrogate \udcNN, NN being
// the byte in hex (as Python's "surrogateescape" reads and writes them).
std::string jsonString(const std::string& bytes);

}  // namespace morvane

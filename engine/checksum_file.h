#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace morvane {

using Sha256Digest = std::array<unsigned char, 32>;

// One line as sha256sum writes it: 64 lowercase hex digits, two spaces, the
// name, a line feed. A name holding a backslash, line feed or carriage
// return is written with "\\", "\n" and "\r" for them, and the line then
// starts with a backslash.
std::string checksumLine(const Sha256Digest& digest, const std::string& name);

// Reads a checksum file in the format of sha256sum piece by piece and keeps
// only the digests of the chunk files 1..numOfChunks of one prefix, so that
// memory does not grow with lines for other files.
//
// Every line must be "<64 lowercase hex digits> <space or *><name>", with
// the escapes sha256sum uses when it starts with a backslash, optionally
// ended by a carriage return. A chunk may be listed more than once only
// with the same digest.
class ChecksumFileReader {
  public:
    ChecksumFileReader(std::string prefix, int32_t numOfChunks)
        : m_prefix(std::move(prefix)), m_numOfChunks(numOfChunks) {}

    // Takes the next `n` bytes of the file. Returns false (and keeps doing
    // so) once they cannot be part of a valid checksum file.
    bool feed(const char* data, std::size_t n);
    // Ends the file. Returns false when it is not valid or lacks a line for
    // one of the chunks; otherwise fills `digests` with the digests of
    // chunks 1..numOfChunks in order.
    bool finish(std::vector<Sha256Digest>* digests);

  private:
    bool takeLine(const char* line, std::size_t n);

    std::string m_prefix;
    int32_t m_numOfChunks;
    // The start of a line whose end has not been fed yet.
    std::string m_partial;
    std::unordered_map<int32_t, Sha256Digest> m_found;
    bool m_valid = true;
};

}  // namespace morvane

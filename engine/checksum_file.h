#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/status.h"

namespace morvane {

class File;
class FileLayer;

using Sha256Digest = std::array<unsigned char, 32>;

// One line as sha256sum writes it: 64 lowercase hex digits, two spaces, the
// name, a line feed. A name holding a backslash, line feed or carriage
// return is written with "\\", "\n" and "\r" for them, and the line then
// starts with a backslash.
std::string checksumLine(const Sha256Digest& digest, const std::string& name);

// True when the original file's name is one of its own chunks' names: the
// checksum file then has no line for the whole file, which would contradict
// that chunk's line.
bool namesAChunk(const std::string& bigFileName, const std::string& prefix, int32_t numOfChunks);

// The length of the checksum file of a division: a line per chunk of
// `prefix`, then one for `bigFileName`.
int64_t checksumFileSize(const std::string& prefix, int32_t numOfChunks,
                         const std::string& bigFileName);

// Writes that checksum file to `file`, in pieces: the digest of each chunk
// in order from `nextChunk`, then the whole file's from `whole`; keeps its
// text in `*copy` unless that is nullptr. Returns the first failure of
// theirs or of a write.
Status writeChecksumFile(FileLayer& layer, File& file, const std::string& prefix,
                         int32_t numOfChunks, const std::string& bigFileName,
                         const std::function<Status(Sha256Digest*)>& nextChunk,
                         const std::function<Status(Sha256Digest*)>& whole, std::string* copy);

// What a checksum file says of one division: a digest per chunk, and the
// whole file's when it has a line for it.
struct ChecksumList {
    std::vector<Sha256Digest> chunks;
    bool hasWhole = false;
    Sha256Digest whole{};
};

// Reads a checksum file piece by piece, as liberally as `sha256sum -c`, and
// keeps only the lines of chunk files 1..numOfChunks of one prefix and of
// the original file, so that memory does not grow with other lines.
//
// A line is "<64 hex digits> <space or *><name>" (digits in either case),
// or "SHA256 (<name>) = <64 hex digits>" as `sha256sum --tag` writes it;
// with sha256sum's escapes when it starts with a backslash, optionally
// ended by a carriage return. Blank lines and lines starting with "#" are
// skipped. A file listed more than once must have the
// same digest each time; a chunk numbered beyond numOfChunks makes the
// file invalid (its header and its checksum file disagree).
class ChecksumFileReader {
  public:
    ChecksumFileReader(std::string prefix, int32_t numOfChunks, std::string bigFileName)
        : m_prefix(std::move(prefix)),
          m_numOfChunks(numOfChunks),
          m_bigFileName(std::move(bigFileName)) {}

    // Takes the next `n` bytes of the file. Returns false (and keeps doing
    // so) once they cannot be part of a valid checksum file.
    bool feed(const char* data, std::size_t n);
    // Ends the file. Returns false when it is not valid or lacks a line for
    // one of the chunks; otherwise fills `list`.
    bool finish(ChecksumList* list);

  private:
    bool takeLine(const char* line, std::size_t n);
    bool keep(const std::string& name, const Sha256Digest& digest);

    std::string m_prefix;
    int32_t m_numOfChunks;
    std::string m_bigFileName;
    // The start of a line whose end has not been fed yet.
    std::string m_partial;
    std::unordered_map<int32_t, Sha256Digest> m_found;
    bool m_hasWhole = false;
    Sha256Digest m_whole{};
    bool m_valid = true;
};

// Reads the checksum file at `path` through `reader`. Returns the failure
// of an open, read or close; `*valid` tells whether the text was valid.
Status readChecksumFile(FileLayer& layer, const std::string& path, ChecksumFileReader& reader,
                        ChecksumList* list, bool* valid);

}  // namespace morvane

#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/recovery/md5_stream.h"

namespace morvane {

// One MD5 stream that can be advanced together with others: independent
// streams share the processor's vector lanes (16 with AVX-512, 8 with
// AVX2, chosen when the program runs; one at a time without either).
// Gives the same digests as Md5Stream.
class Md5Lane {
  public:
    Md5Lane();

    // Feeds data[0, n).
    void update(const void* data, std::size_t n);
    // Feeds `n` zero bytes.
    void updateZeros(uint64_t n);
    // The digest of everything fed since the start; the stream then starts
    // again.
    Md5Digest finish();

    // Feeds data[i][0, sizes[i]) to *lanes[i] for every i < count, several
    // streams at a time, at most `most` of them (the kernels that take more
    // are left unused). The lanes must be distinct.
    static void updateMany(Md5Lane* const* lanes, const char* const* data, const std::size_t* sizes,
                           std::size_t count, std::size_t most = width());
    // How many streams the processor advances at once: 16, 8 or 1.
    static std::size_t width();

  private:
    // Takes the start of data[0, n) into the pending bytes until they make a
    // whole block or the data ends; returns how many bytes it took.
    std::size_t fillPending(const unsigned char* data, std::size_t n);
    void keepTail(const unsigned char* data, std::size_t n);

    uint32_t m_state[4];
    uint64_t m_bytes = 0;
    unsigned char m_pending[64];
};

}  // namespace morvane

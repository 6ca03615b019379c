#include "engine/recovery/slice_checksums.h"

#include <isa-l/crc.h>
#include <zlib.h>

namespace morvane {

namespace {

// CRC-32 of `n` zero bytes, by doubling: O(log n) combinations.
uint32_t crcOfZeros(uint64_t n) {
    uLong result = 0;
    uint64_t resultBytes = 0;
    const unsigned char zero = 0;
    uLong power = crc32(0, &zero, 1);
    uint64_t powerBytes = 1;
    while (n != 0) {
        if (n & 1) {
            result = resultBytes == 0
                         ? power
                         : crc32_combine(result, power, static_cast<z_off_t>(powerBytes));
            resultBytes += powerBytes;
        }
        n >>= 1;
        if (n != 0) {
            power = crc32_combine(power, power, static_cast<z_off_t>(powerBytes));
            powerBytes *= 2;
        }
    }
    return static_cast<uint32_t>(result);
}

}  // namespace

uint32_t crc32Of(uint32_t crc, const char* data, std::size_t n) {
    return crc32_gzip_refl(crc, reinterpret_cast<const unsigned char*>(data), n);
}

uint32_t paddedCrc(uint32_t crc, uint64_t length, uint64_t sliceSize) {
    if (sliceSize <= length) return crc;
    const uint64_t zeros = sliceSize - length;
    if (length == 0) return crcOfZeros(zeros);
    return static_cast<uint32_t>(
        crc32_combine(crc, crcOfZeros(zeros), static_cast<z_off_t>(zeros)));
}

}  // namespace morvane

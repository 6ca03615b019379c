// Splits arbitrary bytes into up to 16 streams of unequal lengths, feeds
// them to the lane MD5 together in two cuts each, with every kernel the
// processor has, and checks each digest against OpenSSL's.
#include <cstdint>

#include "engine/recovery/md5_lanes.h"
#include "fuzz_support.h"

namespace {

using morvane_fuzz::require;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // The first byte chooses how many streams, the second where each is cut.
    const std::size_t count = 1 + data[0] % 16;
    const std::size_t cutSeed = data[1];
    const char* text = reinterpret_cast<const char*>(data + 2);
    const std::size_t n = size - 2;

    const char* starts[16];
    const char* rests[16];
    std::size_t lengths[16], cuts[16], restSizes[16];
    for (std::size_t i = 0; i < count; ++i) {
        // Stream i takes bytes from i * n / count to the end, so that
        // lengths differ and streams overlap.
        const std::size_t from = i * n / count;
        starts[i] = text + from;
        lengths[i] = n - from;
        cuts[i] = lengths[i] == 0 ? 0 : (cutSeed * (i + 1)) % (lengths[i] + 1);
        rests[i] = starts[i] + cuts[i];
        restSizes[i] = lengths[i] - cuts[i];
    }
    for (std::size_t most : {std::size_t{1}, std::size_t{8}, std::size_t{16}}) {
        if (most > morvane::Md5Lane::width()) continue;
        morvane::Md5Lane lanes[16];
        morvane::Md5Lane* ptrs[16];
        for (std::size_t i = 0; i < count; ++i) ptrs[i] = &lanes[i];
        morvane::Md5Lane::updateMany(ptrs, starts, cuts, count, most);
        morvane::Md5Lane::updateMany(ptrs, rests, restSizes, count, most);
        for (std::size_t i = 0; i < count; ++i) {
            morvane::Md5Digest theirs{};
            require(morvane::md5Of(starts[i], lengths[i], &theirs), "OpenSSL's MD5 failed");
            require(lanes[i].finish() == theirs, "a lane's MD5 differs from OpenSSL's");
        }
    }
    return 0;
}

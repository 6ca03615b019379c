// Feeds arbitrary bytes to the checksum file reader, whole and in pieces cut
// at every place the input names, and checks that both agree and that what
// is accepted is sound: one digest per chunk, none beyond the count.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "engine/checksum_file.h"
#include "fuzz_support.h"

namespace {

using morvane_fuzz::require;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // The first bytes choose the chunk count and where the text is cut.
    const int32_t chunks = 1 + data[0] % 8;
    const std::size_t cut = data[1];
    const char* text = reinterpret_cast<const char*>(data + 2);
    const std::size_t n = size - 2;

    morvane::ChecksumFileReader whole("p", chunks, "big.bin");
    morvane::ChecksumList wholeList;
    const bool wholeValid = whole.feed(text, n) && whole.finish(&wholeList);

    morvane::ChecksumFileReader pieces("p", chunks, "big.bin");
    morvane::ChecksumList pieceList;
    const std::size_t first = n == 0 ? 0 : cut % (n + 1);
    bool valid = pieces.feed(text, first);
    for (std::size_t at = first; valid && at < n; ++at) valid = pieces.feed(text + at, 1);
    valid = valid && pieces.finish(&pieceList);

    require(valid == wholeValid, "pieces and the whole text disagree");
    if (wholeValid) {
        require(wholeList.chunks.size() == static_cast<std::size_t>(chunks),
                "an accepted file has another count of chunk digests");
        require(wholeList.chunks == pieceList.chunks && wholeList.hasWhole == pieceList.hasWhole,
                "pieces and the whole text read other digests");
    }
    return 0;
}

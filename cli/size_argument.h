#pragma once

#include <cstdint>
#include <string>

// Sizes and counts as the commands take them: plain digits, whatever the
// locale, so that a script means the same everywhere.
namespace morvane {

// The largest chunk, in bytes, as the window allows it.
constexpr int64_t kMaxChunkBytes = 2000000000;

// A size given as digits followed, optionally, by a unit: KB, MB or GB in
// any letter case (1,024, 1,048,576 and 1,073,741,824 bytes, as the window
// counts them).
struct SizeArgument {
    bool valid = false;
    // Valid, but above kMaxChunkBytes.
    bool tooBig = false;
    int64_t bytes = 0;
};
SizeArgument readSizeArgument(const std::string& text);

// Digits only, at most `most`. False for anything else.
bool readCount(const std::string& text, int64_t most, int64_t* out);

// The chunk size that divides `fileSize` bytes into `count` chunks, each at
// most kMaxChunkBytes: the smallest such size, which makes the last chunk
// as large as it can be. When no size gives `count`, chunkBytes is 0 and
// below and above are the nearest counts that some size gives (0 when
// there is none on that side).
struct CountPlan {
    int64_t chunkBytes = 0;
    int64_t below = 0;
    int64_t above = 0;
};
CountPlan planForCount(int64_t fileSize, int64_t count);

}  // namespace morvane

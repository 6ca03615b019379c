#include "cli/size_argument.h"

#include <cctype>
#include <limits>

namespace morvane {

namespace {

bool readDigits(const std::string& text, std::size_t end, int64_t* out) {
    if (end == 0) return false;
    int64_t value = 0;
    for (std::size_t i = 0; i < end; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return false;
        // Past any size that matters: the caller sees it as too big.
        if (value > std::numeric_limits<int64_t>::max() / 100) return (*out = -1, true);
        value = value * 10 + (c - '0');
    }
    *out = value;
    return true;
}

// Chunks of `chunkBytes` bytes that `fileSize` bytes make.
int64_t chunksOf(int64_t fileSize, int64_t chunkBytes) {
    return fileSize / chunkBytes + (fileSize % chunkBytes > 0 ? 1 : 0);
}

}  // namespace

SizeArgument readSizeArgument(const std::string& text) {
    static const struct {
        const char* name;
        int64_t bytes;
    } kUnits[] = {{"kb", 1024}, {"mb", 1048576}, {"gb", 1073741824}};
    std::string lower;
    for (char c : text) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::size_t end = lower.size();
    int64_t unit = 1;
    for (const auto& u : kUnits) {
        const std::string name = u.name;
        if (lower.size() > name.size() &&
            lower.compare(lower.size() - name.size(), name.size(), name) == 0) {
            end = lower.size() - name.size();
            unit = u.bytes;
        }
    }
    SizeArgument size;
    int64_t number = 0;
    if (!readDigits(lower, end, &number)) return size;
    size.valid = true;
    if (number < 0 || number > kMaxChunkBytes / unit) {
        size.tooBig = number != 0;
        return size;
    }
    size.bytes = number * unit;
    return size;
}

bool readCount(const std::string& text, int64_t most, int64_t* out) {
    int64_t value = 0;
    if (!readDigits(text, text.size(), &value) || value < 0 || value > most) return false;
    *out = value;
    return true;
}

CountPlan planForCount(int64_t fileSize, int64_t count) {
    CountPlan plan;
    const int64_t fewest = chunksOf(fileSize, kMaxChunkBytes);
    if (count > fileSize) {
        plan.below = fileSize;
        return plan;
    }
    if (count < fewest) {
        plan.above = fewest;
        return plan;
    }
    const int64_t chunkBytes = chunksOf(fileSize, count);
    if (chunksOf(fileSize, chunkBytes) == count) {
        plan.chunkBytes = chunkBytes;
        return plan;
    }
    // Counts fall as sizes grow: the size just below gives the next count up.
    plan.below = chunksOf(fileSize, chunkBytes);
    plan.above = chunksOf(fileSize, chunkBytes - 1);
    return plan;
}

}  // namespace morvane

#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/chunk_layout.h"
#include "engine/status.h"

namespace morvane {

class File;

// What a division with recovery data writes, as far as it is known before
// the run: the chunks, the header's bytes and the checksum file's length.
struct RecoveryPlan {
    std::string prefix;
    ChunkLayout chunks;
    std::vector<char> headerBytes;
    int64_t checksumFileBytes = 0;
    int32_t recoveryChunks = 0;
};

// Opens the file a run writes under the final name `finalName` (a name in
// the set's folder): an empty regular file that can be read and written.
// The caller decides where it really lives and renames it later.
using OutputOpener =
    std::function<Status(const std::string& finalName, std::unique_ptr<File>* out)>;

}  // namespace morvane

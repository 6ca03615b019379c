#pragma once

#include <cstdint>
#include <string>

namespace morvane {

class FileLayer;
struct FileId;

// True when one of the chunk files 1..numOfChunks of `prefix` in `folder` is
// the file `target` (same device and inode, so hard links and symbolic links
// count). Names that do not exist are not `target`.
bool chunksInclude(FileLayer& layer, const std::string& folder, const std::string& prefix,
                   int32_t numOfChunks, const FileId& target);

// As chunksInclude, and true also when the header file or the checksum file
// named after `prefix` in `folder` is `target`.
bool chunkSetIncludes(FileLayer& layer, const std::string& folder, const std::string& prefix,
                      int32_t numOfChunks, const FileId& target);

}  // namespace morvane

#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace morvane {

// The names a division of `numOfChunks` chunks with `recoveryChunks`
// recovery chunks writes under `prefix`: the header, the chunks in order,
// the checksum file, then the recovery files.
std::vector<std::string> divisionOutputs(const std::string& prefix, int32_t numOfChunks,
                                         int32_t recoveryChunks);

// Which of the division's outputs already exist in `folder` (any kind of
// entry), in the order divisionOutputs gives them. Reads the folder once,
// so that a set of many chunks costs no more than its listing.
std::vector<std::string> existingOutputs(const std::string& folder, const std::string& prefix,
                                         int32_t numOfChunks, int32_t recoveryChunks);

// "a, b and c", or the first `most` names and "and N more".
std::string nameList(const std::vector<std::string>& names, std::size_t most = 3);

}  // namespace morvane

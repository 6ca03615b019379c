#pragma once

// Helpers of the recovery data tests: a division made by FileDivider, then
// protected by Par2Encoder fed with the chunks' bytes in blocks, as a run
// hands them over.

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/status.h"
#include "test_support.h"

namespace morvane_test {

// Writes `content` as "original.dat" into `work`, divides it into `folder`
// with `prefix`, chunks of `chunkSize` and `recoveryChunks`; fails the test
// when it cannot.
void divideInto(const std::string& work, const std::string& folder, const std::string& prefix,
                const Bytes& content, int32_t chunkSize, int32_t recoveryChunks = 0);

// Writes the recovery data of the division `prefix` in `folder` whose large
// file is `bigFile`, feeding every chunk in blocks of `pieceBytes`.
morvane::Status protectDivision(const std::string& folder, const std::string& prefix,
                                const std::string& bigFile, int32_t recoveryChunks,
                                std::size_t pieceBytes);

}  // namespace morvane_test

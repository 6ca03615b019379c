#pragma once

// What the fuzz tests share: a failed check that stops the fuzzer, and a
// work folder of their own, removed when the fuzzer exits.

#include <cstddef>
#include <cstdint>
#include <string>

namespace morvane_fuzz {

// Aborts with `what` when `condition` does not hold.
void require(bool condition, const char* what);
// A new folder under /tmp, ending in "/".
const std::string& workFolder();
// Writes `size` bytes of `data` as the file `path`.
void writeFile(const std::string& path, const uint8_t* data, std::size_t size);

}  // namespace morvane_fuzz

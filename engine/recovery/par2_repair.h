#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/recovery/recovery_plan.h"
#include "engine/status.h"

namespace morvane {

class FileLayer;
class Par2Set;

// The most input slices one rebuild recovers: its matrix and stripes then
// stay under 64 MiB.
constexpr uint64_t kMaxLostSlices = 4096;

// Whether the recovery data of `set` can rebuild the files named in `lost`
// (names as the set describes them). When it cannot, `why` says what is
// missing and what the recovery data covers; more than kMaxLostSlices lost
// slices are refused too.
bool canRebuild(const Par2Set& set, const std::vector<std::string>& lost, std::string* why);

// Sees each rebuilt file's bytes in order as rebuildFiles reads them back
// for its MD5: `n` bytes of the file `name`, then n == 0 once the file has
// been read whole. A failure it returns ends the rebuild with it.
using ReadBackObserver =
    std::function<Status(const std::string& name, const char* bytes, std::size_t n)>;

// The bytes rebuildFiles reads and writes to rebuild the files of `set`
// named in `lost` in one pass: those of every other file and of the
// recovery slices it uses, the rebuilt files written and read back.
int64_t rebuildWork(const Par2Set& set, const std::vector<std::string>& lost);

// Rebuilds the files of `set` named in `lost` from the recovery slices and
// every other file of the set, read once from `folder` (ending in "/").
// Each rebuilt file is written to a file opened through `openOutput` with
// its name, then read back and checked against its MD5; the caller puts it
// in place; `readBack`, when set, sees the bytes of that read, so that the
// caller need not read the file again. Memory stays under 64 MiB. Fails with ECANCELED within a
// second once `*stop` is set (when `stop` is not nullptr).
//
// A recovery slice whose data does not match its packet MD5 is set aside
// and the rebuild starts again with another one while enough remain; a
// slice marked `checked` is not hashed again (a change to it since shows
// as a rebuilt file that does not match its MD5). Fails
// with ENODATA when the recovery data does not cover what is lost (the
// text says why), EIO when a file that should be intact does not match its
// slice checksums or length (every such file is then added to `*damaged`
// unless that is nullptr, so that the caller can try again with them
// counted as lost) or a rebuilt file does not match its MD5, or the error
// of a read or write.
//
// When `done` is not nullptr, the bytes of rebuildWork are added to it as
// they are read and written; a pass begun again with another recovery
// slice takes it back to where the pass began.
Status rebuildFiles(FileLayer& layer, const Par2Set& set, const std::string& folder,
                    const std::vector<std::string>& lost, const OutputOpener& openOutput,
                    std::vector<std::string>* damaged = nullptr,
                    const std::atomic<bool>* stop = nullptr,
                    const ReadBackObserver& readBack = nullptr,
                    std::atomic<int64_t>* done = nullptr);

}  // namespace morvane

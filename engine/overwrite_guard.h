#pragma once

#include <string>

namespace morvane {

class FileLayer;
class OutputNames;
struct FileId;

// True when the file `target` (same device and inode, so hard links and
// symbolic links count) has one of `names` in `folder`. Names that do not
// exist are not `target`. The folder is listed once through `layer`
// rather than every possible chunk name looked up.
bool namesInclude(FileLayer& layer, const std::string& folder, const OutputNames& names,
                  const FileId& target);

}  // namespace morvane

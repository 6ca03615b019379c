// Feeds arbitrary bytes to the recovery data reader as a set's description
// file beside one small chunk, and checks that whatever is accepted is sound
// and that a rebuild never writes what the data does not vouch for.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/file_layer.h"
#include "engine/recovery/par2_repair.h"
#include "engine/recovery/par2_set.h"
#include "fuzz_support.h"

namespace {

using morvane_fuzz::require;
using morvane_fuzz::workFolder;
using morvane_fuzz::writeFile;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& folder = workFolder();
    writeFile(folder + "f.par2", data, size);
    const uint8_t chunk[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    writeFile(folder + "f_1.div", chunk, sizeof chunk);

    morvane::FileLayer layer;
    morvane::Par2Set set;
    require(set.read(layer, folder, "f").ok(), "a readable file is read");
    require(set.bytesHashed() <= 3 * size, "each pass hashes each byte at most once");
    if (!set.usable()) {
        require(!set.problem().empty(), "an unusable set says why");
        return 0;
    }
    require(set.sliceSize() > 0 && set.sliceSize() % 4 == 0, "slice size");
    require(!set.files().empty() && set.files().size() <= 32768, "file count");
    uint64_t slices = 0;
    for (std::size_t i = 0; i < set.files().size(); ++i) slices += set.slicesOf(i);
    require(slices <= 32768, "input slices within the format's limit");
    for (std::size_t i = 1; i < set.recoverySlices().size(); ++i) {
        require(set.recoverySlices()[i - 1].exponent < set.recoverySlices()[i].exponent,
                "distinct exponents in order");
    }
    // A rebuild of f_2.div may only succeed with a file that matches its MD5.
    std::string why;
    if (morvane::canRebuild(set, {"f_2.div"}, &why)) {
        ::unlink((folder + "f_2.div").c_str());
        morvane::rebuildFiles(layer, set, folder, {"f_2.div"},
                              [&](const std::string& name, std::unique_ptr<morvane::File>* out) {
                                  return layer.openReadWrite(folder + name, out);
                              });
        ::unlink((folder + "f_2.div").c_str());
    }
    return 0;
}

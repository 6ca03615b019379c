// Feeds arbitrary bytes to the division header reader and to the glue
// engine as a header file, and checks that whatever is accepted is sound.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/division_header.h"
#include "engine/file_glue.h"
#include "fuzz_support.h"

namespace {

using morvane_fuzz::require;
using morvane_fuzz::workFolder;
using morvane_fuzz::writeFile;

void checkRecord(const std::vector<char>& bytes) {
    const morvane::DivisionHeader header = morvane::decodeHeader(bytes);
    const bool valid = header.isValid();
    require(valid == (!header.BigFileName.empty() && header.AvgChunkSize >= 1 &&
                      header.LastChunkSize >= 1 && header.NumOfChunks >= 1 &&
                      header.LastChunkSize <= header.AvgChunkSize),
            "validity rule");
    if (!valid) return;
    require(header.bigFileSize() >= 1, "a valid record describes at least one byte");
    // A record that was read back writes the same fields again.
    std::vector<char> again;
    if (morvane::encodeHeader(header, &again)) {
        const morvane::DivisionHeader reread = morvane::decodeHeader(again);
        require(reread.BigFileName == header.BigFileName, "name survives a rewrite");
        require(reread.AvgChunkSize == header.AvgChunkSize &&
                    reread.LastChunkSize == header.LastChunkSize &&
                    reread.NumOfChunks == header.NumOfChunks,
                "sizes survive a rewrite");
    }
}

void checkEngine(const uint8_t* data, size_t size) {
    const std::string& folder = workFolder();
    writeFile(folder + "x.hed", data, size);
    morvane::FileGlue glue;
    glue.setHeaderFileName("x.hed");
    glue.setHeaderFilePath(folder);
    glue.setChunkPrefix("x");
    if (!glue.analyze()) {
        require(glue.ErrorCode() != 0, "a refused header leaves an error");
        require(glue.BigFileName().empty() || glue.IsSysErr(), "a refused header is emptied");
        return;
    }
    require(glue.NumOfChunks() >= 1 && glue.AvgChunkSize() >= 1 && glue.LastChunkSize() >= 1,
            "an accepted header has sizes");
    require(glue.BigFileSize() ==
                (int64_t{glue.NumOfChunks()} - 1) * glue.AvgChunkSize() + glue.LastChunkSize(),
            "size of the large file");
    // No chunk file exists, so the check stops at the first one, and the
    // run fails opening it, having written nothing outside the folder.
    require(!glue.checkExistence() && glue.ErrorCode() == 12 && glue.CurrentChunk() == 1,
            "missing first chunk");
    glue.setBigFileName("out.bin");
    glue.setBigFilePath(folder);
    require(!glue.glueFile() && glue.IsSysErr(), "a run without chunks fails");
    ::unlink((folder + "out.bin").c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    checkRecord(std::vector<char>(data, data + size));
    checkEngine(data, size);
    return 0;
}

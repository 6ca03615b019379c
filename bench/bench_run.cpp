// One division or one glue through the engine, in a process of its own so
// that the benchmark can read its peak resident memory.
//
//   morvane_bench_run divide SOURCE CHUNK_FOLDER PREFIX CHUNK_BYTES
//   morvane_bench_run glue HEADER_FILE OUTPUT_FILE
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/file_divider.h"
#include "engine/file_glue.h"

namespace {

void splitPath(const std::string& path, std::string* folder, std::string* name) {
    const std::size_t slash = path.find_last_of('/');
    *folder = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
    *name = slash == std::string::npos ? path : path.substr(slash + 1);
}

template <typename Engine>
int fail(const Engine& engine, const char* what) {
    std::fprintf(stderr, "%s failed: %d  %s\n", what, static_cast<int>(engine.ErrorCode()),
                 engine.ErrorDescription().c_str());
    return 1;
}

int divide(const std::string& source, const std::string& chunkFolder, const std::string& prefix,
           long chunkBytes) {
    morvane::FileDivider divider;
    std::string folder, name;
    splitPath(source, &folder, &name);
    divider.setBigFileName(name);
    divider.setBigFilePath(folder);
    if (!divider.analyze()) return fail(divider, "analyze");
    divider.setAvgChunkSize(static_cast<int32_t>(chunkBytes));
    if (divider.AvgChunkSize() != chunkBytes) return fail(divider, "chunk size");
    divider.setChunkPrefix(prefix);
    divider.setChunkPath(chunkFolder);
    if (!divider.divideFile()) return fail(divider, "divideFile");
    return 0;
}

int glue(const std::string& header, const std::string& output) {
    morvane::FileGlue glue;
    std::string folder, name;
    splitPath(header, &folder, &name);
    glue.setHeaderFileName(name);
    glue.setHeaderFilePath(folder);
    glue.setChunkPrefix(name.substr(0, name.find_last_of('.')));
    if (!glue.analyze()) return fail(glue, "analyze");
    splitPath(output, &folder, &name);
    glue.setBigFileName(name);
    glue.setBigFilePath(folder);
    if (!glue.checkExistence()) return fail(glue, "checkExistence");
    if (!glue.glueFile()) return fail(glue, "glueFile");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "divide" && argc == 6) return divide(argv[2], argv[3], argv[4], std::atol(argv[5]));
    if (mode == "glue" && argc == 4) return glue(argv[2], argv[3]);
    std::fprintf(stderr,
                 "usage: %s divide SOURCE CHUNK_FOLDER PREFIX CHUNK_BYTES\n"
                 "       %s glue HEADER_FILE OUTPUT_FILE\n",
                 argv[0], argv[0]);
    return 2;
}

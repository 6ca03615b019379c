// One division or one glue through the engine, in a process of its own so
// that the benchmark can read its peak resident memory.
//
//   morvane_bench_run divide SOURCE CHUNK_FOLDER PREFIX CHUNK_BYTES [--at-complete COMMAND]
//   morvane_bench_run glue HEADER_FILE OUTPUT_FILE [--at-complete COMMAND]
//
// COMMAND runs (sh -c) from within the run's onComplete notification, at the
// instant the run reports success; a failing COMMAND fails the program.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/file_divider.h"
#include "engine/file_glue.h"

namespace {

class AtComplete : public morvane::FileDividerEvents, public morvane::FileGlueEvents {
  public:
    void onComplete() override {
        if (!command.empty() && std::system(command.c_str()) != 0) failed = true;
    }
    std::string command;
    bool failed = false;
};

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

int divide(AtComplete& atComplete, const std::string& source, const std::string& chunkFolder,
           const std::string& prefix, long chunkBytes) {
    morvane::FileDivider divider;
    divider.setObserver(&atComplete);
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

int glue(AtComplete& atComplete, const std::string& header, const std::string& output) {
    morvane::FileGlue glue;
    glue.setObserver(&atComplete);
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
    AtComplete atComplete;
    if (argc > 3 && std::strcmp(argv[argc - 2], "--at-complete") == 0) {
        atComplete.command = argv[argc - 1];
        argc -= 2;
    }
    const std::string mode = argc > 1 ? argv[1] : "";
    int result;
    if (mode == "divide" && argc == 6) {
        result = divide(atComplete, argv[2], argv[3], argv[4], std::atol(argv[5]));
    } else if (mode == "glue" && argc == 4) {
        result = glue(atComplete, argv[2], argv[3]);
    } else {
        std::fprintf(
            stderr,
            "usage: %s divide SOURCE CHUNK_FOLDER PREFIX CHUNK_BYTES [--at-complete COMMAND]\n"
            "       %s glue HEADER_FILE OUTPUT_FILE [--at-complete COMMAND]\n",
            argv[0], argv[0]);
        return 2;
    }
    if (atComplete.failed) {
        std::fprintf(stderr, "the --at-complete command failed\n");
        return 1;
    }
    return result;
}

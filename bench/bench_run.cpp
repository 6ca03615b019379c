// One division or one glue through the engine, in a process of its own so
// that the benchmark can read its peak resident memory.
//
//   morvane_bench_run divide SOURCE CHUNK_FOLDER PREFIX CHUNK_BYTES [RECOVERY_CHUNKS] [CUT]
//   morvane_bench_run glue HEADER_FILE OUTPUT_FILE [CUT]
//   morvane_bench_run settle FOLDER LAST_NAME
//
// settle does what the next run writing LAST_NAME (a header, a glued file)
// into FOLDER does first: it settles the commits a cut interrupted there.
//
// CUT runs COMMAND (sh -c) at one instant of the run:
//   --at-complete COMMAND   from within onComplete, when the run reports success;
//   --at-rename N COMMAND   just before the run's Nth rename;
//   --at-flush N COMMAND    just after the run's Nth flush of a folder.
// A failing COMMAND fails the program; a run that ends without reaching its
// Nth rename or flush exits with 3.
//
// --stop-after MS, last, asks the run to stop MS milliseconds after it began
// and prints how long it took to end after that.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "engine/file_divider.h"
#include "engine/file_glue.h"
#include "engine/file_layer.h"
#include "engine/output_set.h"

namespace {

constexpr int kStepNeverCame = 3;

struct Cut {
    std::string command;
    bool ran = false;
    bool failed = false;

    void run() {
        ran = true;
        if (std::system(command.c_str()) != 0) failed = true;
    }
};

class AtComplete : public morvane::FileDividerEvents, public morvane::FileGlueEvents {
  public:
    explicit AtComplete(Cut* cut) : m_cut(cut) {}
    void onComplete() override {
        if (m_cut) m_cut->run();
    }

  private:
    Cut* m_cut;
};

// The system's file layer, with the cut made at the Nth rename (before it)
// or at the Nth folder flush (after it). Zero counts as never.
class CutLayer : public morvane::FileLayer {
  public:
    CutLayer(Cut* cut, long atRename, long atFlush)
        : m_cut(cut), m_atRename(atRename), m_atFlush(atFlush) {}

    morvane::Status rename(const std::string& from, const std::string& to) override {
        if (++m_renames == m_atRename) m_cut->run();
        return FileLayer::rename(from, to);
    }
    morvane::Status renameExclusive(const std::string& from, const std::string& to) override {
        if (++m_renames == m_atRename) m_cut->run();
        return FileLayer::renameExclusive(from, to);
    }
    morvane::Status flushFolder(morvane::File& folder) override {
        const morvane::Status s = FileLayer::flushFolder(folder);
        if (++m_flushes == m_atFlush) m_cut->run();
        return s;
    }

  private:
    Cut* m_cut;
    long m_atRename;
    long m_atFlush;
    long m_renames = 0;
    long m_flushes = 0;
};

// Asks `engine` to stop once `delay` has passed, unless the run ended first;
// on destruction prints how long the run took to end after the request.
template <typename Engine>
class StopAfter {
  public:
    StopAfter(Engine& engine, long delayMs) {
        if (delayMs <= 0) return;
        m_thread = std::thread([this, &engine, delayMs] {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (m_changed.wait_for(lock, std::chrono::milliseconds(delayMs),
                                   [this] { return m_ended; })) {
                return;
            }
            m_requested = std::chrono::steady_clock::now();
            m_asked = true;
            engine.requestStop();
        });
    }
    ~StopAfter() {
        if (!m_thread.joinable()) return;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_ended = true;
        }
        const auto end = std::chrono::steady_clock::now();
        m_changed.notify_all();
        m_thread.join();
        if (!m_asked) return;
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(end - m_requested);
        std::fprintf(stderr, "ended %lld ms after the stop request\n",
                     static_cast<long long>(ms.count()));
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_ended = false;
    bool m_asked = false;
    std::chrono::steady_clock::time_point m_requested;
    std::thread m_thread;
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

int divide(const std::shared_ptr<morvane::FileLayer>& layer, AtComplete& atComplete,
           const std::string& source, const std::string& chunkFolder, const std::string& prefix,
           long chunkBytes, int32_t recoveryChunks, long stopAfterMs) {
    morvane::FileDivider divider(layer);
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
    divider.setRecoveryChunks(recoveryChunks);
    bool done = false;
    {
        const StopAfter<morvane::FileDivider> stop(divider, stopAfterMs);
        done = divider.divideFile();
    }
    if (!done) return fail(divider, divider.Stopped() ? "stopped divideFile" : "divideFile");
    return 0;
}

int glue(const std::shared_ptr<morvane::FileLayer>& layer, AtComplete& atComplete,
         const std::string& header, const std::string& output, long stopAfterMs) {
    morvane::FileGlue glue(layer);
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
    bool done = false;
    {
        const StopAfter<morvane::FileGlue> stop(glue, stopAfterMs);
        done = glue.glueFile();
    }
    if (!done) return fail(glue, glue.Stopped() ? "stopped glueFile" : "glueFile");
    for (int32_t k : glue.RebuiltChunks()) std::printf("rebuilt chunk %d\n", k);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Cut cut;
    bool atComplete = false;
    long atRename = 0;
    long atFlush = 0;
    long stopAfterMs = 0;
    if (argc > 3 && std::strcmp(argv[argc - 2], "--stop-after") == 0) {
        stopAfterMs = std::atol(argv[argc - 1]);
        argc -= 2;
    }
    if (argc > 3 && std::strcmp(argv[argc - 2], "--at-complete") == 0) {
        atComplete = true;
        cut.command = argv[argc - 1];
        argc -= 2;
    } else if (argc > 4 && (std::strcmp(argv[argc - 3], "--at-rename") == 0 ||
                            std::strcmp(argv[argc - 3], "--at-flush") == 0)) {
        const long n = std::atol(argv[argc - 2]);
        (std::strcmp(argv[argc - 3], "--at-rename") == 0 ? atRename : atFlush) = n;
        cut.command = argv[argc - 1];
        argc -= 3;
        if (n < 1) argc = 0;
    }
    auto layer = std::make_shared<CutLayer>(&cut, atRename, atFlush);
    AtComplete observer(atComplete ? &cut : nullptr);
    const std::string mode = argc > 1 ? argv[1] : "";
    int result;
    if (mode == "divide" && (argc == 6 || argc == 7)) {
        result = divide(layer, observer, argv[2], argv[3], argv[4], std::atol(argv[5]),
                        argc == 7 ? std::atoi(argv[6]) : 0, stopAfterMs);
    } else if (mode == "glue" && argc == 4) {
        result = glue(layer, observer, argv[2], argv[3], stopAfterMs);
    } else if (mode == "settle" && argc == 4) {
        morvane::OutputSet::settleInterrupted(*layer, morvane::withTrailingSeparator(argv[2]),
                                              argv[3]);
        result = 0;
    } else {
        const char* program = argv[0];
        std::fprintf(
            stderr,
            "usage: %s divide SOURCE CHUNK_FOLDER PREFIX CHUNK_BYTES [RECOVERY_CHUNKS] [CUT]\n"
            "       %s glue HEADER_FILE OUTPUT_FILE [CUT]\n"
            "       %s settle FOLDER LAST_NAME\n"
            "CUT: --at-complete COMMAND | --at-rename N COMMAND | --at-flush N COMMAND\n"
            "     --stop-after MS\n",
            program, program, program);
        return 2;
    }
    if (cut.failed) {
        std::fprintf(stderr, "the cut's command failed\n");
        return 1;
    }
    if ((atRename > 0 || atFlush > 0) && !cut.ran) {
        std::fprintf(stderr, "the run made no %s %ld\n", atRename > 0 ? "rename" : "folder flush",
                     atRename > 0 ? atRename : atFlush);
        return result != 0 ? result : kStepNeverCame;
    }
    return result;
}

#pragma once

// Shared helpers of the engine tests: temporary folders, file contents,
// descriptor counting, observers that record every notification, and
// assertion helpers that show the engine's error state when a call fails.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/division_header.h"
#include "engine/file_divider.h"
#include "engine/file_divider_events.h"
#include "engine/file_glue.h"
#include "engine/file_glue_events.h"

namespace morvane_test {

using Bytes = std::string;

// A fresh folder made with mkdtemp, removed with everything in it on
// destruction. `base` defaults to $TMPDIR or /tmp.
class TempDir {
  public:
    explicit TempDir(const std::string& base = "");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder, without a trailing "/".
    const std::string& path() const { return m_path; }
    // The folder with one trailing "/", as the engines store folders.
    std::string folder() const { return m_path + "/"; }
    // Full path of `name` inside the folder.
    std::string file(const std::string& name) const { return m_path + "/" + name; }
    // Names of the entries in the folder, sorted.
    std::vector<std::string> entries() const { return entriesOf(m_path); }
    static std::vector<std::string> entriesOf(const std::string& folder);

  private:
    std::string m_path;
};

// `n` pseudo-random bytes, the same for the same seed.
Bytes randomBytes(std::size_t n, uint64_t seed);

void writeFile(const std::string& path, const Bytes& content);
// Whole content of `path`; fails the current test when it cannot be read.
Bytes readFile(const std::string& path);
bool fileExists(const std::string& path);
int64_t fileSize(const std::string& path);
// Creates a sparse file of `size` bytes.
void makeSparseFile(const std::string& path, int64_t size);

// Runs `command` with sh; "exit <status>:" followed by its output and errors.
std::string runCommand(const std::string& command);

// Number of open descriptors of this process (entries of /proc/self/fd).
int openDescriptorCount();

// Lowers this process's limit of open descriptors to the number open now
// plus `spare`, for as long as it lives.
class DescriptorLimit {
  public:
    explicit DescriptorLimit(int spare);
    ~DescriptorLimit();
    DescriptorLimit(const DescriptorLimit&) = delete;
    DescriptorLimit& operator=(const DescriptorLimit&) = delete;

  private:
    unsigned long m_soft = 0;
    bool m_set = false;
};

// The folder of the running test program, with a trailing "/".
std::string ownExecutableFolder();

// Block count of a chunk of `bytes` bytes, worked out independently of the engine.
int64_t blocksOf(int64_t bytes);
// The sizes of the block copies of one chunk of `bytes` bytes, in order.
std::vector<std::size_t> blockSizesOf(int64_t bytes);

// The expected message of an engine code.
std::string messageOf(int code);

// The bytes of a header record, assembled by hand (independent of the engine's encoder).
Bytes headerBytes(const std::string& name, int32_t avg, int32_t last, int32_t num);

// One notification with the engine's state as the observer saw it.
struct Event {
    std::string name;
    int32_t chunk = 0;
    int64_t op = 0;
    int64_t numOfOps = 0;
    int32_t code = 0;
    std::string description;
    bool sysErr = false;
};

std::vector<std::string> namesOf(const std::vector<Event>& events);
int countOf(const std::vector<Event>& events, const std::string& name);
// "onError(2) onClearErr ..." for failure messages.
std::string describe(const std::vector<Event>& events);

class DividerRecorder : public morvane::FileDividerEvents {
  public:
    explicit DividerRecorder(morvane::FileDivider& engine) : m_engine(engine) {
        engine.setObserver(this);
    }
    void onGenHeader() override { record("onGenHeader"); }
    void onNewDivision() override { record("onNewDivision"); }
    void onComplete() override { record("onComplete"); }
    void onError() override { record("onError"); }
    void onClearErr() override { record("onClearErr"); }

    std::vector<Event> events;
    void clear() { events.clear(); }

  private:
    void record(const char* name);
    morvane::FileDivider& m_engine;
};

class GlueRecorder : public morvane::FileGlueEvents {
  public:
    explicit GlueRecorder(morvane::FileGlue& engine) : m_engine(engine) {
        engine.setObserver(this);
    }
    void onError() override { record("onError"); }
    void onNewDivision() override { record("onNewDivision"); }
    void onComplete() override { record("onComplete"); }
    void onClearErr() override { record("onClearErr"); }
    void onCheckExist() override { record("onCheckExist"); }

    std::vector<Event> events;
    void clear() { events.clear(); }

  private:
    void record(const char* name);
    morvane::FileGlue& m_engine;
};

// The engine's error state as text, for failure messages.
std::string errorStateOf(const morvane::FileDivider& engine);
std::string errorStateOf(const morvane::FileGlue& engine);

// EXPECT_TRUE(Succeeded(div.analyze(), div)) shows the error state on failure.
template <class Engine>
::testing::AssertionResult Succeeded(bool result, const Engine& engine) {
    if (result) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "engine call returned false; " << errorStateOf(engine);
}

// A false result with an engine code, its message and IsSysErr false.
template <class Engine>
::testing::AssertionResult FailedWithCode(bool result, const Engine& engine, int code) {
    if (result)
        return ::testing::AssertionFailure() << "engine call returned true, expected code " << code
                                             << "; " << errorStateOf(engine);
    if (engine.ErrorCode() != code || engine.IsSysErr() ||
        engine.ErrorDescription() != messageOf(code))
        return ::testing::AssertionFailure() << "expected code " << code << " \"" << messageOf(code)
                                             << "\" (not a system error); " << errorStateOf(engine);
    return ::testing::AssertionSuccess();
}

// A false result with a system error of number `err`. When `text` is
// non-empty the description must equal it; otherwise it must be strerror(err).
template <class Engine>
::testing::AssertionResult FailedWithSystemError(bool result, const Engine& engine, int err,
                                                 const std::string& text = "");

// The error state holds engine code `code` (for setters, which return nothing).
template <class Engine>
::testing::AssertionResult HasCode(const Engine& engine, int code) {
    if (engine.ErrorCode() != code || engine.IsSysErr() ||
        engine.ErrorDescription() != messageOf(code))
        return ::testing::AssertionFailure() << "expected code " << code << " \"" << messageOf(code)
                                             << "\"; " << errorStateOf(engine);
    return ::testing::AssertionSuccess();
}

std::string strerrorText(int err);

template <class Engine>
::testing::AssertionResult FailedWithSystemError(bool result, const Engine& engine, int err,
                                                 const std::string& text) {
    const std::string expected = text.empty() ? strerrorText(err) : text;
    if (result)
        return ::testing::AssertionFailure() << "engine call returned true, expected system error "
                                             << err << "; " << errorStateOf(engine);
    if (!engine.IsSysErr() || engine.ErrorCode() != err || engine.ErrorDescription() != expected)
        return ::testing::AssertionFailure() << "expected system error " << err << " \"" << expected
                                             << "\"; " << errorStateOf(engine);
    return ::testing::AssertionSuccess();
}

// Sets up a divider on `folder` + `name` and analyses it; chunks go to
// `chunkFolder` with `prefix`.
void prepareDivider(morvane::FileDivider& div, const std::string& folder, const std::string& name,
                    const std::string& chunkFolder, const std::string& prefix);

// Writes a division of `content` by hand (header and chunk files) into `folder`.
void writeDivision(const std::string& folder, const std::string& prefix, const std::string& name,
                   const Bytes& content, int32_t avg);

}  // namespace morvane_test

#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace morvane {

// What a run is doing at a moment.
enum class RunPhaseKind {
    // No run, or a run before its first phase.
    Idle,
    // Dividing: the large file copied into chunk files.
    WritingChunks,
    // Dividing: the recovery files finished and written.
    WritingRecovery,
    // Reading one file of a set to compare it with its digests.
    Checking,
    // Rebuilding lost or damaged files of a set from its recovery data.
    Rebuilding,
    // Gluing: the chunks copied into the output file.
    Gluing,
    // The new files put on storage before they take their names.
    Flushing,
};

// One reading of a run's phase, taken from any thread.
struct RunPhaseSnapshot {
    RunPhaseKind kind = RunPhaseKind::Idle;
    // The file the phase is about (a chunk file's name); empty for none.
    std::string subject;
    // Bytes of the phase done so far, and its total (0 when not known:
    // writing recovery data and flushing). A rebuild counts the bytes it
    // reads and writes.
    int64_t done = 0;
    int64_t total = 0;
    // How long the run's last background flush of its outputs took, in
    // milliseconds; -1 before the first. The final flush is much like it.
    int64_t lastFlushMs = -1;
    // The work the run expects after the current phase, in bytes of the
    // current phase (each taking as long as one of them); -1 when the run
    // does not tell.
    int64_t laterWork = -1;
};

// The phase's text as the user reads it: "Writing chunks", "Writing recovery
// data", "Checking movie_3.div", "Rebuilding movie_3.div from recovery
// data", "Gluing chunks", "Flushing to disk"; empty for Idle.
std::string phaseText(const RunPhaseSnapshot& phase);

// The phase of a run: set by the run's thread, read from any thread.
class RunPhase {
  public:
    // Starts phase `kind` about `subject`, with `total` bytes to do and none
    // done yet.
    void enter(RunPhaseKind kind, const std::string& subject = std::string(), int64_t total = 0);
    // As enter, for a phase whose bytes done are those `counter` (not owned,
    // outliving the phase) gains from now on.
    void enterFollowing(RunPhaseKind kind, const std::atomic<int64_t>* counter, int64_t total);
    // Stops following a counter: the bytes done stay as it last had them.
    void stopFollowing();
    // Sets the snapshot's laterWork, for this phase and the ones after it.
    void expectLater(int64_t work) { m_later.store(work); }
    // Adds `bytes` to the bytes done of the current phase. Any thread.
    void advance(int64_t bytes) { m_done.fetch_add(bytes, std::memory_order_relaxed); }
    // The counter that `advance` adds to, for loops that count by themselves.
    std::atomic<int64_t>& doneCounter() { return m_done; }
    // Back to Idle, as before a run, with no flush timed.
    void reset() {
        enter(RunPhaseKind::Idle);
        m_flushMs->store(-1);
        m_later.store(-1);
    }
    // Where the run's outputs put how long each background flush took.
    // Shared: a flush the kernel cannot interrupt may end after the run.
    std::shared_ptr<std::atomic<int64_t>> flushTimes() const { return m_flushMs; }

    RunPhaseSnapshot snapshot() const;

  private:
    mutable std::mutex m_mutex;
    RunPhaseKind m_kind = RunPhaseKind::Idle;
    std::string m_subject;
    std::atomic<int64_t> m_total{0};
    std::atomic<int64_t> m_done{0};
    std::atomic<int64_t> m_later{-1};
    const std::atomic<int64_t>* m_follow = nullptr;
    int64_t m_followBase = 0;
    std::shared_ptr<std::atomic<int64_t>> m_flushMs = std::make_shared<std::atomic<int64_t>>(-1);
};

}  // namespace morvane

#pragma once

namespace morvane {

// SIGHUP, SIGINT and SIGTERM as requests to stop a run, for the rest of the
// process's life: from construction they are blocked in the calling thread
// and in every thread it starts afterwards, and are read from a descriptor
// instead of ending the process. Construct it before any thread starts.
// SIGPIPE is ignored, so that a write to a closed pipe fails with EPIPE.
class StopSignals {
  public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Becomes readable when a stop signal is pending; -1 when the
    // descriptor could not be had (the signals then stay blocked and unread).
    int fd() const { return m_fd; }
    // Takes one pending stop signal and returns its number; 0 when none is pending.
    int take();

  private:
    int m_fd = -1;
};

}  // namespace morvane

#pragma once

#include <functional>

namespace morvane {

class ProgressLine;
class StopSignals;

// Runs one engine run on a thread of its own while the calling thread
// waits for its end, passes the first stop signal on to it, and redraws
// the progress line.
class RunMonitor {
  public:
    // `progress`: the line to redraw a few times a second; nullptr for none.
    RunMonitor(StopSignals& stopSignals, ProgressLine* progress);

    // Runs `job` and returns once it has ended. `stop` is called, on this
    // thread, when the first stop signal comes; later ones change nothing.
    void run(const std::function<void()>& job, const std::function<void()>& stop);
    // The first stop signal that came during the last run; 0 when none did.
    int signal() const { return m_signal; }

  private:
    StopSignals& m_signals;
    ProgressLine* m_progress;
    int m_signal = 0;
};

}  // namespace morvane

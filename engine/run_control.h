#pragma once

#include <atomic>
#include <cstdint>

#include "engine/run_phase.h"

namespace morvane {

// What another thread may ask of a run in progress, and see of it: a stop
// request, the bytes copied so far and the phase it is in.
class RunControl {
  public:
    // See FileDivider::requestStop.
    void requestStop() { m_stopRequested = true; }
    bool stopRequested() const { return m_stopRequested; }
    bool stopped() const { return m_stopped; }
    int64_t bytesDone() const { return m_bytesDone; }

    const std::atomic<bool>& stopFlag() const { return m_stopRequested; }
    std::atomic<int64_t>& bytesCounter() { return m_bytesDone; }
    RunPhase& phase() { return m_phase; }
    const RunPhase& phase() const { return m_phase; }

    // Runs `body` as one run: counts from 0 bytes, notes whether a stop
    // request ended it, and forgets the request afterwards. The phase is
    // Idle before and after.
    template <typename Body>
    bool run(Body body) {
        m_stopped = false;
        m_bytesDone = 0;
        m_phase.reset();
        const bool done = body();
        m_phase.reset();
        m_stopped = !done && m_stopRequested;
        m_stopRequested = false;
        return done;
    }

  private:
    std::atomic<bool> m_stopRequested{false};
    std::atomic<int64_t> m_bytesDone{0};
    bool m_stopped = false;
    RunPhase m_phase;
};

}  // namespace morvane

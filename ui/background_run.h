#pragma once

#include <atomic>
#include <functional>
#include <thread>

class QObject;

namespace morvane {

// How an engine run ended. `checked` is false when a glue's chunk check
// failed, so that the glue itself never started.
struct RunOutcome {
    bool checked = true;
    bool done = false;
    bool stopped = false;
};

// One engine run on a thread of its own.
class BackgroundRun {
  public:
    using Job = std::function<RunOutcome(const std::atomic<bool>& stopRequested)>;

    // Starts `job` on a new thread. Once it has returned, `finished` is
    // called with its outcome on `context`'s thread, from that thread's
    // event loop, after everything the job posted to the objects of that
    // thread before it returned; never when `context` is destroyed first. `stopEngine` is
    // what requestStop() asks of the engine. `context` must outlive this
    // object.
    BackgroundRun(QObject* context, Job job, std::function<void()> stopEngine,
                  std::function<void(const RunOutcome&)> finished);
    // Asks the run to stop and waits for its thread when it is still going.
    ~BackgroundRun();
    BackgroundRun(const BackgroundRun&) = delete;
    BackgroundRun& operator=(const BackgroundRun&) = delete;

    // Asks the run to end early; asking again changes nothing.
    void requestStop();
    // Waits until the run's thread has ended.
    void wait();

  private:
    std::atomic<bool> m_stopRequested{false};
    std::function<void()> m_stopEngine;
    std::thread m_thread;
};

}  // namespace morvane

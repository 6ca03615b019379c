#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "engine/status.h"

namespace morvane {

// One helper thread that runs the jobs posted to it one at a time, in the
// order posted. At most `capacity` jobs wait to be started; the first
// failure a job returns is kept for whoever waits. Every call but the jobs
// themselves comes from one thread.
class WorkerLane {
  public:
    using Job = std::function<Status()>;

    explicit WorkerLane(std::size_t capacity);
    // Stops the lane (see stop).
    ~WorkerLane();
    WorkerLane(const WorkerLane&) = delete;
    WorkerLane& operator=(const WorkerLane&) = delete;

    // Starts the thread; fails with the errno of a thread that cannot be
    // started. Jobs posted before are run once it is started.
    Status start();
    // Queues `job`, waiting while `capacity` jobs are queued. The job's
    // number, counting the lane's jobs from 1; 0 once the lane is stopped,
    // or when `*stop` is set while it waits (checked every twentieth of a
    // second): the job is then not queued.
    int64_t post(Job job, const std::atomic<bool>* stop = nullptr);
    // Jobs queued and not started yet.
    std::size_t waiting() const;
    // Returns once jobs 1..`number` have run, a job has failed or the lane
    // is stopped: the first failure, OK without one. With `stop`, gives up
    // with ECANCELED within a twentieth of a second once `*stop` is set.
    Status waitFor(int64_t number, const std::atomic<bool>* stop = nullptr);
    // True once a job has failed.
    bool failed() const;
    // Drops the jobs not started and waits for the running one to end.
    void stop();
    // Drops the jobs not started and returns at once: the running job ends
    // on its own, and keeps what the lane shares with it alive until then.
    void detach();

  private:
    struct Shared;
    static void run(const std::shared_ptr<Shared>& shared);
    void requestStop();

    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
};

}  // namespace morvane

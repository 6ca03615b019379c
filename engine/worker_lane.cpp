#include "engine/worker_lane.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>

namespace morvane {

namespace {

// How often a wait that can be stopped looks at its stop request.
constexpr auto kStopPoll = std::chrono::milliseconds(50);

}  // namespace

struct WorkerLane::Shared {
    explicit Shared(std::size_t capacity) : capacity(capacity) {}

    const std::size_t capacity;
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::deque<Job> queue;
    int64_t posted = 0;
    int64_t done = 0;
    Status failure;
    bool stopping = false;
};

WorkerLane::WorkerLane(std::size_t capacity)
    : m_shared(std::make_shared<Shared>(capacity == 0 ? 1 : capacity)) {}

WorkerLane::~WorkerLane() {
    stop();
}

Status WorkerLane::start() {
    try {
        m_thread = std::thread([shared = m_shared] { run(shared); });
    } catch (const std::system_error& e) {
        return Status::SysError(e.code().value());
    }
    return Status::OK();
}

int64_t WorkerLane::post(Job job, const std::atomic<bool>* stop) {
    Shared& s = *m_shared;
    int64_t number = 0;
    {
        std::unique_lock<std::mutex> lock(s.mutex);
        const auto room = [&] { return s.stopping || s.queue.size() < s.capacity; };
        if (!stop) s.changed.wait(lock, room);
        while (!room()) {
            if (*stop) return 0;
            s.changed.wait_for(lock, kStopPoll);
        }
        if (s.stopping) return 0;
        s.queue.push_back(std::move(job));
        number = ++s.posted;
    }
    s.changed.notify_all();
    return number;
}

std::size_t WorkerLane::waiting() const {
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    return m_shared->queue.size();
}

Status WorkerLane::waitFor(int64_t number, const std::atomic<bool>* stop) {
    Shared& s = *m_shared;
    std::unique_lock<std::mutex> lock(s.mutex);
    const auto over = [&] { return s.done >= number || !s.failure.ok() || s.stopping; };
    if (!stop) {
        s.changed.wait(lock, over);
        return s.failure;
    }
    while (!over()) {
        if (*stop) return Status::SysError(ECANCELED);
        s.changed.wait_for(lock, kStopPoll);
    }
    return s.failure;
}

bool WorkerLane::failed() const {
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    return !m_shared->failure.ok();
}

void WorkerLane::requestStop() {
    std::deque<Job> dropped;
    {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        m_shared->stopping = true;
        dropped.swap(m_shared->queue);
    }
    m_shared->changed.notify_all();
}

void WorkerLane::stop() {
    requestStop();
    if (m_thread.joinable()) m_thread.join();
}

void WorkerLane::detach() {
    requestStop();
    if (m_thread.joinable()) m_thread.detach();
}

void WorkerLane::run(const std::shared_ptr<Shared>& shared) {
    Shared& s = *shared;
    std::unique_lock<std::mutex> lock(s.mutex);
    for (;;) {
        s.changed.wait(lock, [&] { return s.stopping || !s.queue.empty(); });
        if (s.stopping) return;
        Job job = std::move(s.queue.front());
        s.queue.pop_front();
        lock.unlock();
        s.changed.notify_all();
        const Status result = job();
        job = nullptr;
        lock.lock();
        if (!result.ok() && s.failure.ok()) s.failure = result;
        ++s.done;
        s.changed.notify_all();
    }
}

}  // namespace morvane

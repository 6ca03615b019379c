#include "cli/run_monitor.h"

#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <thread>

#include "cli/progress_line.h"
#include "cli/stop_signals.h"

namespace morvane {

namespace {

constexpr int kRedrawMs = 200;

// An eventfd that the run's thread raises when the run has ended.
class EndNotice {
  public:
    EndNotice() : m_fd(eventfd(0, EFD_CLOEXEC)) {}
    ~EndNotice() {
        if (m_fd >= 0) ::close(m_fd);
    }
    EndNotice(const EndNotice&) = delete;
    EndNotice& operator=(const EndNotice&) = delete;

    int fd() const { return m_fd; }
    void raise() {
        const uint64_t one = 1;
        ssize_t n;
        do {
            n = ::write(m_fd, &one, sizeof one);
        } while (n < 0 && errno == EINTR);
    }

  private:
    int m_fd;
};

}  // namespace

RunMonitor::RunMonitor(StopSignals& stopSignals, ProgressLine* progress)
    : m_signals(stopSignals), m_progress(progress) {}

void RunMonitor::run(const std::function<void()>& job, const std::function<void()>& stop) {
    m_signal = 0;
    EndNotice end;
    if (end.fd() < 0) {
        // Without a way to wait for both, the run goes alone.
        job();
        return;
    }
    std::thread worker([&job, &end] {
        job();
        end.raise();
    });
    pollfd watched[2] = {{end.fd(), POLLIN, 0}, {m_signals.fd(), POLLIN, 0}};
    const nfds_t count = m_signals.fd() >= 0 ? 2 : 1;
    for (;;) {
        const int ready = poll(watched, count, m_progress ? kRedrawMs : -1);
        if (ready < 0 && errno != EINTR) break;
        if (count == 2 && (watched[1].revents & POLLIN)) {
            const int signo = m_signals.take();
            if (signo != 0 && m_signal == 0) {
                m_signal = signo;
                stop();
            }
        }
        if (watched[0].revents & POLLIN) break;
        if (m_progress) m_progress->draw();
    }
    worker.join();
    if (m_progress) m_progress->clear();
}

}  // namespace morvane

#include "ui/background_run.h"

#include <QMetaObject>
#include <QObject>

namespace morvane {

BackgroundRun::BackgroundRun(QObject* context, Job job, std::function<void()> stopEngine,
                             std::function<void(const RunOutcome&)> finished)
    : m_stopEngine(std::move(stopEngine)) {
    m_thread = std::thread([this, context, job = std::move(job), finished = std::move(finished)] {
        const RunOutcome outcome = job(m_stopRequested);
        // Events posted to the objects of one thread are delivered in the
        // order they were posted, so this comes after every notification of
        // the run.
        QMetaObject::invokeMethod(
            context, [finished, outcome] { finished(outcome); }, Qt::QueuedConnection);
    });
}

BackgroundRun::~BackgroundRun() {
    if (m_thread.joinable()) {
        requestStop();
        m_thread.join();
    }
}

void BackgroundRun::requestStop() {
    if (m_stopRequested.exchange(true)) return;
    if (m_stopEngine) m_stopEngine();
}

void BackgroundRun::wait() {
    if (m_thread.joinable()) m_thread.join();
}

}  // namespace morvane

#include "ui/run_controller.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "ui/busy_cursor.h"
#include "ui/busy_state.h"
#include "ui/desktop.h"
#include "ui/window_geometry.h"
#include "ui/window_layout.h"

namespace morvane {

namespace {

constexpr int kProgressRefreshMs = 150;
// A run that took at least this long is announced when it ends while the
// window is not active.
constexpr int64_t kAnnouncedRunMs = 10000;

}  // namespace

RunController::RunController(Desktop& desktop, BusyState& busy, QLabel* statusLine, QWidget* window)
    : m_desktop(desktop), m_busy(busy), m_statusLine(statusLine), m_window(window) {
    createStrip(statusLine->parentWidget());
}

RunController::~RunController() {
    if (!m_run) return;
    m_run.reset();
    m_busy.setRunning(false);
    releaseDesktop();
}

void RunController::createStrip(QWidget* client) {
    using namespace layout;
    prgRun = new QProgressBar(client);
    prgRun->setObjectName(QStringLiteral("prgRun"));
    prgRun->setGeometry(twipsRect(kBarLeft, kStatusTop, kBarWidth, kRowHeight));
    prgRun->setRange(0, 100);
    prgRun->setAccessibleName(tr("Progress"));

    lblTimeLeft = new QLabel(client);
    lblTimeLeft->setObjectName(QStringLiteral("lblTimeLeft"));
    lblTimeLeft->setGeometry(twipsRect(kTimeLeftLeft, kStatusTop, kTimeLeftWidth, kRowHeight));
    lblTimeLeft->setTextFormat(Qt::PlainText);
    lblTimeLeft->setAccessibleName(tr("Time left"));

    cmdStop = new QPushButton(tr("S&top"), client);
    cmdStop->setObjectName(QStringLiteral("cmdStop"));
    cmdStop->setGeometry(twipsRect(kStopLeft, kStopTop, kStopWidth, kStopHeight));
    cmdStop->setAutoDefault(false);
    cmdStop->setAccessibleName(tr("Stop"));
    connect(cmdStop, &QPushButton::clicked, this, [this] { cmdStop_Click(); });

    tmrProgress = new QTimer(this);
    tmrProgress->setObjectName(QStringLiteral("tmrProgress"));
    tmrProgress->setInterval(kProgressRefreshMs);
    connect(tmrProgress, &QTimer::timeout, this, [this] { refreshProgress(); });
    showRunStrip(false);
}

void RunController::showRunStrip(bool visible) {
    using namespace layout;
    m_statusLine->setGeometry(
        twipsRect(kStatusLeft, kStatusTop, visible ? kRunStatusWidth : kStatusWidth, kRowHeight));
    prgRun->setVisible(visible);
    lblTimeLeft->setVisible(visible);
    cmdStop->setVisible(visible);
}

void RunController::start(const RunRequest& request) {
    m_request = request;
    m_progress.start(request.total);
    m_busyCursor = std::make_unique<BusyCursor>();
    prgRun->setValue(0);
    lblTimeLeft->clear();
    prgRun->setAccessibleDescription(QString());
    showRunStrip(true);
    m_shownPercent = 0;
    m_desktop.showRunProgress(0.0);
    m_desktop.inhibitSleep(request.texts->busyReason.arg(request.fileName));
    m_busy.setRunning(true);
    m_run =
        std::make_unique<BackgroundRun>(this, request.job, request.stopEngine,
                                        [this](const RunOutcome& outcome) { runEnded(outcome); });
    tmrProgress->start();
}

void RunController::refreshProgress() {
    if (!m_run) return;
    const int64_t done = m_request.bytesDone();
    const int percent = m_progress.percent(done);
    prgRun->setValue(percent);
    const QString left = m_progress.timeLeft(done);
    if (lblTimeLeft->text() != left) {
        lblTimeLeft->setText(left);
        prgRun->setAccessibleDescription(left);
    }
    if (percent != m_shownPercent) {
        m_shownPercent = percent;
        m_desktop.showRunProgress(m_progress.fraction(done));
    }
}

void RunController::cmdStop_Click() {
    if (m_run) m_run->requestStop();
}

void RunController::runEnded(const RunOutcome& outcome) {
    if (m_asking) {
        m_deferredOutcome = outcome;
        return;
    }
    // Busy until the panel has taken the outcome and its message box is
    // gone; a close asked for meanwhile happens after it.
    const BusyState::Scope busy(m_busy);
    m_run->wait();
    m_run.reset();
    m_busy.setRunning(false);
    tmrProgress->stop();
    showRunStrip(false);
    releaseDesktop();
    const RunRequest request = std::move(m_request);
    m_request = RunRequest();
    if (!outcome.stopped && m_progress.elapsedMs() >= kAnnouncedRunMs &&
        !m_window->isActiveWindow())
        m_desktop.notifyRunEnded(outcomeSummary(*request.texts, outcome), request.fileName);
    request.ended(outcome);
}

void RunController::releaseDesktop() {
    m_busyCursor.reset();
    m_desktop.showRunProgress(std::nullopt);
    m_desktop.allowSleep();
}

void RunController::askToStopAndQuit(const std::function<void()>& stopping) {
    if (m_asking) return;
    m_asking = true;
    const bool stop = m_desktop.askYesNo(m_window, m_request.texts->closeQuestion);
    m_asking = false;
    if (stop) {
        stopping();
        if (m_run) m_run->requestStop();
    }
    if (m_deferredOutcome) {
        const RunOutcome outcome = *m_deferredOutcome;
        m_deferredOutcome.reset();
        runEnded(outcome);
    }
}

}  // namespace morvane

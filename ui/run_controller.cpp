#include "ui/run_controller.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <functional>
#include <string>

#include "ui/busy_cursor.h"
#include "ui/busy_state.h"
#include "ui/desktop.h"
#include "ui/elided_label.h"
#include "ui/engine_text.h"
#include "ui/number_format.h"
#include "ui/window_geometry.h"
#include "ui/window_layout.h"

namespace morvane {

namespace {

constexpr int kProgressRefreshMs = 150;
// A run that took at least this long is announced when it ends while the
// window is not active.
constexpr int64_t kAnnouncedRunMs = 10000;
// The bar counts in thousandths, as fine as the status line's percentage.
constexpr int kBarSteps = 1000;

int permilleOf(double share) {
    return static_cast<int>(std::lround(std::clamp(share, 0.0, 1.0) * kBarSteps));
}

}  // namespace

RunController::RunController(Desktop& desktop, BusyState& busy, QLabel* statusLine, QWidget* window)
    : m_desktop(desktop),
      m_busy(busy),
      m_statusLine(statusLine),
      m_window(window),
      m_client(statusLine->parentWidget()) {
    createStrip(m_client);
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
    prgRun->setRange(0, kBarSteps);
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
    m_escape = new QShortcut(QKeySequence(Qt::Key_Escape), m_window);
    m_escape->setContext(Qt::WindowShortcut);
    connect(m_escape, &QShortcut::activated, this, [this] { stopRun(); });
    createRunRow(client);

    tmrProgress = new QTimer(this);
    tmrProgress->setObjectName(QStringLiteral("tmrProgress"));
    tmrProgress->setInterval(kProgressRefreshMs);
    connect(tmrProgress, &QTimer::timeout, this, [this] { refreshProgress(); });
    showRunStrip(false);
}

void RunController::createRunRow(QWidget* client) {
    using namespace layout;
    lblPhase = new ElidedLabel(client);
    lblPhase->setObjectName(QStringLiteral("lblPhase"));
    lblPhase->setGeometry(twipsRect(kStatusLeft, kRunRowTop, kPhaseWidth, kRowHeight));
    lblPhase->setTextFormat(Qt::PlainText);
    lblPhase->setAccessibleName(tr("Phase"));

    lblRunBytes = new QLabel(client);
    lblRunBytes->setObjectName(QStringLiteral("lblRunBytes"));
    lblRunBytes->setGeometry(twipsRect(kRunBytesLeft, kRunRowTop, kRunBytesWidth, kRowHeight));
    lblRunBytes->setTextFormat(Qt::PlainText);
    lblRunBytes->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblRunBytes->setAccessibleName(tr("Bytes done"));
}

void RunController::showRunStrip(bool visible) {
    using namespace layout;
    m_client->setFixedSize(
        twipsRect(0, 0, kClientWidth, visible ? kRunClientHeight : kClientHeight).size());
    m_statusLine->setGeometry(
        twipsRect(kStatusLeft, kStatusTop, visible ? kRunStatusWidth : kStatusWidth, kRowHeight));
    prgRun->setVisible(visible);
    lblTimeLeft->setVisible(visible);
    cmdStop->setVisible(visible);
    lblPhase->setVisible(visible);
    lblRunBytes->setVisible(visible);
    m_escape->setEnabled(visible);
}

void RunController::start(const RunRequest& request) {
    m_request = request;
    m_progress.start();
    m_phase = RunPhaseSnapshot();
    m_phaseKey = -1;
    m_bytesBefore = 0;
    m_phaseUntold = true;
    m_busyCursor = std::make_unique<BusyCursor>();
    m_blocksDone = 0;
    m_blocksTotal = 0;
    m_stopping = false;
    m_statusShown.clear();
    showOnBar(0.0, formatPercent(0.0));
    lblTimeLeft->clear();
    lblPhase->setText(fromEngineText(phaseText(currentPhase())));
    lblRunBytes->clear();
    prgRun->setAccessibleDescription(QString());
    cmdStop->setEnabled(true);
    showRunStrip(true);
    m_shownPermille = 0;
    m_desktop.showRunProgress(0.0);
    m_desktop.inhibitSleep(request.texts->busyReason.arg(request.fileName));
    m_busy.setRunning(true);
    m_run =
        std::make_unique<BackgroundRun>(this, request.job, request.stopEngine,
                                        [this](const RunOutcome& outcome) { runEnded(outcome); });
    tmrProgress->start();
}

RunPhaseSnapshot RunController::currentPhase() const {
    if (m_request.phase) return m_request.phase();
    RunPhaseSnapshot whole;
    whole.kind = RunPhaseKind::WritingChunks;
    whole.done = m_request.bytesDone ? m_request.bytesDone() : 0;
    whole.total = m_request.total;
    return whole;
}

void RunController::showBlocks(int64_t done, int64_t total) {
    m_blocksDone = done;
    m_blocksTotal = total;
    // The bar moves with the status line, not a refresh later.
    if (m_run) showPhase(m_phase);
}

void RunController::showOnBar(double share, const QString& percentText) {
    if (prgRun->maximum() == 0) prgRun->setRange(0, kBarSteps);
    prgRun->setValue(permilleOf(share));
    prgRun->setFormat(percentText);
}

void RunController::refreshProgress() {
    if (!m_run) return;
    const RunPhaseSnapshot phase = currentPhase();
    takeWork(phase);
    showPhase(phase);
    if (m_stopping) return;
    const QString bytes =
        phase.total > 0 ? bytesOfTotalText(phase.done, phase.total, m_progress.bytesPerSecond())
                        : QString();
    if (lblRunBytes->text() != bytes) lblRunBytes->setText(bytes);
    // The figure behind the words, for whoever measures the estimate.
    // Before a copy, the copy's pace is not known yet: a glue that checks
    // and rebuilds first tells no time left until it glues.
    const bool beforeCopy = m_request.copies && (phase.kind == RunPhaseKind::Checking ||
                                                 phase.kind == RunPhaseKind::Rebuilding);
    const bool untold = m_phaseUntold || beforeCopy;
    prgRun->setProperty("secondsLeft", untold ? -1.0 : m_progress.secondsLeft().value_or(-1.0));
    const QString left = untold ? QString() : m_progress.timeLeft();
    if (lblTimeLeft->text() != left) {
        lblTimeLeft->setText(left);
        prgRun->setAccessibleDescription(left);
    }
    const int permille = permilleOf(m_progress.fraction());
    if (permille != m_shownPermille) {
        m_shownPermille = permille;
        m_desktop.showRunProgress(m_progress.fraction());
    }
}

void RunController::takeWork(const RunPhaseSnapshot& phase) {
    const int64_t key = static_cast<int64_t>(phase.kind) * 1000003 +
                        static_cast<int64_t>(std::hash<std::string>()(phase.subject) % 1000003);
    if (key != m_phaseKey) {
        // The phase before is done: all of it counts.
        m_bytesBefore += std::max(m_phase.total, m_phase.done);
        m_phaseKey = key;
    }
    m_phase = phase;
    // A phase that counts no bytes tells nothing of the time left; the
    // share of the run stays where the phase before left it.
    m_phaseUntold = phase.total <= 0;
    if (m_phaseUntold) {
        m_progress.waitIn(key, m_bytesBefore);
        return;
    }
    const bool copying =
        phase.kind == RunPhaseKind::WritingChunks || phase.kind == RunPhaseKind::Gluing;
    // What the engine expects of the phases after the copy, once it can
    // tell; the plan's bytes until then.
    const int64_t after =
        !copying ? 0 : (phase.laterWork >= 0 ? phase.laterWork : m_request.laterBytes);
    // The final flush is much like the last background one.
    m_progress.setUncountedSeconds(copying && phase.lastFlushMs > 0 ? phase.lastFlushMs / 1000.0
                                                                    : 0.0);
    m_progress.sample(m_bytesBefore + phase.done,
                      m_bytesBefore + std::max(phase.total, phase.done) + after, key,
                      m_bytesBefore);
}

void RunController::showPhase(const RunPhaseSnapshot& phase) {
    const bool copying =
        phase.kind == RunPhaseKind::WritingChunks || phase.kind == RunPhaseKind::Gluing;
    if (copying && m_blocksTotal > 0) {
        // The same count as the status line's, from the same notification.
        const double share = static_cast<double>(m_blocksDone) / static_cast<double>(m_blocksTotal);
        showOnBar(share, formatPercent(share));
        m_statusShown.clear();
    } else if (phase.total > 0) {
        const double share = std::clamp(
            static_cast<double>(phase.done) / static_cast<double>(phase.total), 0.0, 1.0);
        showOnBar(share, formatPercent(share));
        // The same count on the status line; the copy's notifications write it
        // in the other phases.
        if (phase.kind == RunPhaseKind::Rebuilding) {
            showStatus(fromEngineText(phaseText(phase)) + QStringLiteral(" (") +
                       formatPercent(share) + u')');
        }
    } else if (phase.kind != RunPhaseKind::Idle && prgRun->maximum() != 0) {
        // A phase that cannot tell how far it is: the bar moves without a count.
        prgRun->setRange(0, 0);
    }
    // The rebuilt files put on storage: the rebuild's count is over.
    if (phase.kind == RunPhaseKind::Flushing && !m_statusShown.isEmpty())
        showStatus(fromEngineText(phaseText(phase)));
    if (m_stopping) return;
    const QString text = fromEngineText(phaseText(phase));
    if (lblPhase->text() != text) {
        lblPhase->setText(text);
        lblPhase->setAccessibleDescription(text);
    }
}

void RunController::showStatus(const QString& text) {
    if (m_stopping || text == m_statusShown) return;
    m_statusShown = text;
    emit statusChanged(text);
}

void RunController::cmdStop_Click() {
    stopRun();
}

void RunController::stopRun() {
    if (!m_run || m_stopping) return;
    m_stopping = true;
    cmdStop->setEnabled(false);
    lblPhase->setText(tr("Stopping…"));
    lblTimeLeft->clear();
    prgRun->setAccessibleDescription(lblPhase->text());
    m_run->requestStop();
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
        m_desktop.notifyRunEnded(outcomeSummary(*request.texts, outcome), request.fileName,
                                 outcome.done ? request.outputFolder : QString());
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
        stopRun();
    }
    if (m_deferredOutcome) {
        const RunOutcome outcome = *m_deferredOutcome;
        m_deferredOutcome.reset();
        runEnded(outcome);
    }
}

}  // namespace morvane

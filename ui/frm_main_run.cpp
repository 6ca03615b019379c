// A division or a glue on its own thread: the progress strip with Stop, the
// notifications handed to the window's thread, the run's end, and closing
// the window during a run.
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include "ui/busy_cursor.h"
#include "ui/frm_main.h"
#include "ui/window_geometry.h"

namespace morvane {

namespace {

// The status line's row, in twips; during a run the status line leaves its
// right part to the progress bar, the time left and Stop.
constexpr int kRowLeft = 120;
constexpr int kRowTop = 4800;
constexpr int kRowWidth = 8925;
constexpr int kRunStatusWidth = 3600;
constexpr int kBarLeft = 3780;
constexpr int kBarWidth = 1860;
constexpr int kTimeLeftLeft = 5730;
constexpr int kTimeLeftWidth = 2145;
constexpr int kStopLeft = 7935;
constexpr int kStopWidth = 1110;
constexpr int kStopTop = 4770;
constexpr int kStopHeight = 375;

constexpr int kProgressRefreshMs = 150;
// A run that took at least this long is announced when it ends while the
// window is not active.
constexpr int64_t kAnnouncedRunMs = 10000;

}  // namespace

void frmMain::createRunStrip(QWidget* client) {
    prgRun = new QProgressBar(client);
    prgRun->setObjectName(QStringLiteral("prgRun"));
    prgRun->setGeometry(twipsRect(kBarLeft, kRowTop, kBarWidth, kRowHeight));
    prgRun->setRange(0, 100);
    prgRun->setAccessibleName(tr("Progress"));

    lblTimeLeft = new QLabel(client);
    lblTimeLeft->setObjectName(QStringLiteral("lblTimeLeft"));
    lblTimeLeft->setGeometry(twipsRect(kTimeLeftLeft, kRowTop, kTimeLeftWidth, kRowHeight));
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

void frmMain::showRunStrip(bool visible) {
    lblStatus->setGeometry(
        twipsRect(kRowLeft, kRowTop, visible ? kRunStatusWidth : kRowWidth, kRowHeight));
    prgRun->setVisible(visible);
    lblTimeLeft->setVisible(visible);
    cmdStop->setVisible(visible);
}

void frmMain::deliver(void (frmMain::*handler)(const EngineSnapshot&), EngineSnapshot snapshot) {
    if (QThread::currentThread() == thread()) {
        (this->*handler)(snapshot);
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, handler, snapshot = std::move(snapshot)] { (this->*handler)(snapshot); },
        Qt::QueuedConnection);
}

void frmMain::startRun(RunKind kind, int64_t total, const QString& fileName, BackgroundRun::Job job,
                       std::function<void()> stopEngine, std::function<int64_t()> bytesDone) {
    m_runKind = kind;
    m_runFileName = fileName;
    m_bytesDone = std::move(bytesDone);
    m_progress.start(total);
    m_busyCursor = std::make_unique<BusyCursor>();
    prgRun->setValue(0);
    lblTimeLeft->clear();
    prgRun->setAccessibleDescription(QString());
    showRunStrip(true);
    m_shownPercent = 0;
    m_desktop.showRunProgress(0.0);
    m_desktop.inhibitSleep(
        (kind == RunKind::Division ? tr("Dividing %1") : tr("Gluing %1")).arg(fileName));
    m_run =
        std::make_unique<BackgroundRun>(this, std::move(job), std::move(stopEngine),
                                        [this](const RunOutcome& outcome) { runEnded(outcome); });
    tmrProgress->start();
}

void frmMain::refreshProgress() {
    if (!m_run) return;
    const int64_t done = m_bytesDone();
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

void frmMain::cmdStop_Click() {
    if (m_run) m_run->requestStop();
}

void frmMain::runEnded(const RunOutcome& outcome) {
    if (m_asking) {
        m_deferredOutcome = outcome;
        return;
    }
    // Busy until the end's message box is gone; a close asked for meanwhile
    // happens after it.
    BusyScope busy(*this);
    m_run->wait();
    m_run.reset();
    tmrProgress->stop();
    showRunStrip(false);
    m_busyCursor.reset();
    m_desktop.showRunProgress(std::nullopt);
    m_desktop.allowSleep();
    if (!outcome.stopped && m_progress.elapsedMs() >= kAnnouncedRunMs && !isActiveWindow())
        m_desktop.notifyRunEnded(runResultText(outcome), m_runFileName);
    if (m_runKind == RunKind::Division)
        divisionEnded(outcome);
    else
        glueEnded(outcome);
}

QString frmMain::runResultText(const RunOutcome& outcome) const {
    if (m_runKind == RunKind::Division) {
        return outcome.done ? QStringLiteral("File Successfully Divided!")
                            : QStringLiteral("Failed to divide the file.");
    }
    if (!outcome.checked)
        return QStringLiteral("Error has occurred when checking chunk existence.");
    return outcome.done ? QStringLiteral("File Successfully Glued Together!")
                        : QStringLiteral("Failed to glue files together.");
}

void frmMain::askToStopAndQuit() {
    if (m_asking || m_closePending) return;
    m_asking = true;
    const bool stop = m_desktop.askYesNo(this, m_runKind == RunKind::Division
                                                   ? tr("A division is going on. Stop it and quit?")
                                                   : tr("A glue is going on. Stop it and quit?"));
    m_asking = false;
    if (stop) {
        m_closePending = true;
        if (m_run) m_run->requestStop();
    }
    if (m_deferredOutcome) {
        const RunOutcome outcome = *m_deferredOutcome;
        m_deferredOutcome.reset();
        runEnded(outcome);
    }
}

}  // namespace morvane

#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <optional>

#include "ui/background_run.h"
#include "ui/run_progress.h"
#include "ui/run_request.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QShortcut;
class QTimer;

namespace morvane {

class BusyCursor;
class BusyState;
class Desktop;

// Runs what a panel asks for on a thread of its own and shows it going on:
// the progress strip in the status line's row (the bar, the time left and
// Stop) and in a row the client area grows by during the run (the phase by
// name, bytes done and speed), the busy cursor, the progress on the taskbar, the sleep inhibitor,
// and a notification when a long run ends while the window is not active.
// The run's outcome goes back to the panel on the window's thread, after
// every notification of the run.
class RunController : public QObject {
    Q_OBJECT

  public:
    // Puts the strip, hidden, into the row of `statusLine`, which leaves
    // its right part to the strip during a run. Questions and notifications
    // are about `window`. All three outlive this object.
    RunController(Desktop& desktop, BusyState& busy, QLabel* statusLine, QWidget* window);
    // Stops a run still going on and waits for it.
    ~RunController() override;

    // Starts the run `request` asks for; no run may be going on. The
    // window counts as busy from now until the panel has taken the outcome.
    void start(const RunRequest& request);
    // Asks whether to stop the run going on and quit. On Yes, calls
    // `stopping`, then asks the run to stop. A run that ends while the
    // question is up is taken once it is answered; asking again meanwhile
    // does nothing.
    void askToStopAndQuit(const std::function<void()>& stopping);
    // Asks the run going on to stop, as Stop and Escape do: the strip says
    // "Stopping…" and Stop is disabled at once. Nothing happens without a
    // run, or when it was already asked.
    void stopRun();
    // The blocks the status line has just counted, of the run's total; the
    // bar shows the same count while the run copies blocks.
    void showBlocks(int64_t done, int64_t total);

  signals:
    // A text for the status line, for a phase whose progress no engine
    // notification tells: "Rebuilding movie_3.div from recovery data (42.0%)".
    void statusChanged(const QString& text);

  private:
    void createStrip(QWidget* client);
    void createRunRow(QWidget* client);
    void showRunStrip(bool visible);
    void refreshProgress();
    // Shows `share` (0 to 1) on the bar as `percentText`.
    void showOnBar(double share, const QString& percentText);
    // Shows the phase's own progress on the bar, and its name.
    void showPhase(const RunPhaseSnapshot& phase);
    // Puts `text` on the status line, unless it is there or Stop was asked.
    void showStatus(const QString& text);
    // Counts the run's work so far into the time left, the speed and the taskbar.
    void takeWork(const RunPhaseSnapshot& phase);
    // The phase the run is in; the whole run as one phase of copying when
    // the panel tells none.
    RunPhaseSnapshot currentPhase() const;
    void cmdStop_Click();
    void runEnded(const RunOutcome& outcome);
    // Gives back the cursor, the taskbar and the machine's sleep.
    void releaseDesktop();

    Desktop& m_desktop;
    BusyState& m_busy;
    QLabel* m_statusLine;
    QWidget* m_window;
    QWidget* m_client = nullptr;

    RunRequest m_request;
    std::unique_ptr<BackgroundRun> m_run;
    RunProgress m_progress;
    std::unique_ptr<BusyCursor> m_busyCursor;
    // The share last shown on the taskbar, in thousandths.
    int m_shownPermille = -1;
    // The blocks the status line counted last, of the run's total.
    int64_t m_blocksDone = 0;
    int64_t m_blocksTotal = 0;
    // Stop was asked for the run going on.
    bool m_stopping = false;
    // The text this run last put on the status line; empty when none.
    QString m_statusShown;
    // The phase last read, told apart by its kind and subject, and the
    // bytes of the phases before it.
    RunPhaseSnapshot m_phase;
    int64_t m_phaseKey = -1;
    int64_t m_bytesBefore = 0;
    // The phase going on counts no bytes.
    bool m_phaseUntold = true;
    // The close question is up; a run that ends meanwhile is taken after it.
    bool m_asking = false;
    std::optional<RunOutcome> m_deferredOutcome;

    QProgressBar* prgRun = nullptr;
    QLabel* lblTimeLeft = nullptr;
    QPushButton* cmdStop = nullptr;
    QLabel* lblPhase = nullptr;
    QLabel* lblRunBytes = nullptr;
    QShortcut* m_escape = nullptr;
    QTimer* tmrProgress = nullptr;
};

}  // namespace morvane

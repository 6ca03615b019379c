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
class QTimer;

namespace morvane {

class BusyCursor;
class BusyState;
class Desktop;

// Runs what a panel asks for on a thread of its own and shows it going on:
// the progress strip in the status line's row (the bar, the time left and
// Stop), the busy cursor, the progress on the taskbar, the sleep inhibitor,
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

  private:
    void createStrip(QWidget* client);
    void showRunStrip(bool visible);
    void refreshProgress();
    void cmdStop_Click();
    void runEnded(const RunOutcome& outcome);
    // Gives back the cursor, the taskbar and the machine's sleep.
    void releaseDesktop();

    Desktop& m_desktop;
    BusyState& m_busy;
    QLabel* m_statusLine;
    QWidget* m_window;

    RunRequest m_request;
    std::unique_ptr<BackgroundRun> m_run;
    RunProgress m_progress;
    std::unique_ptr<BusyCursor> m_busyCursor;
    // The percentage last shown on the taskbar.
    int m_shownPercent = -1;
    // The close question is up; a run that ends meanwhile is taken after it.
    bool m_asking = false;
    std::optional<RunOutcome> m_deferredOutcome;

    QProgressBar* prgRun = nullptr;
    QLabel* lblTimeLeft = nullptr;
    QPushButton* cmdStop = nullptr;
    QTimer* tmrProgress = nullptr;
};

}  // namespace morvane

#pragma once

#include <QGroupBox>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "ui/desktop.h"
#include "ui/engine_signals.h"
#include "ui/run_request.h"
#include "ui/window_layout.h"

class QLabel;
class QPushButton;

namespace morvane {

class BusyState;
class FileLayer;
class OpenSaveDialog;

// What the divide panel and the glue panel share: a frame in the panels'
// place of the window, rows of a caption and a framed value, the buttons at
// its foot, its engine's notifications as signals, and the run it asks for
// with the outcome it takes back.
//
// A panel owns its engine. It tells the window what the window needs by
// its signals: a text for the status line, a run to start, and that it has
// closed.
class EnginePanel : public QGroupBox {
    Q_OBJECT

  public:
    // What a panel uses of the window; all of it outlives the panel.
    struct Services {
        Desktop& desktop;
        OpenSaveDialog& dialog;
        BusyState& busy;
        // What the engines work through; nullptr means the POSIX one.
        std::shared_ptr<FileLayer> fileLayer;
        // True when the status line shows `text` whole.
        std::function<bool(const QString& text)> fitsStatusLine;
    };

    // A panel named `name`, read out as `spokenName`, in `client`.
    EnginePanel(const char* name, const QString& spokenName, const PanelTexts& texts,
                const Services& services, QWidget* client);

    // Shows the open dialog that chooses the panel's file: its full path,
    // or nothing when cancelled.
    std::optional<QString> chooseInput();
    // Makes a new engine for the file at `chosen` and fills the panel from
    // its analysis. When the analysis fails, says so in a message box,
    // drops the engine and returns false. Showing or hiding the panel is
    // the caller's.
    bool open(const QString& chosen);

  signals:
    // A text for the status line.
    void statusChanged(const QString& text);
    // More about the status line's text, for its tooltip and screen readers;
    // it stands until the next text.
    void statusNoted(const QString& note);
    // The panel asks for a run; its outcome comes back to the panel.
    void runRequested(const RunRequest& request);
    // The panel has hidden itself: by Cancel, or at the end of a run.
    void closed();
    // The status line has just counted `done` blocks of `total`.
    void blocksShown(int64_t done, int64_t total);
    // Cancel was pressed during a run: the run is to stop, and the panel
    // closes once it has ended.
    void stopRequested();

  protected:
    // Makes the engine for the file `name` in `folder` (which ends in "/"),
    // analyses it and fills the panel; false when the analysis failed.
    virtual bool analyze(const QString& name, const QString& folder) = 0;
    virtual void releaseEngine() = 0;
    // A run ended with success; the status line already shows it.
    virtual void runSucceeded() {}
    // A run ended stopped or failed; the panel closes next.
    virtual void runFailed() {}
    // Enables the controls that a run ignores, or disables them while one
    // goes on.
    virtual void enableRunControls(bool enabled) = 0;

    // A caption on the row at `top`.
    QLabel* caption(const char* name, const QString& text, int top);
    // A row of a caption and a framed value, `width` wide, which the caption
    // labels for screen readers; returns the value.
    QLabel* row(const char* captionName, const QString& captionText, const char* valueName,
                const QString& text, int top, int width = layout::kValueWidth);
    // A button at the panel's foot; it acts on its access key after the
    // focus has moved to it.
    QPushButton* button(const char* name, const QString& text, int left);

    void setStatus(const QString& text);
    // Adds `note` to the text now on the status line without changing it.
    void noteOnStatus(const QString& note) { emit statusNoted(note); }
    // Shows the engine's error on the status line; an error message box
    // shown while it stands there gives its whole text too, should the
    // status line be too narrow for it.
    void setErrorStatus(const EngineSnapshot& engine);
    // Writes the status line's count of blocks from `engine`.
    void showProgress(const EngineSnapshot& engine);
    // Cancel: closes the panel, or during a run stops it and closes after it.
    void cancel();
    void showMessage(const QString& text, MessageIcon icon);
    // Message boxes shown so far, to tell whether a handler showed one.
    int messagesShown() const { return m_messagesShown; }
    // Shows the save dialog that names the run's output, proposing
    // `fileName`; `replacedBy` lists what a chosen path replaces.
    std::optional<QString> chooseOutput(
        const QString& fileName,
        std::function<QStringList(const QString& path)> replacedBy = nullptr);
    // Runs `work` on a thread of its own while the window goes on answering,
    // and returns once it has ended and the engine notifications it raised
    // have been handled. The caller keeps the window busy meanwhile.
    void workAside(const std::function<void()>& work);
    // The file layer the engines work through, the POSIX one for nullptr.
    std::shared_ptr<FileLayer> fileLayer() const;
    // Says on the status line what removing an interrupted run's leftovers
    // gave back, when it removed any.
    void reportLeftovers(int32_t files, int64_t bytes);
    // Asks the window to run `job` over `total` bytes of the file `fileName`,
    // writing into `outputFolder`. `phase` reads the phase the run is in;
    // `laterBytes` are the bytes of the phases planned after the copy.
    void requestRun(int64_t total, const QString& fileName, const QString& outputFolder,
                    BackgroundRun::Job job, std::function<void()> stopEngine,
                    std::function<int64_t()> bytesDone,
                    std::function<RunPhaseSnapshot()> phase = nullptr, int64_t laterBytes = 0);
    // Hides the panel and says so.
    void closePanel();

    bool eventFilter(QObject* watched, QEvent* event) override;

    const PanelTexts& m_texts;
    Desktop& m_desktop;
    OpenSaveDialog& m_dialog;
    BusyState& m_busy;
    const std::shared_ptr<FileLayer> m_fileLayer;
    // Carries the engine's notifications; declared before the engines of
    // the panels, so that it outlives them.
    EngineSignals m_signals;

  private:
    // Says how the run ended; the panel then closes and drops its engine,
    // unless the chunk check failed, which keeps both for another try.
    void takeOutcome(const RunOutcome& outcome);
    bool actOnAccessKey(QPushButton* button);

    std::function<bool(const QString&)> m_fitsStatusLine;
    // The error text on the status line; empty once another text replaced it.
    QString m_reason;
    int m_messagesShown = 0;
    // Cancel was pressed during the run going on.
    bool m_closeAfterRun = false;
};

}  // namespace morvane

#pragma once

#include <QMainWindow>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "ui/background_run.h"
#include "ui/desktop.h"
#include "ui/engine_snapshot.h"
#include "ui/open_save_dialog.h"
#include "ui/run_progress.h"

class QAction;
class QComboBox;
class QDragEnterEvent;
class QDropEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTimer;

namespace morvane {

class BusyCursor;
class DividerObserver;
class FileDivider;
class FileGlue;
class FileLayer;
class GlueObserver;

// The program's only window: the File menu, the welcome area, the divide
// panel fraDiv, the glue panel fraGlu and the status line lblStatus.
//
// Every control's objectName is its name below. A division or a glue runs
// on a thread of its own; the engine's notifications reach the handlers on
// the window's thread, in order, and the window answers throughout. While a
// run or any handler that drives an engine is in progress the window starts
// nothing else. Closing the window during a run asks whether to stop it.
class frmMain : public QMainWindow {
    Q_OBJECT

  public:
    // The engines work through `fileLayer`; nullptr means the POSIX one.
    explicit frmMain(Desktop& desktop, std::shared_ptr<FileLayer> fileLayer = nullptr,
                     QWidget* parent = nullptr);
    // Stops a run still going on and waits for it.
    ~frmMain() override;

    // Moves the window so that it stands centred on its screen.
    void centreOnScreen();
    // True while a run or a handler that drives an engine has not ended.
    bool isBusy() const { return m_busyDepth > 0 || isRunning(); }
    // True from the start of a division or a glue until the window has
    // taken its end.
    bool isRunning() const { return m_run != nullptr; }
    // Opens `path` as if it had been chosen in a file dialog: a name ending
    // in ".hed" (any letter case) under "Gl&ue File", any other under
    // "D&ivide File", with the same messages and status line; the dialog
    // proposes it next. Returns false, and changes nothing, while the
    // window is busy or that menu item is disabled.
    bool openPath(const QString& path);

  signals:
    // Emitted every time the status line is written, also with the same text.
    void statusChanged(const QString& text);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    friend class DividerObserver;
    friend class GlueObserver;

    // Marks the window busy for the lifetime of a handler that drives an engine.
    class BusyScope {
      public:
        explicit BusyScope(frmMain& form);
        ~BusyScope();
        BusyScope(const BusyScope&) = delete;
        BusyScope& operator=(const BusyScope&) = delete;

      private:
        frmMain& m_form;
    };

    // Building the window.
    void createMenu();
    void createWelcomeArea(QWidget* client);
    void createStatusLine(QWidget* client);
    void createDividePanel(QWidget* client);
    void createGluePanel(QWidget* client);
    QGroupBox* createPanel(QWidget* client, const char* name, const QString& spokenName);
    QLabel* createCaption(QWidget* panel, const char* name, const QString& text, int top);
    // A framed value label on the row at `top`, `width` twips wide (0: the
    // whole value column), spoken with the caption at the start of that row.
    QLabel* createValue(QWidget* panel, const char* name, const QString& text, int top,
                        int width = 0);
    QPushButton* createButton(QWidget* panel, const char* name, const QString& text, int left);
    QLabel* createLink(QWidget* client, const char* name, const QString& text, int top);

    // Shell.
    void Form_Load();
    // Centres the window again once the window manager has framed it, if the
    // frame turns out larger than the window was centred with.
    void recentreWhenFramed(int checksLeft);
    void showWelcome(bool visible);
    void showBanner();
    void loadUnits();
    void mnuExit_Click();
    void setStatus(const QString& text);
    void showMessage(const QString& text, MessageIcon icon);
    // Shows the open or save dialog with `title` and the filter written as
    // `filterText`: an open dialog wants an existing file, a save dialog
    // proposes `fileName` and asks before an existing file is replaced.
    std::optional<QString> chooseFile(FileDialogRequest::Kind kind, const QString& title,
                                      const QString& filterText,
                                      const QString& fileName = QString());
    // Runs `handler` unless the window is busy, and keeps it busy meanwhile.
    void runWhenIdle(void (frmMain::*handler)());
    // The path openPath() would open now, made absolute; empty when it
    // would refuse it.
    QString openablePath(const QString& path) const;
    // Opens the panel for the file `chosen` in a dialog: `analyze` makes the
    // panel's engine for the file's name and folder and fills the panel;
    // when it fails, the failure message is shown, `release` drops the
    // engine and an open panel closes. `otherItem` opens the other panel and
    // stays disabled while this one is open.
    void openChosen(const QString& chosen, QGroupBox* panel, QAction* otherItem,
                    const QString& failure,
                    const std::function<bool(const QString&, const QString&)>& analyze,
                    const std::function<void()>& release);
    QString engineErrorText(const EngineSnapshot& engine) const;
    QString progressText(const EngineSnapshot& engine) const;

    // Runs.
    enum class RunKind { Division, Glue };
    void createRunStrip(QWidget* client);
    // Hands a notification's snapshot to `handler`: at once on the window's
    // thread, queued from a run's thread.
    void deliver(void (frmMain::*handler)(const EngineSnapshot&), EngineSnapshot snapshot);
    // Starts `job` on its own thread for a run over `total` bytes of the
    // file `fileName`; `stopEngine` asks the engine to stop and `bytesDone`
    // reads its count of bytes copied, both from the window's thread.
    void startRun(RunKind kind, int64_t total, const QString& fileName, BackgroundRun::Job job,
                  std::function<void()> stopEngine, std::function<int64_t()> bytesDone);
    void showRunStrip(bool visible);
    void refreshProgress();
    void cmdStop_Click();
    void runEnded(const RunOutcome& outcome);
    // The outcome of a run in words, for a notification outside the window.
    QString runResultText(const RunOutcome& outcome) const;
    void divisionEnded(const RunOutcome& outcome);
    void glueEnded(const RunOutcome& outcome);
    void askToStopAndQuit();

    // Divide panel.
    void mnuDivide_Click();
    void divideChosen(const QString& chosen);
    void showDivideInfo();
    void cmbUnit_Click();
    void unitChosen(int index);
    void txtDChunk_GotFocus(Qt::FocusReason reason);
    bool txtDChunk_KeyPress(int keyAscii);
    void txtDChunk_LostFocus(Qt::FocusReason reason);
    void commitChunkSize();
    // Shows the recovery chunks the plan allows and what the chosen number adds.
    void showRecoveryPlan();
    void recoveryChosen(int count);
    bool actOnAccessKey(QPushButton* button);
    void cmdDiv_Click();
    void cmdDCancel_Click();
    void objDiv_onGenHeader(const EngineSnapshot& engine);
    void objDiv_onNewDivision(const EngineSnapshot& engine);
    void objDiv_onComplete(const EngineSnapshot& engine);
    void objDiv_onError(const EngineSnapshot& engine);
    void objDiv_onClearErr(const EngineSnapshot& engine);

    // Glue panel.
    void mnuGlue_Click();
    void glueChosen(const QString& chosen);
    void showGlueInfo();
    void cmdGlu_Click();
    void cmdGCancel_Click();
    QString proposedOutputName() const;
    void objGlu_onError(const EngineSnapshot& engine);
    void objGlu_onNewDivision(const EngineSnapshot& engine);
    void objGlu_onComplete(const EngineSnapshot& engine);
    void objGlu_onClearErr(const EngineSnapshot& engine);

    // Links.
    void lblEmail_Click();
    void lblUpdates_Click();

    Desktop& m_desktop;
    std::shared_ptr<FileLayer> m_fileLayer;
    OpenSaveDialog cdlOpenSave;

    // Declared before the engines so that they outlive them.
    std::unique_ptr<DividerObserver> m_dividerObserver;
    std::unique_ptr<GlueObserver> m_glueObserver;
    std::unique_ptr<FileDivider> objDiv;
    std::unique_ptr<FileGlue> objGlu;
    // The run going on; declared after the engines so that it ends first.
    std::unique_ptr<BackgroundRun> m_run;
    RunKind m_runKind = RunKind::Division;
    QString m_runFileName;
    RunProgress m_progress;
    std::function<int64_t()> m_bytesDone;
    std::unique_ptr<BusyCursor> m_busyCursor;
    // The percentage last shown on the taskbar.
    int m_shownPercent = -1;
    // The close question is up; a run that ends meanwhile is taken after it.
    bool m_asking = false;
    std::optional<RunOutcome> m_deferredOutcome;

    int32_t lngUnitSize = 0;
    QString strDivFileName;
    QString strDivFilePath;
    QString strDivBaseName;
    QString strDivPrefix;
    QString strDivChunkPath;
    QString strGluHeaderName;
    QString strGluHeaderPath;
    QString strGluPrefix;

    QMenu* mnuFile = nullptr;
    QAction* mnuDivide = nullptr;
    QAction* mnuGlue = nullptr;
    QAction* mnuSep1 = nullptr;
    QAction* mnuExit = nullptr;

    QLabel* lblCopy = nullptr;
    QLabel* lblEmail = nullptr;
    QLabel* lblUpdates = nullptr;
    QLabel* lblStatus = nullptr;
    QProgressBar* prgRun = nullptr;
    QLabel* lblTimeLeft = nullptr;
    QPushButton* cmdStop = nullptr;
    QTimer* tmrProgress = nullptr;

    QGroupBox* fraDiv = nullptr;
    QLabel* lblDFilenameA = nullptr;
    QLabel* lblDFilename = nullptr;
    QLabel* lblDFileSizeA = nullptr;
    QLabel* lblDFilesize = nullptr;
    QLabel* lblDChunkSizeA = nullptr;
    QLineEdit* txtDChunk = nullptr;
    QComboBox* cmbUnit = nullptr;
    QLabel* lblDLstChunkSizeA = nullptr;
    QLabel* lblDLastChunkSize = nullptr;
    QLabel* lblDNumChunkA = nullptr;
    QLabel* lblDNumChunk = nullptr;
    QLabel* lblDRecoveryA = nullptr;
    QSpinBox* spnDRecovery = nullptr;
    QLabel* lblDRecovery = nullptr;
    QPushButton* cmdDiv = nullptr;
    QPushButton* cmdDCancel = nullptr;

    QGroupBox* fraGlu = nullptr;
    QLabel* lblGHeaderA = nullptr;
    QLabel* lblGHeader = nullptr;
    QLabel* lblGChunkSizeA = nullptr;
    QLabel* lblGChunkSize = nullptr;
    QLabel* lblGLastChunkSizeA = nullptr;
    QLabel* lblGLastChunkSize = nullptr;
    QLabel* lblGNumChunkA = nullptr;
    QLabel* lblGNumChunk = nullptr;
    QLabel* lblGBigFileNameA = nullptr;
    QLabel* lblGBigFileName = nullptr;
    QLabel* lblGBigFileSizeA = nullptr;
    QLabel* lblGBigFileSize = nullptr;
    QLabel* lblGChecksumA = nullptr;
    QLabel* lblGChecksum = nullptr;
    QLabel* lblGRecoveryA = nullptr;
    QLabel* lblGRecovery = nullptr;
    QPushButton* cmdGlu = nullptr;
    QPushButton* cmdGCancel = nullptr;

    // The outer size the window was last centred with.
    QSize m_centredSize;
    int m_busyDepth = 0;
    bool m_closePending = false;
    // The unit list's entry as the panel last took it, restored when a
    // change has to be ignored.
    int m_unitIndex = -1;
    // The recovery chunks the next division writes, as the panel last took them.
    int32_t m_recoveryChunks = 0;
    // A chunk-size commit is running; its own message box must not start another.
    bool m_committing = false;
    // The chunk-size box got the focus by a mouse press: select its text
    // when the button is released.
    bool m_selectOnRelease = false;
    // Counts message boxes shown, to tell whether a commit showed one.
    int m_messagesShown = 0;
    // The mouse press that moved the focus out of the chunk-size box brought
    // up a message box; the press is dropped instead of half-clicking.
    bool m_dropNextPress = false;
};

}  // namespace morvane

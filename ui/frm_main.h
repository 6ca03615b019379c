#pragma once

#include <QMainWindow>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

#include "ui/desktop.h"
#include "ui/open_save_dialog.h"

class QAction;
class QComboBox;
class QDragEnterEvent;
class QDropEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

namespace morvane {

class DividerObserver;
class FileDivider;
class FileGlue;
class GlueObserver;

// The program's only window: the File menu, the welcome area, the divide
// panel fraDiv, the glue panel fraGlu and the status line lblStatus.
//
// Every control's objectName is its name below. The engines run inside the
// handlers that start them; their notifications write the status line and
// let the event loop run once, so input arrives in the middle of a run.
// While any handler that drives an engine is in progress the window starts
// nothing else, and a close request waits until that handler has ended.
class frmMain : public QMainWindow {
    Q_OBJECT

  public:
    explicit frmMain(Desktop& desktop, QWidget* parent = nullptr);
    ~frmMain() override;

    // Moves the window so that it stands centred on its screen.
    void centreOnScreen();
    // True while a handler that drives an engine has not returned.
    bool isBusy() const { return m_busyDepth > 0; }
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
    QLabel* createValue(QWidget* panel, const char* name, const QString& text, int top);
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
    void yieldToEventLoop();
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
    QString engineErrorText(bool isSysErr, int code, const std::string& description) const;
    QString progressText(int64_t currentOp, int64_t numOfOps, int32_t currentChunk,
                         int32_t numOfChunks) const;

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
    bool actOnAccessKey(QPushButton* button);
    void cmdDiv_Click();
    void cmdDCancel_Click();
    void objDiv_onGenHeader();
    void objDiv_onNewDivision();
    void objDiv_onComplete();
    void objDiv_onError();
    void objDiv_onClearErr();

    // Glue panel.
    void mnuGlue_Click();
    void glueChosen(const QString& chosen);
    void showGlueInfo();
    void cmdGlu_Click();
    void cmdGCancel_Click();
    QString proposedOutputName() const;
    void objGlu_onError();
    void objGlu_onNewDivision();
    void objGlu_onComplete();
    void objGlu_onClearErr();

    // Links.
    void lblEmail_Click();
    void lblUpdates_Click();

    Desktop& m_desktop;
    OpenSaveDialog cdlOpenSave;

    // Declared before the engines so that they outlive them.
    std::unique_ptr<DividerObserver> m_dividerObserver;
    std::unique_ptr<GlueObserver> m_glueObserver;
    std::unique_ptr<FileDivider> objDiv;
    std::unique_ptr<FileGlue> objGlu;

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
    QPushButton* cmdGlu = nullptr;
    QPushButton* cmdGCancel = nullptr;

    // The outer size the window was last centred with.
    QSize m_centredSize;
    int m_busyDepth = 0;
    bool m_closePending = false;
    // The unit list's entry as the panel last took it, restored when a
    // change has to be ignored.
    int m_unitIndex = -1;
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

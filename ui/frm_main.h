#pragma once

#include <QMainWindow>
#include <QSize>
#include <QString>
#include <memory>
#include <utility>

#include "ui/busy_state.h"
#include "ui/open_save_dialog.h"

class QAction;
class QDragEnterEvent;
class QDropEvent;
class QLabel;
class QMenu;

namespace morvane {

class Desktop;
class DividePanel;
class ElidedLabel;
class EnginePanel;
class FileLayer;
class GluePanel;
class RunController;

// The program's only window: the File menu, the welcome area with its two
// links, the divide panel fraDiv and the glue panel fraGlu in one place,
// and the status line lblStatus, which shows what the panels say.
//
// Every control's objectName is its name. A division or a glue runs on a
// thread of its own, driven by the run controller; the engine's
// notifications reach the panels on the window's thread, in order, and the
// window answers throughout. While a run or any handler that drives an
// engine is in progress the window starts nothing else. Closing the window
// during a run asks whether to stop it.
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
    bool isBusy() const { return m_busy.isBusy(); }
    // True from the start of a division or a glue until the window has
    // taken its end.
    bool isRunning() const { return m_busy.isRunning(); }
    // Opens `path` as if it had been chosen in a file dialog: a name ending
    // in ".hed" or ".par2" (any letter case) under "Gl&ue File", any other under
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
    void createMenu();
    void createWelcomeArea(QWidget* client);
    QLabel* createLink(QWidget* client, const char* name, const QString& text, int top);
    void createStatusLine(QWidget* client);
    // Follows what `panel` says: its status texts, its run requests, and
    // its closing, which brings the welcome area back.
    void attach(EnginePanel* panel);

    void Form_Load();
    // Centres the window again once the window manager has framed it, if the
    // frame turns out larger than the window was centred with.
    void recentreWhenFramed(int checksLeft);
    void showWelcome(bool visible);
    void showBanner();
    void mnuDivide_Click();
    void mnuGlue_Click();
    void mnuExit_Click();
    void setStatus(const QString& text);
    // Shows `note` about the status line's text as its tooltip and
    // accessible description, until the next text.
    void noteOnStatus(const QString& note);
    // True when the status line, as wide as it is now, shows `text` whole.
    bool fitsStatus(const QString& text) const;
    // Chooses the file of `panel` in its open dialog and opens it there.
    void chooseFor(EnginePanel* panel);
    // The panel openPath() would open `path` in now, or nullptr when it
    // would refuse it.
    EnginePanel* panelFor(const QString& path) const;
    // Opens the file `chosen` in `panel`: on success the panel is shown in
    // place of the welcome area; on failure an open panel closes.
    void openChosen(EnginePanel* panel, const QString& chosen);
    // The menu item that opens `panel`.
    QAction* itemOf(const EnginePanel* panel) const;
    // The menu item that opens the other panel; disabled while `panel` is open.
    QAction* otherItem(const EnginePanel* panel) const;
    // A close asked for while a handler was busy happens once it returns.
    void closeWhenPending();
    // Disables "D&ivide File" and "Gl&ue File" while a run goes on, and
    // puts back what they were after it.
    void enableOpenItems(bool running);

    void lblEmail_Click();
    void lblUpdates_Click();

    Desktop& m_desktop;
    OpenSaveDialog cdlOpenSave;
    BusyState m_busy;
    std::unique_ptr<RunController> m_runs;

    QMenu* mnuFile = nullptr;
    QAction* mnuDivide = nullptr;
    QAction* mnuGlue = nullptr;
    QAction* mnuSep1 = nullptr;
    QAction* mnuExit = nullptr;

    QLabel* lblCopy = nullptr;
    QLabel* lblEmail = nullptr;
    QLabel* lblUpdates = nullptr;
    ElidedLabel* lblStatus = nullptr;
    DividePanel* fraDiv = nullptr;
    GluePanel* fraGlu = nullptr;

    // The outer size the window was last centred with.
    QSize m_centredSize;
    bool m_closePending = false;
    // Whether the two items were enabled when the run going on started.
    std::pair<bool, bool> m_openItemsBeforeRun{true, true};
};

}  // namespace morvane

// The window's shell: building the controls, the menu, the welcome area,
// the status line, the busy guard and the two links.
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSpinBox>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "engine/file_divider.h"
#include "engine/file_glue.h"
#include "ui/app_icon.h"
#include "ui/app_info.h"
#include "ui/busy_cursor.h"
#include "ui/divider_observer.h"
#include "ui/elided_label.h"
#include "ui/frm_main.h"
#include "ui/glue_observer.h"
#include "ui/number_format.h"
#include "ui/window_geometry.h"

#ifndef MORVANE_VERSION_MAJOR
#define MORVANE_VERSION_MAJOR 1
#define MORVANE_VERSION_MINOR 1
#define MORVANE_VERSION_REVISION 1
#endif

namespace morvane {

namespace {

// Client area below the menu bar, in twips.
constexpr int kClientWidth = 9150;
constexpr int kClientHeight = 5235;
// Caption and value columns of the panels' rows, in twips.
constexpr int kCaptionLeft = 240;
constexpr int kCaptionWidth = 1455;
constexpr int kValueLeft = 1800;
constexpr int kValueWidth = 6735;

void frameAsBox(QLabel* label) {
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
}

// The classic dialog font, 8.25 points. Where it is missing, DejaVu Sans
// Condensed keeps the captions within their 97-pixel column.
QFont dialogFont() {
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans Condensed"),
                      QStringLiteral("DejaVu Sans")});
    font.setPointSizeF(8.25);
    return font;
}

bool isHeaderName(const QString& path) {
    return path.endsWith(QLatin1String(".hed"), Qt::CaseInsensitive);
}

// The one local file, not a folder, that a drag carries; empty otherwise.
QString draggedFile(const QMimeData* data) {
    const QList<QUrl> urls = data ? data->urls() : QList<QUrl>();
    if (urls.size() != 1 || !urls.front().isLocalFile()) return QString();
    const QString path = urls.front().toLocalFile();
    return QFileInfo(path).isDir() ? QString() : path;
}

// Only a copy is taken: a move would let the drag's source delete the file.
bool offersCopy(const QDropEvent* event) {
    return event->possibleActions().testFlag(Qt::CopyAction);
}

}  // namespace

frmMain::frmMain(Desktop& desktop, std::shared_ptr<FileLayer> fileLayer, QWidget* parent)
    : QMainWindow(parent),
      m_desktop(desktop),
      m_fileLayer(std::move(fileLayer)),
      cdlOpenSave(desktop),
      m_dividerObserver(std::make_unique<DividerObserver>(*this)),
      m_glueObserver(std::make_unique<GlueObserver>(*this)) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QString::fromLatin1(kProgramName));
    setWindowIcon(appIcon());
    setFont(dialogFont());
    setAcceptDrops(true);

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(twipsRect(0, 0, kClientWidth, kClientHeight).size());
    setCentralWidget(client);
    createMenu();
    createWelcomeArea(client);
    createDividePanel(client);
    createGluePanel(client);
    createStatusLine(client);
    createRunStrip(client);
    // The window keeps the size of its client area plus the menu bar.
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    Form_Load();
}

frmMain::~frmMain() {
    if (m_run) {
        m_run.reset();
        m_desktop.showRunProgress(std::nullopt);
        m_desktop.allowSleep();
    }
    objDiv.reset();
    objGlu.reset();
}

void frmMain::createMenu() {
    mnuFile = menuBar()->addMenu(tr("&File"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));

    mnuDivide = new QAction(tr("D&ivide File"), this);
    mnuDivide->setObjectName(QStringLiteral("mnuDivide"));
    mnuDivide->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    connect(mnuDivide, &QAction::triggered, this,
            [this] { runWhenIdle(&frmMain::mnuDivide_Click); });

    mnuGlue = new QAction(tr("Gl&ue File"), this);
    mnuGlue->setObjectName(QStringLiteral("mnuGlue"));
    mnuGlue->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_U));
    connect(mnuGlue, &QAction::triggered, this, [this] { runWhenIdle(&frmMain::mnuGlue_Click); });

    mnuExit = new QAction(tr("E&xit"), this);
    mnuExit->setObjectName(QStringLiteral("mnuExit"));
    connect(mnuExit, &QAction::triggered, this, [this] { mnuExit_Click(); });

    mnuFile->addAction(mnuDivide);
    mnuFile->addAction(mnuGlue);
    mnuSep1 = mnuFile->addSeparator();
    mnuSep1->setObjectName(QStringLiteral("mnuSep1"));
    mnuFile->addAction(mnuExit);
}

void frmMain::createWelcomeArea(QWidget* client) {
    lblCopy = new QLabel(client);
    lblCopy->setObjectName(QStringLiteral("lblCopy"));
    lblCopy->setGeometry(twipsRect(240, 600, 8535, 1215));
    lblCopy->setTextFormat(Qt::PlainText);
    lblCopy->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    frameAsBox(lblCopy);
    QFont banner;
    banner.setFamilies({QStringLiteral("Arial Black"), QStringLiteral("DejaVu Sans")});
    banner.setPointSize(12);
    banner.setBold(true);
    lblCopy->setFont(banner);

    lblEmail = createLink(client, "lblEmail",
                          QStringLiteral("Email: ") + QString::fromLatin1(kContactEmail), 2040);
    lblUpdates = createLink(client, "lblUpdates",
                            QStringLiteral("Updates: ") + QString::fromLatin1(kUpdatePage), 2400);
}

QLabel* frmMain::createLink(QWidget* client, const char* name, const QString& text, int top) {
    auto* link = new QLabel(text, client);
    link->setObjectName(QLatin1String(name));
    link->setGeometry(twipsRect(240, top, 8535, 255));
    link->setTextFormat(Qt::PlainText);
    QFont font = dialogFont();
    font.setUnderline(true);
    link->setFont(font);
    // The colour scheme's own link colour, readable on a dark one too.
    link->setForegroundRole(QPalette::Link);
    link->setCursor(Qt::PointingHandCursor);
    link->installEventFilter(this);
    return link;
}

void frmMain::createStatusLine(QWidget* client) {
    lblStatus = new QLabel(tr("Status"), client);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->setGeometry(twipsRect(120, 4800, 8925, 315));
    lblStatus->setTextFormat(Qt::PlainText);
    frameAsBox(lblStatus);
}

QGroupBox* frmMain::createPanel(QWidget* client, const char* name, const QString& spokenName) {
    auto* panel = new QGroupBox(client);
    panel->setObjectName(QLatin1String(name));
    panel->setAccessibleName(spokenName);
    panel->setGeometry(twipsRect(120, 0, 8895, 4695));
    return panel;
}

QLabel* frmMain::createCaption(QWidget* panel, const char* name, const QString& text, int top) {
    auto* caption = new QLabel(text, panel);
    caption->setObjectName(QLatin1String(name));
    caption->setGeometry(twipsRect(kCaptionLeft, top, kCaptionWidth, kRowHeight));
    caption->setTextFormat(Qt::PlainText);
    return caption;
}

QLabel* frmMain::createValue(QWidget* panel, const char* name, const QString& text, int top,
                             int width) {
    auto* value = new ElidedLabel(text, panel);
    value->setObjectName(QLatin1String(name));
    value->setGeometry(twipsRect(kValueLeft, top, width > 0 ? width : kValueWidth, kRowHeight));
    // Values show file names and engine texts: never read as markup.
    value->setTextFormat(Qt::PlainText);
    frameAsBox(value);
    // The caption on the same row labels the value for screen readers.
    const QPoint captionAt = twipsRect(kCaptionLeft, top, 0, 0).topLeft();
    for (QLabel* caption : panel->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        if (caption->pos() == captionAt) caption->setBuddy(value);
    }
    return value;
}

QPushButton* frmMain::createButton(QWidget* panel, const char* name, const QString& text,
                                   int left) {
    auto* button = new QPushButton(text, panel);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(twipsRect(left, 3960, 1815, 495));
    button->setAutoDefault(false);
    return button;
}

void frmMain::Form_Load() {
    fraDiv->hide();
    fraGlu->hide();
    fraDiv->move(twipsRect(120, 0, 0, 0).topLeft());
    fraGlu->move(twipsRect(120, 0, 0, 0).topLeft());
    centreOnScreen();
    showBanner();
    loadUnits();
}

void frmMain::centreOnScreen() {
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->geometry();
    QSize outer = frameGeometry().size();
    if (!isVisible()) outer = outer.expandedTo(sizeHint());
    m_centredSize = outer;
    move(area.topLeft() + centredOrigin(area.size(), outer));
}

void frmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // The frame's size is known only once the window manager has put it
    // around the shown window, a moment later; until then the window was
    // centred without it.
    if (!event->spontaneous() && m_centredSize.isValid()) recentreWhenFramed(40);
}

void frmMain::recentreWhenFramed(int checksLeft) {
    const QRect frame = frameGeometry();
    const bool framed = frame != geometry() && frame.contains(geometry());
    if (framed) {
        if (frame.size() != m_centredSize) centreOnScreen();
        return;
    }
    // No frame yet, or none at all (no window manager): look again for a while.
    if (checksLeft > 0)
        QTimer::singleShot(50, this, [this, checksLeft] { recentreWhenFramed(checksLeft - 1); });
}

void frmMain::showWelcome(bool visible) {
    lblCopy->setVisible(visible);
    lblEmail->setVisible(visible);
    lblUpdates->setVisible(visible);
}

void frmMain::showBanner() {
    lblCopy->setText(
        QStringLiteral("Morvane v") +
        bannerVersion(MORVANE_VERSION_MAJOR, MORVANE_VERSION_MINOR, MORVANE_VERSION_REVISION) +
        QStringLiteral("\n\n") + QString::fromLatin1(kMakerLine));
}

void frmMain::loadUnits() {
    const QSignalBlocker quiet(cmbUnit);
    cmbUnit->addItem(tr("Bytes"));
    cmbUnit->addItem(tr("KB"));
    cmbUnit->addItem(tr("MB"));
    // Adding the first entry selects it; the list starts with none selected.
    cmbUnit->setCurrentIndex(-1);
    m_unitIndex = -1;
}

void frmMain::mnuExit_Click() {
    close();
}

void frmMain::closeEvent(QCloseEvent* event) {
    if (isRunning()) {
        event->ignore();
        askToStopAndQuit();
        return;
    }
    if (isBusy()) {
        // An engine is still working inside a handler: close when it returns.
        m_closePending = true;
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

frmMain::BusyScope::BusyScope(frmMain& form) : m_form(form) {
    ++m_form.m_busyDepth;
}

frmMain::BusyScope::~BusyScope() {
    if (--m_form.m_busyDepth == 0 && m_form.m_closePending) {
        m_form.m_closePending = false;
        QTimer::singleShot(0, &m_form, [form = &m_form] { form->close(); });
    }
}

void frmMain::runWhenIdle(void (frmMain::*handler)()) {
    if (isBusy()) return;
    BusyScope busy(*this);
    (this->*handler)();
}

QString frmMain::openablePath(const QString& path) const {
    if (isBusy() || path.isEmpty()) return QString();
    const QAction* item = isHeaderName(path) ? mnuGlue : mnuDivide;
    return item->isEnabled() ? QFileInfo(path).absoluteFilePath() : QString();
}

bool frmMain::openPath(const QString& path) {
    const QString chosen = openablePath(path);
    if (chosen.isEmpty()) return false;
    BusyScope busy(*this);
    cdlOpenSave.remember(chosen);
    if (isHeaderName(chosen))
        glueChosen(chosen);
    else
        divideChosen(chosen);
    return true;
}

void frmMain::openChosen(const QString& chosen, QGroupBox* panel, QAction* otherItem,
                         const QString& failure,
                         const std::function<bool(const QString&, const QString&)>& analyze,
                         const std::function<void()>& release) {
    otherItem->setEnabled(false);
    const QString name = nameOf(chosen);
    if (analyze(name, chosen.left(chosen.size() - name.size()))) {
        showWelcome(false);
        panel->show();
        otherItem->setEnabled(false);
        return;
    }
    showMessage(failure, MessageIcon::Error);
    otherItem->setEnabled(true);
    release();
    // The open panel would show a file that no engine stands for any more.
    if (!panel->isHidden()) {
        panel->hide();
        showWelcome(true);
    }
}

void frmMain::dragEnterEvent(QDragEnterEvent* event) {
    if (offersCopy(event) && !openablePath(draggedFile(event->mimeData())).isEmpty()) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void frmMain::dropEvent(QDropEvent* event) {
    const QString path = draggedFile(event->mimeData());
    if (!offersCopy(event) || openablePath(path).isEmpty()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    // Opened once the drag has ended: its source waits for the answer, and
    // opening may show a message box.
    QTimer::singleShot(0, this, [this, path] { openPath(path); });
}

void frmMain::setStatus(const QString& text) {
    lblStatus->setText(text);
    emit statusChanged(text);
}

std::optional<QString> frmMain::chooseFile(FileDialogRequest::Kind kind, const QString& title,
                                           const QString& filterText, const QString& fileName) {
    FileDialogRequest request;
    request.kind = kind;
    request.title = title;
    request.filter = filterFromText(filterText);
    request.folderMustExist = true;
    request.hideReadOnly = true;
    if (kind == FileDialogRequest::Kind::Open) {
        request.fileMustExist = true;
    } else {
        request.confirmOverwrite = true;
        request.fileName = fileName;
    }
    return cdlOpenSave.show(this, request);
}

void frmMain::showMessage(const QString& text, MessageIcon icon) {
    ++m_messagesShown;
    m_desktop.showMessage(this, text, icon);
}

QString frmMain::engineErrorText(const EngineSnapshot& engine) const {
    return (engine.isSysErr ? QStringLiteral("System Error: ")
                            : QStringLiteral("Application Error: ")) +
           QString::number(engine.code) + QStringLiteral("  ") +
           QString::fromStdString(engine.description);
}

QString frmMain::progressText(const EngineSnapshot& engine) const {
    const double ratio = engine.numOfOps > 0 ? static_cast<double>(engine.currentOp) /
                                                   static_cast<double>(engine.numOfOps)
                                             : 0.0;
    return QStringLiteral("Processing %1 of %2 Chunks. (%3)")
        .arg(QString::number(engine.currentChunk), QString::number(engine.numOfChunks),
             formatPercent(ratio));
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == txtDChunk) {
        if (type == QEvent::FocusIn || type == QEvent::FocusOut) {
            // The box handles the change first (a line edit drops its
            // selection on leaving), then the handler runs, as it would
            // after the change has happened.
            static_cast<QObject*>(txtDChunk)->event(event);
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (type == QEvent::FocusIn) {
                txtDChunk_GotFocus(reason);
            } else {
                m_selectOnRelease = false;
                txtDChunk_LostFocus(reason);
            }
            return true;
        } else if (type == QEvent::MouseButtonRelease && m_selectOnRelease) {
            static_cast<QObject*>(txtDChunk)->event(event);
            m_selectOnRelease = false;
            txtDChunk->selectAll();
            return true;
        } else if (type == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if ((key == Qt::Key_Return || key == Qt::Key_Enter) && txtDChunk_KeyPress(13))
                return true;
        }
    } else if (watched == lblEmail || watched == lblUpdates) {
        if (type == QEvent::MouseButtonRelease) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            auto* label = static_cast<QLabel*>(watched);
            if (mouse->button() == Qt::LeftButton &&
                label->rect().contains(mouse->position().toPoint())) {
                if (label == lblEmail)
                    lblEmail_Click();
                else
                    lblUpdates_Click();
                return true;
            }
        }
    } else if (watched == cmdDiv || watched == cmdDCancel || watched == cmbUnit ||
               watched == spnDRecovery) {
        if ((type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) &&
            m_dropNextPress) {
            m_dropNextPress = false;
            return true;
        }
    }
    if (type == QEvent::Shortcut &&
        (watched == cmdDiv || watched == cmdDCancel || watched == cmdGlu || watched == cmdGCancel))
        return actOnAccessKey(static_cast<QPushButton*>(watched));
    return QMainWindow::eventFilter(watched, event);
}

void frmMain::lblEmail_Click() {
    const QString address = QString::fromLatin1(kContactEmail);
    const QUrl target(QStringLiteral("mailto:") + address + QStringLiteral("?Subject=Morvane"));
    if (!m_desktop.openUrl(target)) {
        showMessage(QStringLiteral("Unable to start your Email agent automatically.\n"
                                   "Please send an Email to ") +
                        address + QStringLiteral(" manually."),
                    MessageIcon::Information);
    }
}

void frmMain::lblUpdates_Click() {
    const QString page = QString::fromLatin1(kUpdatePage);
    if (!m_desktop.openUrl(QUrl(page))) {
        showMessage(QStringLiteral("Unable to start your web browser automatically.\n"
                                   "Please goto the site ") +
                        page + QStringLiteral(" manually."),
                    MessageIcon::Information);
    }
}

}  // namespace morvane

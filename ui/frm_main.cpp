#include "ui/frm_main.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "ui/app_icon.h"
#include "ui/app_info.h"
#include "ui/desktop.h"
#include "ui/divide_panel.h"
#include "ui/elided_label.h"
#include "ui/glue_panel.h"
#include "ui/run_controller.h"
#include "ui/window_geometry.h"
#include "ui/window_layout.h"

#ifndef MORVANE_VERSION_MAJOR
#define MORVANE_VERSION_MAJOR 1
#define MORVANE_VERSION_MINOR 1
#define MORVANE_VERSION_REVISION 1
#endif

namespace morvane {

namespace {

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

// A header, or the recovery index that stands for a lost one.
bool isHeaderName(const QString& path) {
    return path.endsWith(QLatin1String(".hed"), Qt::CaseInsensitive) ||
           path.endsWith(QLatin1String(".par2"), Qt::CaseInsensitive);
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
    : QMainWindow(parent), m_desktop(desktop), cdlOpenSave(desktop) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QString::fromLatin1(kProgramName));
    setWindowIcon(appIcon());
    setFont(dialogFont());
    setAcceptDrops(true);

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(twipsRect(0, 0, layout::kClientWidth, layout::kClientHeight).size());
    setCentralWidget(client);
    createMenu();
    createWelcomeArea(client);
    const EnginePanel::Services services{desktop, cdlOpenSave, m_busy, std::move(fileLayer),
                                         [this](const QString& text) { return fitsStatus(text); }};
    fraDiv = new DividePanel(services, client);
    fraGlu = new GluePanel(services, client);
    createStatusLine(client);
    m_runs = std::make_unique<RunController>(desktop, m_busy, lblStatus, this);
    connect(m_runs.get(), &RunController::statusChanged, this, &frmMain::setStatus);
    attach(fraDiv);
    attach(fraGlu);
    connect(&m_busy, &BusyState::handlersReturned, this, &frmMain::closeWhenPending);
    connect(&m_busy, &BusyState::runningChanged, this, &frmMain::enableOpenItems);
    // The window keeps the size of its client area plus the menu bar.
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    Form_Load();
}

frmMain::~frmMain() {
    // The run ends first; then the panels and their engines go, while what
    // they were given is still there.
    m_runs.reset();
    delete fraDiv;
    delete fraGlu;
}

void frmMain::createMenu() {
    mnuFile = menuBar()->addMenu(tr("&File"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));

    mnuDivide = new QAction(tr("D&ivide File"), this);
    mnuDivide->setObjectName(QStringLiteral("mnuDivide"));
    mnuDivide->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    connect(mnuDivide, &QAction::triggered, this,
            [this] { m_busy.runWhenIdle([this] { mnuDivide_Click(); }); });

    mnuGlue = new QAction(tr("Gl&ue File"), this);
    mnuGlue->setObjectName(QStringLiteral("mnuGlue"));
    mnuGlue->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_U));
    connect(mnuGlue, &QAction::triggered, this,
            [this] { m_busy.runWhenIdle([this] { mnuGlue_Click(); }); });

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
    using namespace layout;
    lblCopy = new QLabel(client);
    lblCopy->setObjectName(QStringLiteral("lblCopy"));
    lblCopy->setGeometry(twipsRect(kWelcomeLeft, kBannerTop, kWelcomeWidth, kBannerHeight));
    lblCopy->setTextFormat(Qt::PlainText);
    lblCopy->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    frameAsBox(lblCopy);
    QFont banner;
    banner.setFamilies({QStringLiteral("Arial Black"), QStringLiteral("DejaVu Sans")});
    banner.setPointSize(12);
    banner.setBold(true);
    lblCopy->setFont(banner);

    lblEmail =
        createLink(client, "lblEmail",
                   QStringLiteral("Email: ") + QString::fromLatin1(kContactEmail), kEmailTop);
    lblUpdates =
        createLink(client, "lblUpdates",
                   QStringLiteral("Updates: ") + QString::fromLatin1(kUpdatePage), kUpdatesTop);
}

QLabel* frmMain::createLink(QWidget* client, const char* name, const QString& text, int top) {
    auto* link = new QLabel(text, client);
    link->setObjectName(QLatin1String(name));
    link->setGeometry(
        twipsRect(layout::kWelcomeLeft, top, layout::kWelcomeWidth, layout::kLinkHeight));
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
    lblStatus = new ElidedLabel(tr("Status"), client);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->setGeometry(twipsRect(layout::kStatusLeft, layout::kStatusTop, layout::kStatusWidth,
                                     layout::kRowHeight));
    lblStatus->setTextFormat(Qt::PlainText);
    frameAsBox(lblStatus);
}

void frmMain::attach(EnginePanel* panel) {
    connect(panel, &EnginePanel::statusChanged, this, &frmMain::setStatus);
    connect(panel, &EnginePanel::statusNoted, this, &frmMain::noteOnStatus);
    connect(panel, &EnginePanel::runRequested, m_runs.get(), &RunController::start);
    connect(panel, &EnginePanel::blocksShown, m_runs.get(), &RunController::showBlocks);
    connect(panel, &EnginePanel::stopRequested, m_runs.get(), &RunController::stopRun);
    connect(panel, &EnginePanel::closed, this, [this, panel] {
        showWelcome(true);
        otherItem(panel)->setEnabled(true);
    });
}

void frmMain::enableOpenItems(bool running) {
    if (running) {
        m_openItemsBeforeRun = {mnuDivide->isEnabled(), mnuGlue->isEnabled()};
        mnuDivide->setEnabled(false);
        mnuGlue->setEnabled(false);
        return;
    }
    mnuDivide->setEnabled(m_openItemsBeforeRun.first);
    mnuGlue->setEnabled(m_openItemsBeforeRun.second);
}

void frmMain::Form_Load() {
    fraDiv->hide();
    fraGlu->hide();
    const QPoint panelPlace = twipsRect(layout::kPanelLeft, layout::kPanelTop, 0, 0).topLeft();
    fraDiv->move(panelPlace);
    fraGlu->move(panelPlace);
    centreOnScreen();
    showBanner();
    fraDiv->loadUnits();
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

void frmMain::mnuDivide_Click() {
    chooseFor(fraDiv);
}

void frmMain::mnuGlue_Click() {
    chooseFor(fraGlu);
}

void frmMain::mnuExit_Click() {
    close();
}

void frmMain::closeEvent(QCloseEvent* event) {
    if (isRunning()) {
        event->ignore();
        if (!m_closePending) m_runs->askToStopAndQuit([this] { m_closePending = true; });
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

void frmMain::closeWhenPending() {
    if (!m_closePending) return;
    m_closePending = false;
    QTimer::singleShot(0, this, [this] { close(); });
}

void frmMain::chooseFor(EnginePanel* panel) {
    if (const std::optional<QString> chosen = panel->chooseInput()) openChosen(panel, *chosen);
}

QAction* frmMain::itemOf(const EnginePanel* panel) const {
    return panel == fraDiv ? mnuDivide : mnuGlue;
}

QAction* frmMain::otherItem(const EnginePanel* panel) const {
    return panel == fraDiv ? mnuGlue : mnuDivide;
}

EnginePanel* frmMain::panelFor(const QString& path) const {
    if (isBusy() || path.isEmpty()) return nullptr;
    EnginePanel* panel = isHeaderName(path) ? static_cast<EnginePanel*>(fraGlu) : fraDiv;
    return itemOf(panel)->isEnabled() ? panel : nullptr;
}

bool frmMain::openPath(const QString& path) {
    EnginePanel* panel = panelFor(path);
    if (!panel) return false;
    const BusyState::Scope busy(m_busy);
    const QString chosen = QFileInfo(path).absoluteFilePath();
    cdlOpenSave.remember(chosen);
    openChosen(panel, chosen);
    return true;
}

void frmMain::openChosen(EnginePanel* panel, const QString& chosen) {
    QAction* other = otherItem(panel);
    other->setEnabled(false);
    if (panel->open(chosen)) {
        showWelcome(false);
        panel->show();
        return;
    }
    other->setEnabled(true);
    // The open panel would show a file that no engine stands for any more.
    if (!panel->isHidden()) {
        panel->hide();
        showWelcome(true);
    }
}

void frmMain::dragEnterEvent(QDragEnterEvent* event) {
    if (offersCopy(event) && panelFor(draggedFile(event->mimeData()))) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void frmMain::dropEvent(QDropEvent* event) {
    const QString path = draggedFile(event->mimeData());
    if (!offersCopy(event) || !panelFor(path)) {
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
    // A text cut short is there whole as the tooltip.
    lblStatus->setToolTip(fitsStatus(text) ? QString() : text);
    lblStatus->setAccessibleDescription(QString());
    emit statusChanged(text);
}

void frmMain::noteOnStatus(const QString& note) {
    const QString text = lblStatus->text();
    const QString whole = fitsStatus(text) ? note : text + u'\n' + note;
    lblStatus->setToolTip(whole);
    lblStatus->setAccessibleDescription(note);
}

bool frmMain::fitsStatus(const QString& text) const {
    return lblStatus->fits(text);
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == lblEmail || watched == lblUpdates) &&
        event->type() == QEvent::MouseButtonRelease) {
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
    return QMainWindow::eventFilter(watched, event);
}

void frmMain::lblEmail_Click() {
    const QString address = QString::fromLatin1(kContactEmail);
    const QUrl target(QStringLiteral("mailto:") + address + QStringLiteral("?Subject=Morvane"));
    if (!m_desktop.openUrl(target)) {
        m_desktop.showMessage(this,
                              QStringLiteral("Unable to start your Email agent automatically.\n"
                                             "Please send an Email to ") +
                                  address + QStringLiteral(" manually."),
                              MessageIcon::Information);
    }
}

void frmMain::lblUpdates_Click() {
    const QString page = QString::fromLatin1(kUpdatePage);
    if (!m_desktop.openUrl(QUrl(page))) {
        m_desktop.showMessage(this,
                              QStringLiteral("Unable to start your web browser automatically.\n"
                                             "Please goto the site ") +
                                  page + QStringLiteral(" manually."),
                              MessageIcon::Information);
    }
}

}  // namespace morvane

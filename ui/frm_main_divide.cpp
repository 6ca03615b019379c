// The divide panel: choosing the file, the chunk size and its unit, and the
// division run with its status line.
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <algorithm>
#include <iterator>

#include "engine/file_divider.h"
#include "ui/divider_observer.h"
#include "ui/engine_text.h"
#include "ui/frm_main.h"
#include "ui/number_format.h"
#include "ui/recovery_text.h"
#include "ui/window_geometry.h"

namespace morvane {

namespace {

constexpr int32_t kUnitSizes[] = {1, 1024, 1048576};
constexpr int32_t kAdvisedMaxChunks = 1000;

}  // namespace

void DividerObserver::onGenHeader() {
    m_form.deliver(&frmMain::objDiv_onGenHeader, snapshotOf(*m_form.objDiv));
}
void DividerObserver::onNewDivision() {
    m_form.deliver(&frmMain::objDiv_onNewDivision, snapshotOf(*m_form.objDiv));
}
void DividerObserver::onComplete() {
    m_form.deliver(&frmMain::objDiv_onComplete, snapshotOf(*m_form.objDiv));
}
void DividerObserver::onError() {
    m_form.deliver(&frmMain::objDiv_onError, snapshotOf(*m_form.objDiv));
}
void DividerObserver::onClearErr() {
    m_form.deliver(&frmMain::objDiv_onClearErr, snapshotOf(*m_form.objDiv));
}

void frmMain::createDividePanel(QWidget* client) {
    fraDiv = createPanel(client, "fraDiv", tr("Divide"));

    lblDFilenameA = createCaption(fraDiv, "lblDFilenameA", tr("File:"), 480);
    lblDFilename = createValue(fraDiv, "lblDFilename", QStringLiteral("..."), 480);
    lblDFileSizeA = createCaption(fraDiv, "lblDFileSizeA", tr("Size:"), 1032);
    lblDFilesize = createValue(fraDiv, "lblDFilesize", QStringLiteral("0 byte"), 1032);

    lblDChunkSizeA = createCaption(fraDiv, "lblDChunkSizeA", tr("Chunk &Size:"), 1584);
    txtDChunk = new QLineEdit(QStringLiteral("0"), fraDiv);
    txtDChunk->setObjectName(QStringLiteral("txtDChunk"));
    txtDChunk->setGeometry(twipsRect(1800, 1560, 5655, 315));
    txtDChunk->installEventFilter(this);
    // A file dropped on the box goes to the window, which opens it.
    txtDChunk->setAcceptDrops(false);
    lblDChunkSizeA->setBuddy(txtDChunk);
    cmbUnit = new QComboBox(fraDiv);
    cmbUnit->setObjectName(QStringLiteral("cmbUnit"));
    cmbUnit->setGeometry(twipsRect(7560, 1560, 975, 315));
    cmbUnit->setEditable(false);
    cmbUnit->setAccessibleName(tr("Unit"));
    cmbUnit->installEventFilter(this);
    connect(cmbUnit, &QComboBox::currentIndexChanged, this, &frmMain::unitChosen);

    lblDLstChunkSizeA = createCaption(fraDiv, "lblDLstChunkSizeA", tr("Last Chunk Size:"), 2136);
    lblDLastChunkSize = createValue(fraDiv, "lblDLastChunkSize", QStringLiteral("0 byte"), 2136);
    lblDNumChunkA = createCaption(fraDiv, "lblDNumChunkA", tr("Number of Chunks:"), 2688);
    lblDNumChunk = createValue(fraDiv, "lblDNumChunk", QStringLiteral("0"), 2688);

    // The recovery chunks to write, and beside the box what they add.
    lblDRecoveryA = createCaption(fraDiv, "lblDRecoveryA", tr("&Recovery:"), 3240);
    spnDRecovery = new QSpinBox(fraDiv);
    spnDRecovery->setObjectName(QStringLiteral("spnDRecovery"));
    spnDRecovery->setGeometry(twipsRect(1800, 3216, 975, 315));
    spnDRecovery->setRange(0, 0);
    spnDRecovery->setAccessibleName(tr("Recovery"));
    // A file dropped on the box goes to the window, which opens it.
    spnDRecovery->setAcceptDrops(false);
    for (QLineEdit* edit : spnDRecovery->findChildren<QLineEdit*>()) edit->setAcceptDrops(false);
    spnDRecovery->installEventFilter(this);
    lblDRecoveryA->setBuddy(spnDRecovery);
    connect(spnDRecovery, &QSpinBox::valueChanged, this, &frmMain::recoveryChosen);
    lblDRecovery = new QLabel(recoveryChunksText(0), fraDiv);
    lblDRecovery->setObjectName(QStringLiteral("lblDRecovery"));
    lblDRecovery->setGeometry(twipsRect(2880, 3240, 5655, 315));
    lblDRecovery->setTextFormat(Qt::PlainText);

    cmdDiv = createButton(fraDiv, "cmdDiv", tr("&Divide"), 4680);
    cmdDCancel = createButton(fraDiv, "cmdDCancel", tr("&Cancel"), 6720);
    cmdDiv->installEventFilter(this);
    cmdDCancel->installEventFilter(this);
    connect(cmdDiv, &QPushButton::clicked, this, [this] { runWhenIdle(&frmMain::cmdDiv_Click); });
    connect(cmdDCancel, &QPushButton::clicked, this, [this] { cmdDCancel_Click(); });

    setTabOrder(txtDChunk, cmbUnit);
    setTabOrder(cmbUnit, spnDRecovery);
    setTabOrder(spnDRecovery, cmdDiv);
    setTabOrder(cmdDiv, cmdDCancel);
}

void frmMain::mnuDivide_Click() {
    const std::optional<QString> chosen =
        chooseFile(FileDialogRequest::Kind::Open, QStringLiteral("File to be divided"),
                   QStringLiteral("All Files (*.*) | *.*"));
    if (chosen) divideChosen(*chosen);
}

void frmMain::divideChosen(const QString& chosen) {
    // "Bytes" is selected without refreshing the panel from the previous
    // divider: the panel is filled from the new one once it is analysed.
    {
        const QSignalBlocker quiet(cmbUnit);
        cmbUnit->setCurrentIndex(0);
    }
    m_unitIndex = 0;
    lngUnitSize = 1;
    openChosen(
        chosen, fraDiv, mnuGlue, QStringLiteral("File Analysis Failed"),
        [this](const QString& name, const QString& folder) {
            objDiv = std::make_unique<FileDivider>(m_fileLayer);
            objDiv->setObserver(m_dividerObserver.get());
            strDivFileName = name;
            strDivFilePath = folder;
            strDivBaseName = baseNameOf(strDivFileName);
            objDiv->setBigFileName(toEngineText(strDivFileName));
            objDiv->setBigFilePath(toEngineText(strDivFilePath));
            if (!objDiv->analyze()) return false;
            // A new file starts without recovery data.
            m_recoveryChunks = 0;
            showDivideInfo();
            return true;
        },
        [this] { objDiv.reset(); });
}

void frmMain::showDivideInfo() {
    if (!objDiv || lngUnitSize <= 0) return;
    lblDFilename->setText(fromEngineText(objDiv->BigFilePath()) +
                          fromEngineText(objDiv->BigFileName()));
    lblDFilesize->setText(bytesText(objDiv->BigFileSize()));
    txtDChunk->setText(formatUpToTwoDecimals(static_cast<double>(objDiv->AvgChunkSize()) /
                                             static_cast<double>(lngUnitSize)));
    if (txtDChunk->hasFocus()) txtDChunk->selectAll();
    lblDLastChunkSize->setText(bytesText(objDiv->LastChunkSize()));
    lblDNumChunk->setText(formatGrouped(objDiv->NumOfChunks()));
    showRecoveryPlan();
    if (objDiv->NumOfChunks() > kAdvisedMaxChunks) {
        showMessage(QStringLiteral("It is recommended to keep the number of chunks under 1000.\n"
                                   "Increase the chunk size will reduce the number of chunks "
                                   "produced."),
                    MessageIcon::Information);
    }
}

void frmMain::showRecoveryPlan() {
    const int32_t most = objDiv->MaxRecoveryChunks();
    m_recoveryChunks = std::min(m_recoveryChunks, most);
    {
        const QSignalBlocker quiet(spnDRecovery);
        spnDRecovery->setRange(0, most);
        spnDRecovery->setValue(m_recoveryChunks);
    }
    const QString plan =
        recoveryPlanText(m_recoveryChunks, objDiv->RecoveryBytes(m_recoveryChunks), most);
    lblDRecovery->setText(plan);
    spnDRecovery->setAccessibleDescription(plan);
}

void frmMain::recoveryChosen(int count) {
    if (isRunning() || !objDiv) {
        // The run took the number in force: the box keeps showing it.
        const QSignalBlocker quiet(spnDRecovery);
        spnDRecovery->setValue(m_recoveryChunks);
        return;
    }
    m_recoveryChunks = count;
    showRecoveryPlan();
}

void frmMain::unitChosen(int index) {
    if (isBusy()) {
        // No unit change while an engine works: the list shows the unit in force.
        const QSignalBlocker quiet(cmbUnit);
        cmbUnit->setCurrentIndex(m_unitIndex);
        return;
    }
    m_unitIndex = index;
    BusyScope busy(*this);
    cmbUnit_Click();
}

void frmMain::cmbUnit_Click() {
    const int index = cmbUnit->currentIndex();
    if (index >= 0 && index < static_cast<int>(std::size(kUnitSizes)))
        lngUnitSize = kUnitSizes[index];
    showDivideInfo();
}

void frmMain::txtDChunk_GotFocus(Qt::FocusReason reason) {
    // The mouse press that gave the focus places the cursor next, and a
    // press on selected text would start a drag: select once the button
    // is released instead.
    m_selectOnRelease = reason == Qt::MouseFocusReason;
    if (!m_selectOnRelease) txtDChunk->selectAll();
}

bool frmMain::txtDChunk_KeyPress(int keyAscii) {
    if (keyAscii != 13) return false;
    runWhenIdle(&frmMain::commitChunkSize);
    return true;
}

void frmMain::txtDChunk_LostFocus(Qt::FocusReason reason) {
    // Only a move to another control of the window commits: not a menu, not
    // another window, and not the box's own message box.
    if (m_committing || reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason ||
        reason == Qt::MenuBarFocusReason)
        return;
    // The panel is closing: there is no other control to go to.
    if (!txtDChunk->isVisible()) return;
    const int messagesBefore = m_messagesShown;
    runWhenIdle(&frmMain::commitChunkSize);
    if (reason == Qt::MouseFocusReason && m_messagesShown != messagesBefore) {
        // The press that moved the focus was interrupted by a message box and
        // its release is gone: drop the press rather than leave a control
        // half-clicked. It is delivered right after this focus change.
        m_dropNextPress = true;
        QTimer::singleShot(0, this, [this] { m_dropNextPress = false; });
    }
}

bool frmMain::actOnAccessKey(QPushButton* button) {
    // The access key moves the focus to the button first, so the chunk-size
    // box commits as for a mouse click. A commit that brought up a message
    // box (a refused size, the advice on many chunks) ends the key press
    // there, as it ends the press of a mouse click; otherwise the button
    // acts at once. Which widget has the focus right after the message box
    // depends on when the desktop activates the window again, so it is not
    // what decides.
    const int messagesBefore = m_messagesShown;
    button->setFocus(Qt::ShortcutFocusReason);
    if (m_messagesShown == messagesBefore) button->click();
    return true;
}

void frmMain::commitChunkSize() {
    if (!objDiv) return;
    m_committing = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{m_committing};

    const ChunkSizeEntry entry = readChunkSizeEntry(txtDChunk->text(), lngUnitSize);
    if (entry.tooBig) {
        showMessage(QStringLiteral("Chunk Size Too Big."), MessageIcon::Error);
        txtDChunk->setFocus(Qt::OtherFocusReason);
        txtDChunk->selectAll();
        return;
    }
    objDiv->setAvgChunkSize(entry.bytes);
    if (objDiv->computeChunks())
        showDivideInfo();
    else
        showMessage(QStringLiteral("Error computing chunk size."), MessageIcon::Error);
}

void frmMain::cmdDiv_Click() {
    // After a failed analysis there is no divider to run.
    if (!objDiv) return;
    const std::optional<QString> chosen =
        chooseFile(FileDialogRequest::Kind::Save, QStringLiteral("Divide as"),
                   QStringLiteral("Division Header Files (*.hed) | *.hed"),
                   strDivBaseName + QStringLiteral(".hed"));
    if (!chosen) return;

    const QString headerName = nameOf(*chosen);
    strDivPrefix = baseNameOf(headerName);
    strDivChunkPath = chosen->left(chosen->size() - headerName.size());
    objDiv->setChunkPrefix(toEngineText(strDivPrefix));
    objDiv->setChunkPath(toEngineText(strDivChunkPath));
    objDiv->setRecoveryChunks(m_recoveryChunks);
    FileDivider* divider = objDiv.get();
    startRun(
        RunKind::Division, divider->BigFileSize(), strDivFileName,
        [divider](const std::atomic<bool>&) {
            RunOutcome outcome;
            outcome.done = divider->divideFile();
            outcome.stopped = divider->Stopped();
            return outcome;
        },
        [divider] { divider->requestStop(); }, [divider] { return divider->BytesDone(); });
}

void frmMain::divisionEnded(const RunOutcome& outcome) {
    if (outcome.stopped)
        setStatus(QStringLiteral("Division stopped."));
    else if (!outcome.done)
        showMessage(QStringLiteral("Failed to divide the file."), MessageIcon::Error);

    objDiv.reset();
    fraDiv->hide();
    showWelcome(true);
    mnuGlue->setEnabled(true);
}

void frmMain::cmdDCancel_Click() {
    fraDiv->hide();
    showWelcome(true);
    mnuGlue->setEnabled(true);
}

void frmMain::objDiv_onGenHeader(const EngineSnapshot&) {
    setStatus(QStringLiteral("Generating Division Header File..."));
}

void frmMain::objDiv_onNewDivision(const EngineSnapshot& engine) {
    setStatus(progressText(engine));
}

void frmMain::objDiv_onComplete(const EngineSnapshot&) {
    setStatus(QStringLiteral("File Successfully Divided!"));
}

void frmMain::objDiv_onError(const EngineSnapshot& engine) {
    setStatus(engineErrorText(engine));
}

void frmMain::objDiv_onClearErr(const EngineSnapshot&) {
    setStatus(QStringLiteral("Status"));
}

}  // namespace morvane

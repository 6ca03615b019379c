#include "ui/divide_panel.h"

#include <QComboBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <algorithm>
#include <iterator>
#include <limits>

#include "engine/division_header.h"
#include "engine/file_divider.h"
#include "engine/output_names.h"
#include "engine/output_set.h"
#include "ui/busy_state.h"
#include "ui/engine_text.h"
#include "ui/number_format.h"
#include "ui/open_save_dialog.h"
#include "ui/recovery_text.h"
#include "ui/window_geometry.h"

namespace morvane {

namespace {

constexpr int32_t kUnitSizes[] = {1, 1024, 1048576};
constexpr int32_t kAdvisedMaxChunks = 1000;

// A box on the row at `top`, raised to stand level with the row's labels.
QRect boxRect(int left, int top, int width) {
    return twipsRect(left, top - layout::kBoxRaise, width, layout::kRowHeight);
}

}  // namespace

DividePanel::DividePanel(const Services& services, QWidget* client)
    : EnginePanel("fraDiv", tr("Divide"), divideTexts(), services, client) {
    createControls();
    connect(&m_signals, &EngineSignals::genHeader, this, &DividePanel::objDiv_onGenHeader);
    connect(&m_signals, &EngineSignals::newDivision, this, &DividePanel::objDiv_onNewDivision);
    connect(&m_signals, &EngineSignals::complete, this, &DividePanel::objDiv_onComplete);
    connect(&m_signals, &EngineSignals::error, this, &DividePanel::objDiv_onError);
    connect(&m_signals, &EngineSignals::clearErr, this, &DividePanel::objDiv_onClearErr);
}

DividePanel::~DividePanel() = default;

void DividePanel::createControls() {
    using namespace layout;
    lblDFilename =
        row("lblDFilenameA", tr("File:"), "lblDFilename", QStringLiteral("..."), kDivideFileRow);
    lblDFilesize =
        row("lblDFileSizeA", tr("Size:"), "lblDFilesize", QStringLiteral("0 byte"), kDivideSizeRow);

    QLabel* chunkSizeCaption = caption("lblDChunkSizeA", tr("Chunk &Size:"), kDivideChunkSizeRow);
    txtDChunk = new QLineEdit(QStringLiteral("0"), this);
    txtDChunk->setObjectName(QStringLiteral("txtDChunk"));
    txtDChunk->setGeometry(boxRect(kValueLeft, kDivideChunkSizeRow, kChunkBoxWidth));
    txtDChunk->installEventFilter(this);
    // A file dropped on the box goes to the window, which opens it.
    txtDChunk->setAcceptDrops(false);
    chunkSizeCaption->setBuddy(txtDChunk);
    cmbUnit = new QComboBox(this);
    cmbUnit->setObjectName(QStringLiteral("cmbUnit"));
    cmbUnit->setGeometry(boxRect(kUnitListLeft, kDivideChunkSizeRow, kSmallBoxWidth));
    cmbUnit->setEditable(false);
    cmbUnit->setAccessibleName(tr("Unit"));
    cmbUnit->installEventFilter(this);
    connect(cmbUnit, &QComboBox::currentIndexChanged, this, &DividePanel::unitChosen);

    lblDLastChunkSize = row("lblDLstChunkSizeA", tr("Last Chunk Size:"), "lblDLastChunkSize",
                            QStringLiteral("0 byte"), kDivideLastChunkRow);
    lblDNumChunk = row("lblDNumChunkA", tr("Number of Chunks:"), "lblDNumChunk",
                       QStringLiteral("0"), kDivideNumChunksRow);
    createRecoveryRow();

    cmdDiv = button("cmdDiv", tr("&Divide"), kRunButtonLeft);
    cmdDCancel = button("cmdDCancel", tr("&Cancel"), kCancelButtonLeft);
    connect(cmdDiv, &QPushButton::clicked, this,
            [this] { m_busy.runWhenIdle([this] { cmdDiv_Click(); }); });
    connect(cmdDCancel, &QPushButton::clicked, this, [this] { cmdDCancel_Click(); });

    setTabOrder(txtDChunk, cmbUnit);
    setTabOrder(cmbUnit, spnDRecovery);
    setTabOrder(spnDRecovery, cmdDiv);
    setTabOrder(cmdDiv, cmdDCancel);
}

void DividePanel::createRecoveryRow() {
    using namespace layout;
    // The recovery chunks to write, and beside the box what they add.
    QLabel* recoveryCaption = caption("lblDRecoveryA", tr("&Recovery:"), kDivideRecoveryRow);
    spnDRecovery = new QSpinBox(this);
    spnDRecovery->setObjectName(QStringLiteral("spnDRecovery"));
    spnDRecovery->setGeometry(boxRect(kValueLeft, kDivideRecoveryRow, kSmallBoxWidth));
    spnDRecovery->setRange(0, 0);
    spnDRecovery->setAccessibleName(tr("Recovery"));
    // A file dropped on the box goes to the window, which opens it.
    spnDRecovery->setAcceptDrops(false);
    for (QLineEdit* edit : spnDRecovery->findChildren<QLineEdit*>()) edit->setAcceptDrops(false);
    spnDRecovery->installEventFilter(this);
    recoveryCaption->setBuddy(spnDRecovery);
    connect(spnDRecovery, &QSpinBox::valueChanged, this, &DividePanel::recoveryChosen);
    lblDRecovery = new QLabel(recoveryChunksText(0), this);
    lblDRecovery->setObjectName(QStringLiteral("lblDRecovery"));
    lblDRecovery->setGeometry(
        twipsRect(kRecoveryPlanLeft, kDivideRecoveryRow, kRecoveryPlanWidth, kRowHeight));
    lblDRecovery->setTextFormat(Qt::PlainText);
}

void DividePanel::loadUnits() {
    const QSignalBlocker quiet(cmbUnit);
    cmbUnit->addItem(tr("Bytes"));
    cmbUnit->addItem(tr("KB"));
    cmbUnit->addItem(tr("MB"));
    // Adding the first entry selects it; the list starts with none selected.
    cmbUnit->setCurrentIndex(-1);
    m_unitIndex = -1;
}

bool DividePanel::analyze(const QString& name, const QString& folder) {
    // "Bytes" is selected without refreshing the panel from the previous
    // divider: the panel is filled from the new one once it is analysed.
    {
        const QSignalBlocker quiet(cmbUnit);
        cmbUnit->setCurrentIndex(0);
    }
    m_unitIndex = 0;
    lngUnitSize = 1;
    objDiv = std::make_unique<FileDivider>(m_fileLayer);
    m_signals.watch(*objDiv);
    strDivFileName = name;
    strDivFilePath = folder;
    strDivBaseName = baseNameOf(strDivFileName);
    objDiv->setBigFileName(toEngineText(strDivFileName));
    objDiv->setBigFilePath(toEngineText(strDivFilePath));
    FileDivider* divider = objDiv.get();
    const std::shared_ptr<FileLayer> layer = fileLayer();
    const std::string prefix = toEngineText(strDivBaseName);
    bool analysed = false;
    OutputSet::Leftovers leftovers;
    workAside([&] {
        analysed = divider->analyze();
        if (!analysed) return;
        // What a division beside the file, or a glue into its name, writes.
        OutputNames names(
            {divider->BigFileName(), headerFileName(prefix), checksumFileName(prefix)}, prefix,
            std::numeric_limits<int32_t>::max());
        names.addRecoveryFilesOf(prefix);
        leftovers = OutputSet::clearLeftovers(*layer, divider->BigFilePath(), names);
    });
    if (!analysed) return false;
    // A new file starts without recovery data.
    m_recoveryChunks = 0;
    takeUpRetry(strDivFilePath + strDivFileName);
    showDivideInfo();
    reportLeftovers(leftovers.files, leftovers.bytes);
    return true;
}

void DividePanel::takeUpRetry(const QString& file) {
    if (!m_retry || m_retry->file != file) return;
    const Retry retry = *m_retry;
    m_retry.reset();
    if (retry.unitIndex >= 0 && retry.unitIndex < static_cast<int>(std::size(kUnitSizes))) {
        const QSignalBlocker quiet(cmbUnit);
        cmbUnit->setCurrentIndex(retry.unitIndex);
        m_unitIndex = retry.unitIndex;
        lngUnitSize = kUnitSizes[retry.unitIndex];
    }
    objDiv->setAvgChunkSize(retry.chunkSize);
    // A file that has changed since may not take the size any more: it
    // keeps the plan of its analysis.
    if (!objDiv->computeChunks()) {
        objDiv->setAvgChunkSize(static_cast<int32_t>(objDiv->BigFileSize()));
        objDiv->computeChunks();
    }
    m_recoveryChunks = retry.recoveryChunks;
}

void DividePanel::runFailed() {
    if (!objDiv) return;
    m_retry = Retry{strDivFilePath + strDivFileName, m_unitIndex, objDiv->AvgChunkSize(),
                    m_recoveryChunks};
}

void DividePanel::runSucceeded() {
    if (!objDiv) return;
    noteOnStatus(divisionWrittenText(strDivChunkPath, strDivPrefix + QStringLiteral(".hed"),
                                     objDiv->NumOfChunks(), m_recoveryChunks));
}

void DividePanel::enableRunControls(bool enabled) {
    for (QWidget* control : {static_cast<QWidget*>(cmdDiv), static_cast<QWidget*>(txtDChunk),
                             static_cast<QWidget*>(cmbUnit), static_cast<QWidget*>(spnDRecovery)})
        control->setEnabled(enabled);
}

void DividePanel::releaseEngine() {
    objDiv.reset();
}

void DividePanel::showDivideInfo() {
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

void DividePanel::showRecoveryPlan() {
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

void DividePanel::recoveryChosen(int count) {
    if (m_busy.isBusy() || !objDiv) {
        // A run took the number in force, or a file is being opened: the
        // box keeps showing it.
        const QSignalBlocker quiet(spnDRecovery);
        spnDRecovery->setValue(m_recoveryChunks);
        return;
    }
    m_recoveryChunks = count;
    showRecoveryPlan();
}

void DividePanel::unitChosen(int index) {
    if (m_busy.isBusy()) {
        // No unit change while an engine works: the list shows the unit in force.
        const QSignalBlocker quiet(cmbUnit);
        cmbUnit->setCurrentIndex(m_unitIndex);
        return;
    }
    m_unitIndex = index;
    const BusyState::Scope busy(m_busy);
    cmbUnit_Click();
}

void DividePanel::cmbUnit_Click() {
    const int index = cmbUnit->currentIndex();
    if (index >= 0 && index < static_cast<int>(std::size(kUnitSizes)))
        lngUnitSize = kUnitSizes[index];
    showDivideInfo();
}

void DividePanel::txtDChunk_GotFocus(Qt::FocusReason reason) {
    // The mouse press that gave the focus places the cursor next, and a
    // press on selected text would start a drag: select once the button
    // is released instead.
    m_selectOnRelease = reason == Qt::MouseFocusReason;
    if (!m_selectOnRelease) txtDChunk->selectAll();
}

bool DividePanel::txtDChunk_KeyPress(int keyAscii) {
    if (keyAscii != 13) return false;
    m_busy.runWhenIdle([this] { commitChunkSize(); });
    return true;
}

void DividePanel::txtDChunk_LostFocus(Qt::FocusReason reason) {
    // Only a move to another control of the window commits: not a menu, not
    // another window, and not the box's own message box.
    if (m_committing || reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason ||
        reason == Qt::MenuBarFocusReason)
        return;
    // The panel is closing: there is no other control to go to.
    if (!txtDChunk->isVisible()) return;
    const int messagesBefore = messagesShown();
    m_busy.runWhenIdle([this] { commitChunkSize(); });
    if (reason == Qt::MouseFocusReason && messagesShown() != messagesBefore) {
        // The press that moved the focus was interrupted by a message box and
        // its release is gone: drop the press rather than leave a control
        // half-clicked. It is delivered right after this focus change.
        m_dropNextPress = true;
        QTimer::singleShot(0, this, [this] { m_dropNextPress = false; });
    }
}

void DividePanel::commitChunkSize() {
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

bool DividePanel::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == txtDChunk) {
        if (chunkBoxEvent(event)) return true;
    } else if (watched == cmdDiv || watched == cmdDCancel || watched == cmbUnit ||
               watched == spnDRecovery) {
        if ((type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) &&
            m_dropNextPress) {
            m_dropNextPress = false;
            return true;
        }
    }
    return EnginePanel::eventFilter(watched, event);
}

bool DividePanel::chunkBoxEvent(QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::FocusIn || type == QEvent::FocusOut) {
        // The box handles the change first (a line edit drops its selection
        // on leaving), then the handler runs, as it would after the change
        // has happened.
        static_cast<QObject*>(txtDChunk)->event(event);
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (type == QEvent::FocusIn) {
            txtDChunk_GotFocus(reason);
        } else {
            m_selectOnRelease = false;
            txtDChunk_LostFocus(reason);
        }
        return true;
    }
    if (type == QEvent::MouseButtonRelease && m_selectOnRelease) {
        static_cast<QObject*>(txtDChunk)->event(event);
        m_selectOnRelease = false;
        txtDChunk->selectAll();
        return true;
    }
    if (type == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        return (key == Qt::Key_Return || key == Qt::Key_Enter) && txtDChunk_KeyPress(13);
    }
    return false;
}

void DividePanel::cmdDiv_Click() {
    // After a failed analysis there is no divider to run.
    if (!objDiv) return;
    FileDivider* planned = objDiv.get();
    planned->setRecoveryChunks(m_recoveryChunks);
    // Listing the folder and reading the recovery files in it may take long:
    // the dialog's window goes on answering meanwhile.
    const std::optional<QString> chosen =
        chooseOutput(strDivBaseName + QStringLiteral(".hed"), [this, planned](const QString& path) {
            const std::string folder = toEngineText(folderOf(path));
            const std::string prefix = toEngineText(baseNameOf(nameOf(path)));
            std::vector<std::string> replaced;
            workAside([&] { replaced = planned->filesReplacedIn(folder, prefix); });
            QStringList names;
            for (const std::string& name : replaced) names << fromEngineText(name);
            return names;
        });
    if (!chosen) return;

    const QString headerName = nameOf(*chosen);
    strDivPrefix = baseNameOf(headerName);
    strDivChunkPath = chosen->left(chosen->size() - headerName.size());
    objDiv->setChunkPrefix(toEngineText(strDivPrefix));
    objDiv->setChunkPath(toEngineText(strDivChunkPath));
    objDiv->setRecoveryChunks(m_recoveryChunks);
    FileDivider* divider = objDiv.get();
    requestRun(
        divider->BigFileSize(), strDivFileName, strDivChunkPath,
        [divider](const std::atomic<bool>&) {
            RunOutcome outcome;
            outcome.done = divider->divideFile();
            outcome.stopped = divider->Stopped();
            return outcome;
        },
        [divider] { divider->requestStop(); }, [divider] { return divider->BytesDone(); },
        [divider] { return divider->Phase(); },
        m_recoveryChunks > 0 ? divider->RecoveryBytes(m_recoveryChunks) : 0);
}

void DividePanel::cmdDCancel_Click() {
    // A file is being opened: the panel stays until it is.
    if (m_busy.isBusy() && !m_busy.isRunning()) return;
    cancel();
}

void DividePanel::objDiv_onGenHeader(const EngineSnapshot&) {
    setStatus(QStringLiteral("Generating Division Header File..."));
}

void DividePanel::objDiv_onNewDivision(const EngineSnapshot& engine) {
    showProgress(engine);
}

void DividePanel::objDiv_onComplete(const EngineSnapshot&) {
    setStatus(m_texts.done);
}

void DividePanel::objDiv_onError(const EngineSnapshot& engine) {
    setErrorStatus(engine);
}

void DividePanel::objDiv_onClearErr(const EngineSnapshot&) {
    setStatus(QStringLiteral("Status"));
}

}  // namespace morvane

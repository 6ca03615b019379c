// The glue panel: choosing the header file, its summary, and the glue run
// with its status line.
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include "engine/file_glue.h"
#include "ui/engine_text.h"
#include "ui/frm_main.h"
#include "ui/glue_observer.h"
#include "ui/number_format.h"
#include "ui/recovery_text.h"

namespace morvane {

namespace {

// A name that came out of a header file, made safe to propose as a file
// name: its last path component (either separator counts), without
// control characters.
QString safeFileName(const QString& stored) {
    const qsizetype cut = std::max(stored.lastIndexOf(u'/'), stored.lastIndexOf(u'\\'));
    QString name;
    for (QChar c : stored.mid(cut + 1)) {
        if (c.category() != QChar::Other_Control) name += c;
    }
    if (name == QLatin1String(".") || name == QLatin1String("..")) name.clear();
    return name;
}

}  // namespace

void GlueObserver::onError() {
    m_form.deliver(&frmMain::objGlu_onError, snapshotOf(*m_form.objGlu));
}
void GlueObserver::onNewDivision() {
    m_form.deliver(&frmMain::objGlu_onNewDivision, snapshotOf(*m_form.objGlu));
}
void GlueObserver::onComplete() {
    m_form.deliver(&frmMain::objGlu_onComplete, snapshotOf(*m_form.objGlu));
}
void GlueObserver::onClearErr() {
    m_form.deliver(&frmMain::objGlu_onClearErr, snapshotOf(*m_form.objGlu));
}

void frmMain::createGluePanel(QWidget* client) {
    fraGlu = createPanel(client, "fraGlu", tr("Glue"));

    lblGHeaderA = createCaption(fraGlu, "lblGHeaderA", tr("Header File:"), 480);
    lblGHeader = createValue(fraGlu, "lblGHeader", QStringLiteral("..."), 480);
    lblGChunkSizeA = createCaption(fraGlu, "lblGChunkSizeA", tr("Chunk Size:"), 1020);
    lblGChunkSize = createValue(fraGlu, "lblGChunkSize", QStringLiteral("0 byte"), 1020);
    lblGLastChunkSizeA = createCaption(fraGlu, "lblGLastChunkSizeA", tr("Last Chunk Size:"), 1560);
    lblGLastChunkSize = createValue(fraGlu, "lblGLastChunkSize", QStringLiteral("0 byte"), 1560);
    lblGNumChunkA = createCaption(fraGlu, "lblGNumChunkA", tr("Number of Chunks:"), 2100);
    lblGNumChunk = createValue(fraGlu, "lblGNumChunk", QStringLiteral("0"), 2100);
    lblGBigFileNameA = createCaption(fraGlu, "lblGBigFileNameA", tr("Original Filename:"), 2688);
    lblGBigFileName = createValue(fraGlu, "lblGBigFileName", QStringLiteral("..."), 2688);
    lblGBigFileSizeA = createCaption(fraGlu, "lblGBigFileSizeA", tr("Original File Size:"), 3276);
    lblGBigFileSize = createValue(fraGlu, "lblGBigFileSize", QStringLiteral("0 byte"), 3276);
    // Whether the glue verifies the chunks: the checksum file beside the header, or "none".
    lblGChecksumA = createCaption(fraGlu, "lblGChecksumA", tr("Checksums:"), 3615);
    lblGChecksum = createValue(fraGlu, "lblGChecksum", QStringLiteral("none"), 3615);
    // What the recovery data beside the header can rebuild; left of the buttons.
    lblGRecoveryA = createCaption(fraGlu, "lblGRecoveryA", tr("Recovery:"), 4050);
    lblGRecovery = createValue(fraGlu, "lblGRecovery", recoveryChunksText(0), 4050, 2715);

    cmdGlu = createButton(fraGlu, "cmdGlu", tr("&Glue"), 4680);
    cmdGCancel = createButton(fraGlu, "cmdGCancel", tr("&Cancel"), 6720);
    cmdGlu->installEventFilter(this);
    cmdGCancel->installEventFilter(this);
    connect(cmdGlu, &QPushButton::clicked, this, [this] { runWhenIdle(&frmMain::cmdGlu_Click); });
    connect(cmdGCancel, &QPushButton::clicked, this, [this] { cmdGCancel_Click(); });
    setTabOrder(cmdGlu, cmdGCancel);
}

void frmMain::mnuGlue_Click() {
    const std::optional<QString> chosen =
        chooseFile(FileDialogRequest::Kind::Open, QStringLiteral("Open header file"),
                   QStringLiteral("Division Header Files (*.hed) | *.hed"));
    if (chosen) glueChosen(*chosen);
}

void frmMain::glueChosen(const QString& chosen) {
    openChosen(
        chosen, fraGlu, mnuDivide, QStringLiteral("Header File Analysis Failed."),
        [this](const QString& name, const QString& folder) {
            objGlu = std::make_unique<FileGlue>(m_fileLayer);
            objGlu->setObserver(m_glueObserver.get());
            strGluHeaderName = name;
            strGluHeaderPath = folder;
            strGluPrefix = baseNameOf(strGluHeaderName);
            objGlu->setHeaderFileName(toEngineText(strGluHeaderName));
            objGlu->setHeaderFilePath(toEngineText(strGluHeaderPath));
            objGlu->setChunkPrefix(toEngineText(strGluPrefix));
            if (!objGlu->analyze()) return false;
            showGlueInfo();
            return true;
        },
        [this] { objGlu.reset(); });
}

void frmMain::showGlueInfo() {
    lblGHeader->setText(fromEngineText(objGlu->HeaderFilePath()) +
                        fromEngineText(objGlu->HeaderFileName()));
    lblGChunkSize->setText(bytesText(objGlu->AvgChunkSize()));
    lblGLastChunkSize->setText(bytesText(objGlu->LastChunkSize()));
    lblGNumChunk->setText(formatGrouped(objGlu->NumOfChunks()));
    lblGBigFileName->setText(QString::fromStdString(objGlu->BigFileName()));
    lblGBigFileSize->setText(bytesText(objGlu->BigFileSize()));
    const std::string& checksums = objGlu->ChecksumFileName();
    lblGChecksum->setText(checksums.empty() ? QStringLiteral("none") : fromEngineText(checksums));
    lblGRecovery->setText(recoveryChunksText(objGlu->RecoveryChunks()));
}

QString frmMain::proposedOutputName() const {
    const QString name = safeFileName(QString::fromStdString(objGlu->BigFileName()));
    // A stored name with nothing usable left falls back to the chunks' prefix.
    return name.isEmpty() ? safeFileName(strGluPrefix) : name;
}

void frmMain::cmdGlu_Click() {
    // After a failed analysis there is no engine to run.
    if (!objGlu) return;
    const std::optional<QString> chosen =
        chooseFile(FileDialogRequest::Kind::Save, QStringLiteral("Glue as"),
                   QStringLiteral("All Files (*.*) | *.*"), proposedOutputName());
    if (!chosen) return;

    const QString outputName = nameOf(*chosen);
    objGlu->setBigFileName(toEngineText(outputName));
    objGlu->setBigFilePath(toEngineText(chosen->left(chosen->size() - outputName.size())));
    FileGlue* glue = objGlu.get();
    // Set once the chunks are found, before the glue starts: the engine is
    // asked to stop only from then on, so that one kept after a failed
    // check has no stop left pending.
    auto gluing = std::make_shared<std::atomic<bool>>(false);
    startRun(
        RunKind::Glue, glue->BigFileSize(), outputName,
        [glue, gluing](const std::atomic<bool>& stopRequested) {
            RunOutcome outcome;
            outcome.checked = glue->checkExistence();
            if (!outcome.checked) return outcome;
            gluing->store(true);
            if (stopRequested) {
                outcome.stopped = true;
                return outcome;
            }
            outcome.done = glue->glueFile();
            outcome.stopped = glue->Stopped();
            return outcome;
        },
        [glue, gluing] {
            if (*gluing) glue->requestStop();
        },
        [glue] { return glue->BytesDone(); });
}

void frmMain::glueEnded(const RunOutcome& outcome) {
    if (!outcome.checked) {
        showMessage(QStringLiteral("Error has occurred when checking chunk existence.\n"
                                   "Files not glued."),
                    MessageIcon::Error);
        return;
    }
    if (outcome.stopped) {
        setStatus(QStringLiteral("Glue stopped."));
    } else if (!outcome.done) {
        showMessage(QStringLiteral("Failed to glue files together."), MessageIcon::Error);
    } else {
        const QString rebuilt =
            rebuiltChunksText(strGluPrefix, objGlu->RebuiltChunks(), objGlu->RebuiltInPlace());
        if (!rebuilt.isEmpty())
            setStatus(QStringLiteral("File Successfully Glued Together! ") + rebuilt);
    }

    fraGlu->hide();
    showWelcome(true);
    objGlu.reset();
    mnuDivide->setEnabled(true);
}

void frmMain::cmdGCancel_Click() {
    fraGlu->hide();
    showWelcome(true);
    mnuDivide->setEnabled(true);
}

void frmMain::objGlu_onError(const EngineSnapshot& engine) {
    setStatus(engineErrorText(engine));
}

void frmMain::objGlu_onNewDivision(const EngineSnapshot& engine) {
    setStatus(progressText(engine));
}

void frmMain::objGlu_onComplete(const EngineSnapshot&) {
    setStatus(QStringLiteral("File Successfully Glued Together!"));
}

void frmMain::objGlu_onClearErr(const EngineSnapshot&) {
    setStatus(QStringLiteral("Status"));
}

}  // namespace morvane

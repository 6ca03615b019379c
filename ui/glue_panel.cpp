#include "ui/glue_panel.h"

#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <atomic>

#include "engine/file_glue.h"
#include "ui/busy_state.h"
#include "ui/check_text.h"
#include "ui/engine_text.h"
#include "ui/number_format.h"
#include "ui/open_save_dialog.h"
#include "ui/recovery_text.h"
#include "ui/window_geometry.h"

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

GluePanel::GluePanel(const Services& services, QWidget* client)
    : EnginePanel("fraGlu", tr("Glue"), glueTexts(), services, client) {
    createControls();
    connect(&m_signals, &EngineSignals::error, this, &GluePanel::objGlu_onError);
    connect(&m_signals, &EngineSignals::newDivision, this, &GluePanel::objGlu_onNewDivision);
    connect(&m_signals, &EngineSignals::complete, this, &GluePanel::objGlu_onComplete);
    connect(&m_signals, &EngineSignals::clearErr, this, &GluePanel::objGlu_onClearErr);
}

GluePanel::~GluePanel() = default;

void GluePanel::createControls() {
    using namespace layout;
    lblGHeader =
        row("lblGHeaderA", tr("Header File:"), "lblGHeader", QStringLiteral("..."), kGlueHeaderRow);
    lblGChunkSize = row("lblGChunkSizeA", tr("Chunk Size:"), "lblGChunkSize",
                        QStringLiteral("0 byte"), kGlueChunkSizeRow);
    lblGLastChunkSize = row("lblGLastChunkSizeA", tr("Last Chunk Size:"), "lblGLastChunkSize",
                            QStringLiteral("0 byte"), kGlueLastChunkRow);
    lblGNumChunk = row("lblGNumChunkA", tr("Number of Chunks:"), "lblGNumChunk",
                       QStringLiteral("0"), kGlueNumChunksRow);
    lblGBigFileName = row("lblGBigFileNameA", tr("Original Filename:"), "lblGBigFileName",
                          QStringLiteral("..."), kGlueBigFileNameRow);
    lblGBigFileSize = row("lblGBigFileSizeA", tr("Original File Size:"), "lblGBigFileSize",
                          QStringLiteral("0 byte"), kGlueBigFileSizeRow, kGlueRecoveryWidth);
    // Whether the glue verifies the chunks: the checksum file beside the header, or "none".
    lblGChecksum = row("lblGChecksumA", tr("Checksums:"), "lblGChecksum", QStringLiteral("none"),
                       kGlueChecksumRow);
    // What the recovery data beside the header can rebuild; left of the buttons.
    lblGRecovery = row("lblGRecoveryA", tr("Recovery:"), "lblGRecovery", recoveryChunksText(0),
                       kGlueRecoveryRow, kGlueRecoveryWidth);

    cmdGlu = button("cmdGlu", tr("&Glue"), kRunButtonLeft);
    cmdGCancel = button("cmdGCancel", tr("&Cancel"), kCancelButtonLeft);
    connect(cmdGlu, &QPushButton::clicked, this,
            [this] { m_busy.runWhenIdle([this] { cmdGlu_Click(); }); });
    connect(cmdGCancel, &QPushButton::clicked, this, [this] { cmdGCancel_Click(); });
    setTabOrder(cmdGlu, cmdGCancel);

    cmdCheck = button("cmdCheck", tr("Chec&k"), kRunButtonLeft);
    cmdCheck->setGeometry(twipsRect(kRunButtonLeft, kGlueCheckTop, kButtonWidth, kGlueCheckHeight));
    cmdRepair = button("cmdRepair", tr("&Repair"), kCancelButtonLeft);
    cmdRepair->setGeometry(
        twipsRect(kCancelButtonLeft, kGlueCheckTop, kButtonWidth, kGlueCheckHeight));
    cmdRepair->setEnabled(false);
    connect(cmdCheck, &QPushButton::clicked, this,
            [this] { m_busy.runWhenIdle([this] { cmdCheck_Click(); }); });
    connect(cmdRepair, &QPushButton::clicked, this,
            [this] { m_busy.runWhenIdle([this] { cmdRepair_Click(); }); });
    setTabOrder(cmdGCancel, cmdCheck);
    setTabOrder(cmdCheck, cmdRepair);
}

bool GluePanel::analyze(const QString& name, const QString& folder) {
    objGlu = std::make_unique<FileGlue>(m_fileLayer);
    m_signals.watch(*objGlu);
    strGluHeaderName = name;
    strGluHeaderPath = folder;
    strGluPrefix = baseNameOf(strGluHeaderName);
    objGlu->setHeaderFileName(toEngineText(strGluHeaderName));
    objGlu->setHeaderFilePath(toEngineText(strGluHeaderPath));
    objGlu->setChunkPrefix(toEngineText(strGluPrefix));
    if (!objGlu->analyze()) return false;
    showGlueInfo();
    return true;
}

void GluePanel::releaseEngine() {
    objGlu.reset();
}

void GluePanel::showGlueInfo() {
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
    cmdRepair->setEnabled(false);
}

QString GluePanel::proposedOutputName() const {
    const QString name = safeFileName(QString::fromStdString(objGlu->BigFileName()));
    // A stored name with nothing usable left falls back to the chunks' prefix.
    return name.isEmpty() ? safeFileName(strGluPrefix) : name;
}

void GluePanel::cmdGlu_Click() {
    // After a failed analysis there is no engine to run.
    if (!objGlu) return;
    const std::optional<QString> chosen = chooseOutput(proposedOutputName());
    if (!chosen) return;

    const QString outputName = nameOf(*chosen);
    strGluOutputPath = chosen->left(chosen->size() - outputName.size());
    objGlu->setBigFileName(toEngineText(outputName));
    objGlu->setBigFilePath(toEngineText(strGluOutputPath));
    FileGlue* glue = objGlu.get();
    // Set once the chunks are found, before the glue starts: the engine is
    // asked to stop only from then on, so that one kept after a failed
    // check has no stop left pending.
    auto gluing = std::make_shared<std::atomic<bool>>(false);
    requestRun(
        glue->BigFileSize(), outputName, strGluOutputPath,
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
        [glue] { return glue->BytesDone(); }, [glue] { return glue->Phase(); });
}

void GluePanel::cmdCheck_Click() {
    runCheck(false);
}

void GluePanel::cmdRepair_Click() {
    runCheck(true);
}

void GluePanel::runCheck(bool repair) {
    if (!objGlu) return;
    FileGlue* glue = objGlu.get();
    RunRequest request;
    request.texts = &m_texts;
    request.total = glue->BigFileSize();
    request.fileName = fromEngineText(glue->HeaderFileName());
    request.job = [glue, repair](const std::atomic<bool>&) {
        RunOutcome outcome;
        outcome.done = repair ? glue->repairSet() : glue->checkSet();
        outcome.stopped = glue->Stopped();
        return outcome;
    };
    request.stopEngine = [glue] { glue->requestStop(); };
    // The bytes of the files read so far, one file's phase after another.
    struct Read {
        std::string subject;
        int64_t before = 0;
        int64_t last = 0;
    };
    auto read = std::make_shared<Read>();
    request.bytesDone = [glue, read] {
        const RunPhaseSnapshot phase = glue->Phase();
        if (phase.subject != read->subject) {
            read->before += read->last;
            read->subject = phase.subject;
        }
        read->last = phase.done;
        return std::min(read->before + read->last, glue->BigFileSize());
    };
    request.ended = [this, repair](const RunOutcome& outcome) { checkEnded(outcome, repair); };
    emit runRequested(request);
}

void GluePanel::checkEnded(const RunOutcome& outcome, bool repair) {
    if (!objGlu) return;
    cmdRepair->setEnabled(false);
    if (outcome.stopped) {
        setStatus(repair ? tr("Repair stopped.") : tr("Check stopped."));
        return;
    }
    const SetCheck& check = objGlu->CheckResult();
    if (!outcome.done) {
        const QString why = fromEngineText(objGlu->ErrorDescription());
        setStatus(why);
        showMessage(why, MessageIcon::Error);
        return;
    }
    if (repair) {
        QString names;
        for (const std::string& name : check.lost()) names += u' ' + fromEngineText(name);
        setStatus(names.isEmpty() ? checkSummaryText(check) : tr("Repaired:") + names);
        return;
    }
    setStatus(checkSummaryText(check));
    cmdRepair->setEnabled(!check.lost().empty() && check.recoverable);
}

void GluePanel::runSucceeded() {
    const QString rebuilt =
        rebuiltChunksText(strGluPrefix, objGlu->RebuiltChunks(), objGlu->RebuiltInPlace());
    if (!rebuilt.isEmpty()) setStatus(m_texts.done + u' ' + rebuilt);
}

void GluePanel::enableRunControls(bool enabled) {
    cmdGlu->setEnabled(enabled);
}

void GluePanel::cmdGCancel_Click() {
    cancel();
}

void GluePanel::objGlu_onError(const EngineSnapshot& engine) {
    setStatus(errorStatusText(engine));
}

void GluePanel::objGlu_onNewDivision(const EngineSnapshot& engine) {
    showProgress(engine);
}

void GluePanel::objGlu_onComplete(const EngineSnapshot&) {
    setStatus(m_texts.done);
}

void GluePanel::objGlu_onClearErr(const EngineSnapshot&) {
    setStatus(QStringLiteral("Status"));
}

}  // namespace morvane

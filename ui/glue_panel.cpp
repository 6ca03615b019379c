#include "ui/glue_panel.h"

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <algorithm>
#include <atomic>

#include "engine/chunk_census.h"
#include "engine/division_header.h"
#include "engine/file_glue.h"
#include "engine/output_names.h"
#include "engine/output_set.h"
#include "ui/busy_state.h"
#include "ui/check_text.h"
#include "ui/elided_label.h"
#include "ui/engine_text.h"
#include "ui/number_format.h"
#include "ui/open_save_dialog.h"
#include "ui/recovery_text.h"
#include "ui/window_geometry.h"

namespace morvane {

namespace {

// The chunks looked up after a header is opened, at most, and how many of
// the missing ones are named.
constexpr int32_t kChunkLookups = 100000;
constexpr std::size_t kNamedMissing = 3;

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

// A recovery volume chosen for a set whose header is lost stands for the
// set's recovery index: "movie.vol03+02.par2" for "movie.par2".
QString recoveryIndexFor(const QString& name) {
    static const QRegularExpression volume(QStringLiteral("^(.+)\\.vol\\d+\\+\\d+\\.par2$"));
    const QRegularExpressionMatch match = volume.match(name);
    return match.hasMatch() ? match.captured(1) + QStringLiteral(".par2") : name;
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
    // Which chunks are missing beside the header, as far as they were looked
    // up: in the number's box, right of the number.
    lblGChunksFound = new ElidedLabel(lblGNumChunk);
    lblGChunksFound->setObjectName(QStringLiteral("lblGChunksFound"));
    const QRect box = lblGNumChunk->contentsRect();
    const int left = twipsRect(kGlueChunksFoundLeft, 0, 0, 0).left();
    lblGChunksFound->setGeometry(box.adjusted(left, 0, -box.left(), 0));
    lblGChunksFound->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblGChunksFound->setTextFormat(Qt::PlainText);
    lblGChunksFound->setAccessibleName(tr("Chunks found"));
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
    strGluHeaderName = recoveryIndexFor(name);
    strGluHeaderPath = folder;
    strGluPrefix = baseNameOf(strGluHeaderName);
    objGlu->setHeaderFileName(toEngineText(strGluHeaderName));
    objGlu->setHeaderFilePath(toEngineText(strGluHeaderPath));
    objGlu->setChunkPrefix(toEngineText(strGluPrefix));

    FileGlue* glue = objGlu.get();
    const std::shared_ptr<FileLayer> layer = fileLayer();
    bool analysed = false;
    ChunkCensus census;
    OutputSet::Leftovers leftovers;
    // The header, the checksum file and the recovery data are read, and the
    // chunks looked up, away from the window, which goes on answering.
    workAside([&] {
        analysed = glue->analyze();
        if (!analysed) return;
        const std::string& chunkFolder = glue->HeaderFilePath();
        const std::string& prefix = glue->ChunkPrefix();
        census = takeChunkCensus(*layer, chunkFolder, prefix, glue->NumOfChunks(), kChunkLookups,
                                 kNamedMissing);
        // A glue into this folder writes the original's name.
        OutputNames names({glue->HeaderFileName(), checksumFileName(prefix),
                           toEngineText(safeFileName(QString::fromStdString(glue->BigFileName())))},
                          prefix, glue->NumOfChunks());
        names.addRecoveryFilesOf(prefix);
        leftovers = OutputSet::clearLeftovers(*layer, chunkFolder, names);
    });
    if (!analysed) return false;
    // A set opened through its recovery index is the header's from now on.
    strGluHeaderName = fromEngineText(glue->HeaderFileName());
    strGluPrefix = fromEngineText(glue->ChunkPrefix());
    showGlueInfo();
    lblGChunksFound->setText(chunkCensusText(strGluPrefix, census, glue->NumOfChunks()));
    reportLeftovers(leftovers.files, leftovers.bytes);
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
    offerRepair(false);
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
    // Each file read, rebuilt and flushed is a phase of its own, as in a glue.
    request.bytesDone = [glue] { return glue->Phase().done; };
    request.phase = [glue] { return glue->Phase(); };
    request.ended = [this, repair](const RunOutcome& outcome) { checkEnded(outcome, repair); };
    emit runRequested(request);
}

void GluePanel::checkEnded(const RunOutcome& outcome, bool repair) {
    if (!objGlu) return;
    offerRepair(false);
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
    offerRepair(!check.lost().empty() && check.recoverable);
}

void GluePanel::offerRepair(bool offered) {
    m_repairOffered = offered;
    cmdRepair->setEnabled(offered && !m_busy.isRunning());
}

void GluePanel::runSucceeded() {
    QString notes =
        rebuiltChunksText(strGluPrefix, objGlu->RebuiltChunks(), objGlu->RebuiltInPlace());
    if (objGlu->ForeignRecovery())
        notes += (notes.isEmpty() ? QString() : QStringLiteral(" ")) + foreignRecoveryText();
    if (!notes.isEmpty()) setStatus(m_texts.done + u' ' + notes);
    noteOnStatus(glueWrittenText(strGluOutputPath, fromEngineText(objGlu->BigFileName())));
}

void GluePanel::enableRunControls(bool enabled) {
    cmdGlu->setEnabled(enabled);
    cmdCheck->setEnabled(enabled);
    cmdRepair->setEnabled(enabled && m_repairOffered);
}

void GluePanel::cmdGCancel_Click() {
    // A file is being opened: the panel stays until it is.
    if (m_busy.isBusy() && !m_busy.isRunning()) return;
    cancel();
}

void GluePanel::objGlu_onError(const EngineSnapshot& engine) {
    setErrorStatus(engine);
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

#include "ui/panel_texts.h"

#include <QRegularExpression>

#include "ui/number_format.h"
#include "ui/recovery_text.h"

namespace morvane {

const PanelTexts& divideTexts() {
    static const PanelTexts texts{
        QStringLiteral("File to be divided"),
        QStringLiteral("All Files (*.*) | *.*"),
        QStringLiteral("File Analysis Failed"),
        QStringLiteral("Divide as"),
        QStringLiteral("Division Header Files (*.hed) | *.hed"),
        QStringLiteral("Dividing %1"),
        QStringLiteral("A division is going on. Stop it and quit?"),
        QStringLiteral("File Successfully Divided!"),
        QStringLiteral("Division stopped."),
        QStringLiteral("Failed to divide the file."),
        QString(),
        QString(),
    };
    return texts;
}

const PanelTexts& glueTexts() {
    static const PanelTexts texts{
        QStringLiteral("Open header file"),
        QStringLiteral("Division Header Files (*.hed) | *.hed"),
        QStringLiteral("Header File Analysis Failed."),
        QStringLiteral("Glue as"),
        QStringLiteral("All Files (*.*) | *.*"),
        QStringLiteral("Gluing %1"),
        QStringLiteral("A glue is going on. Stop it and quit?"),
        QStringLiteral("File Successfully Glued Together!"),
        QStringLiteral("Glue stopped."),
        QStringLiteral("Failed to glue files together."),
        QStringLiteral("Error has occurred when checking chunk existence.\nFiles not glued."),
        // A set whose header is lost opens through its recovery index.
        QStringLiteral("Recovery Data Files (*.par2) | *.par2"),
    };
    return texts;
}

QString outcomeMessage(const PanelTexts& texts, const RunOutcome& outcome) {
    if (!outcome.checked) return texts.checkFailed;
    return outcome.done || outcome.stopped ? QString() : texts.failed;
}

QString outcomeSummary(const PanelTexts& texts, const RunOutcome& outcome) {
    if (outcome.done) return texts.done;
    // The first line of a message names the outcome.
    return outcomeMessage(texts, outcome).section(u'\n', 0, 0);
}

namespace {

// `description` with recovery data counted in recovery chunks: "(3 input
// slices)" reads "(3 recovery chunks needed)", "recovery slices" and
// "slices" read "recovery chunks".
QString inRecoveryChunks(QString description) {
    static const QRegularExpression needed(QStringLiteral("\\binput slices?\\b"));
    static const QRegularExpression many(QStringLiteral("\\b(recovery )?slices\\b"));
    static const QRegularExpression one(QStringLiteral("\\b(recovery )?slice\\b"));
    description.replace(needed, QStringLiteral("recovery chunks needed"));
    description.replace(many, QStringLiteral("recovery chunks"));
    description.replace(one, QStringLiteral("recovery chunk"));
    return description;
}

}  // namespace

QString divisionWrittenText(const QString& folder, const QString& headerName, int32_t chunks,
                            int32_t recoveryChunks) {
    QString text = QStringLiteral("Written to %1: %2 and %3")
                       .arg(folder, headerName,
                            chunks == 1 ? QStringLiteral("1 chunk")
                                        : QStringLiteral("%1 chunks").arg(formatGrouped(chunks)));
    if (recoveryChunks > 0) text += QStringLiteral(", with ") + recoveryChunksText(recoveryChunks);
    return text + u'.';
}

QString glueWrittenText(const QString& folder, const QString& outputName) {
    return QStringLiteral("Written to %1: %2.").arg(folder, outputName);
}

QString errorStatusText(const EngineSnapshot& engine) {
    return (engine.isSysErr ? QStringLiteral("System Error: ")
                            : QStringLiteral("Application Error: ")) +
           QString::number(engine.code) + QStringLiteral("  ") +
           inRecoveryChunks(QString::fromStdString(engine.description));
}

QString leftoversClearedText(int32_t files, int64_t bytes, const QLocale& locale) {
    // In the units of the chunk-size list: KB is 1,024 bytes, MB 1,048,576.
    QString freed = locale.toString(bytes) + QStringLiteral(" bytes");
    const char* const units[] = {"KB", "MB", "GB", "TB"};
    double size = static_cast<double>(bytes);
    for (const char* unit : units) {
        if (size < 1024.0) break;
        size /= 1024.0;
        freed = locale.toString(size, 'f', 1) + u' ' + QLatin1String(unit);
    }
    return QStringLiteral("Removed %1 unfinished %2 of an interrupted run: %3 freed.")
        .arg(locale.toString(files), files == 1 ? QStringLiteral("file") : QStringLiteral("files"),
             freed);
}

QString progressStatusText(const EngineSnapshot& engine) {
    const double ratio = engine.numOfOps > 0 ? static_cast<double>(engine.currentOp) /
                                                   static_cast<double>(engine.numOfOps)
                                             : 0.0;
    return QStringLiteral("Processing %1 of %2 Chunks. (%3)")
        .arg(QString::number(engine.currentChunk), QString::number(engine.numOfChunks),
             formatPercent(ratio));
}

}  // namespace morvane

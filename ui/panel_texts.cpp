#include "ui/panel_texts.h"

#include "ui/number_format.h"

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

QString errorStatusText(const EngineSnapshot& engine) {
    return (engine.isSysErr ? QStringLiteral("System Error: ")
                            : QStringLiteral("Application Error: ")) +
           QString::number(engine.code) + QStringLiteral("  ") +
           QString::fromStdString(engine.description);
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

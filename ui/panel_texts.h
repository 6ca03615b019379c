#pragma once

#include <QLocale>
#include <QString>
#include <cstdint>

#include "ui/background_run.h"
#include "ui/engine_snapshot.h"

// The fixed texts of the two panels and of the runs they start, each
// written once, and how the status line writes an engine's state.
namespace morvane {

struct PanelTexts {
    // The open dialog that chooses the panel's file, and the message when
    // the chosen file cannot be analysed.
    QString openTitle;
    QString openFilter;
    QString analysisFailed;
    // The save dialog that names the run's output.
    QString saveTitle;
    QString saveFilter;
    // What a run asks the desktop not to suspend for ("%1": the file's
    // name), and the question when the window is closed during one.
    QString busyReason;
    QString closeQuestion;
    // How a run ended: the status line's text on success and when stopped,
    // the message box's when it failed or its chunk check did.
    QString done;
    QString stopped;
    QString failed;
    QString checkFailed;
    // A second filter of the open dialog; empty for none.
    QString openMoreFilter;
};

const PanelTexts& divideTexts();
const PanelTexts& glueTexts();

// The message box a run's end brings up, if any: its chunk check or the
// run failed. Empty for a run that succeeded or was stopped.
QString outcomeMessage(const PanelTexts& texts, const RunOutcome& outcome);
// A run's outcome in one line, for a notification outside the window.
QString outcomeSummary(const PanelTexts& texts, const RunOutcome& outcome);

// What a division wrote and where: "Written to /media/stick/: movie.hed
// and 3 chunks, with 2 recovery chunks." (`folder` ends in "/").
QString divisionWrittenText(const QString& folder, const QString& headerName, int32_t chunks,
                            int32_t recoveryChunks);
// What a glue wrote and where: "Written to /home/ann/: movie.avi."
QString glueWrittenText(const QString& folder, const QString& outputName);

// "System Error: 2  No such file or directory", "Application Error: 5  ...".
// The engine's own word for a unit of recovery data, slice, reads
// "recovery chunk", as everywhere else in the window.
QString errorStatusText(const EngineSnapshot& engine);

// "Removed 3 unfinished files of an interrupted run: 177 MB freed."
QString leftoversClearedText(int32_t files, int64_t bytes, const QLocale& locale = QLocale());
// "Processing 2 of 3 Chunks. (66.7%)".
QString progressStatusText(const EngineSnapshot& engine);

}  // namespace morvane

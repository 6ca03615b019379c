#pragma once

#include <QString>
#include <cstdint>
#include <functional>

#include "engine/run_phase.h"
#include "ui/background_run.h"
#include "ui/panel_texts.h"

namespace morvane {

// A run a panel asks for: the job to run on its own thread, and what the
// window needs to follow it and to hand its outcome back.
struct RunRequest {
    // The texts of the panel's runs; they outlive the run.
    const PanelTexts* texts = nullptr;
    // The bytes the run copies in all, and the name of the file it is about.
    int64_t total = 0;
    // The bytes of the phases planned after the copy (a division's recovery
    // data), for the time left.
    int64_t laterBytes = 0;
    // The run copies (a division or a glue); a glue checks and rebuilds
    // its set first. False for a check or repair.
    bool copies = false;
    QString fileName;
    // The folder the run writes into, ending in "/".
    QString outputFolder;
    BackgroundRun::Job job;
    // Asks the engine to stop, and reads its count of bytes copied; both are
    // called on the window's thread while the job runs.
    std::function<void()> stopEngine;
    std::function<int64_t()> bytesDone;
    // Reads the phase the run is in; called on the window's thread while
    // the job runs.
    std::function<RunPhaseSnapshot()> phase;
    // Takes the outcome on the window's thread once the run has ended.
    std::function<void(const RunOutcome&)> ended;
};

}  // namespace morvane

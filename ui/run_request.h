#pragma once

#include <QString>
#include <cstdint>
#include <functional>

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
    QString fileName;
    BackgroundRun::Job job;
    // Asks the engine to stop, and reads its count of bytes copied; both are
    // called on the window's thread while the job runs.
    std::function<void()> stopEngine;
    std::function<int64_t()> bytesDone;
    // Takes the outcome on the window's thread once the run has ended.
    std::function<void(const RunOutcome&)> ended;
};

}  // namespace morvane

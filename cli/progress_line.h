#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engine/run_phase.h"
#include "ui/run_progress.h"

namespace morvane {

// The line on standard error, redrawn in place, that follows a run on a
// terminal: the engine's phase, and of that phase the percentage, bytes
// done of the total, the speed and the time left.
class ProgressLine {
  public:
    // `phase` reads the run's phase; called from the thread that calls
    // draw().
    explicit ProgressLine(std::function<RunPhaseSnapshot()> phase);

    // Draws the line anew; a new phase restarts the clock.
    void draw();
    // Erases the line, so that what follows starts on a clean one.
    void clear();

  private:
    std::function<RunPhaseSnapshot()> m_phase;
    RunProgress m_progress;
    RunPhaseSnapshot m_shown;
    bool m_drawn = false;
};

// `bytes` for a person: "512 bytes", "1.5 KB", "20.0 MB", "3.2 GB", the
// units being 1,024 times each other as the window counts them.
std::string sizeText(double bytes);

}  // namespace morvane

#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "ui/run_progress.h"

namespace morvane {

// The line on standard error, redrawn in place, that follows a run on a
// terminal: the phase, the percentage, bytes done of the total, the speed
// and the time left.
class ProgressLine {
  public:
    // `phase` names what the run is doing; `bytesDone` reads its count of
    // bytes copied. Both are called from the thread that calls draw().
    ProgressLine(std::function<std::string()> phase, std::function<int64_t()> bytesDone);

    // Restarts the clock for a run of `total` bytes.
    void start(int64_t total);
    // Draws the line anew.
    void draw();
    // Erases the line, so that what follows starts on a clean one.
    void clear();

  private:
    std::function<std::string()> m_phase;
    std::function<int64_t()> m_bytesDone;
    RunProgress m_progress;
    int64_t m_total = 0;
    bool m_drawn = false;
};

// `bytes` for a person: "512 bytes", "1.5 KB", "20.0 MB", "3.2 GB", the
// units being 1,024 times each other as the window counts them.
std::string sizeText(double bytes);

}  // namespace morvane

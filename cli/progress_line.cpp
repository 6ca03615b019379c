#include "cli/progress_line.h"

#include <unistd.h>

#include <cstdio>

#include "cli/console.h"

namespace morvane {

namespace {

// Erases from the cursor to the end of the line.
constexpr const char* kEraseLine = "\r\033[K";

}  // namespace

std::string sizeText(double bytes) {
    static const char* const kUnits[] = {"KB", "MB", "GB", "TB"};
    char text[32];
    if (bytes < 1024) {
        std::snprintf(text, sizeof text, "%.0f bytes", bytes);
        return text;
    }
    int unit = 0;
    bytes /= 1024;
    while (bytes >= 1024 && unit < 3) bytes /= 1024, ++unit;
    std::snprintf(text, sizeof text, "%.1f %s", bytes, kUnits[unit]);
    return text;
}

ProgressLine::ProgressLine(std::function<RunPhaseSnapshot()> phase) : m_phase(std::move(phase)) {}

void ProgressLine::draw() {
    const RunPhaseSnapshot phase = m_phase();
    if (phase.kind != m_shown.kind || phase.subject != m_shown.subject ||
        phase.total != m_shown.total) {
        m_progress.start();
    }
    m_shown = phase;
    m_progress.sample(phase.done, phase.total, static_cast<int64_t>(phase.kind));
    if (phase.kind == RunPhaseKind::Idle) return;
    const double seconds = static_cast<double>(m_progress.elapsedMs()) / 1000.0;
    const double done = static_cast<double>(phase.done);
    std::string line = kEraseLine + phaseText(phase);
    if (phase.total > 0) {
        line += "  " + std::to_string(static_cast<int>(m_progress.fraction() * 100.0)) + "%  ";
        line += sizeText(done) + " of " + sizeText(static_cast<double>(phase.total));
        if (seconds > 0 && phase.done > 0) line += "  " + sizeText(done / seconds) + "/s";
        const QString left = m_progress.timeLeft();
        if (!left.isEmpty()) line += "  " + left.toStdString();
    }
    writeAll(STDERR_FILENO, line);
    m_drawn = true;
}

void ProgressLine::clear() {
    if (m_drawn) writeAll(STDERR_FILENO, kEraseLine);
    m_drawn = false;
}

}  // namespace morvane

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

ProgressLine::ProgressLine(std::function<std::string()> phase, std::function<int64_t()> bytesDone)
    : m_phase(std::move(phase)), m_bytesDone(std::move(bytesDone)) {}

void ProgressLine::start(int64_t total) {
    m_total = total;
    m_progress.start(total);
}

void ProgressLine::draw() {
    const int64_t done = m_bytesDone();
    m_progress.sample(done, 0);
    const double seconds = static_cast<double>(m_progress.elapsedMs()) / 1000.0;
    std::string line = kEraseLine + m_phase();
    line += "  " + std::to_string(static_cast<int>(m_progress.fraction() * 100.0)) + "%  ";
    line += sizeText(static_cast<double>(done)) + " of " + sizeText(static_cast<double>(m_total));
    if (seconds > 0) line += "  " + sizeText(static_cast<double>(done) / seconds) + "/s";
    const QString left = m_progress.timeLeft();
    if (!left.isEmpty()) line += "  " + left.toStdString();
    writeAll(STDERR_FILENO, line);
    m_drawn = true;
}

void ProgressLine::clear() {
    if (m_drawn) writeAll(STDERR_FILENO, kEraseLine);
    m_drawn = false;
}

}  // namespace morvane

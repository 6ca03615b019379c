#include "ui/run_progress.h"

#include <algorithm>
#include <cmath>

namespace morvane {

namespace {

// Before this much of a run has passed, its pace says too little.
constexpr int64_t kFirstEstimateMs = 1000;

}  // namespace

QString timeLeftText(double seconds) {
    if (!(seconds >= 9.5)) return QStringLiteral("A few seconds left");
    const double fives = std::round(seconds / 5.0) * 5.0;
    if (fives < 60.0) return QStringLiteral("About %1 seconds left").arg(static_cast<int>(fives));
    const double minutes = std::max(1.0, std::round(seconds / 60.0));
    if (minutes < 60.0) {
        return minutes == 1.0
                   ? QStringLiteral("About 1 minute left")
                   : QStringLiteral("About %1 minutes left").arg(static_cast<int>(minutes));
    }
    const double hours = std::round(seconds / 3600.0);
    return hours <= 1.0 ? QStringLiteral("About 1 hour left")
                        : QStringLiteral("About %1 hours left").arg(hours, 0, 'f', 0);
}

void RunProgress::start(int64_t total) {
    m_total = std::max<int64_t>(total, 0);
    m_clock.start();
}

double RunProgress::fraction(int64_t done) const {
    if (m_total <= 0) return 0.0;
    return std::clamp(static_cast<double>(done) / static_cast<double>(m_total), 0.0, 1.0);
}

int RunProgress::percent(int64_t done) const {
    return static_cast<int>(std::floor(fraction(done) * 100.0));
}

QString RunProgress::timeLeft(int64_t done) const {
    const int64_t elapsed = elapsedMs();
    if (done <= 0 || elapsed < kFirstEstimateMs) return QString();
    const double left = static_cast<double>(std::max<int64_t>(m_total - done, 0));
    return timeLeftText(static_cast<double>(elapsed) / 1000.0 * left / static_cast<double>(done));
}

}  // namespace morvane

#include "ui/run_progress.h"

#include <QLocale>
#include <algorithm>
#include <cmath>

namespace morvane {

namespace {

// The recent pace is measured over this much of the run.
constexpr int64_t kRecentMs = 6000;
// Before this much of a phase has passed, its pace says too little.
constexpr int64_t kFirstEstimateMs = 1000;
// The time left is shown from this share of the work on.
constexpr double kFirstEstimateShare = 0.05;
// The weight of the recent pace in the blend.
constexpr double kRecentWeight = 0.7;

constexpr double kKilo = 1024.0;
constexpr double kMega = 1048576.0;
constexpr double kGiga = 1073741824.0;

QString inUnit(double bytes, double unit, int decimals) {
    return QLocale().toString(bytes / unit, 'f', decimals);
}

// Whole units from 100 on, one decimal below.
int decimalsFor(double bytes, double unit) {
    return bytes / unit >= 100.0 ? 0 : 1;
}

QString speedText(double bytesPerSecond) {
    if (bytesPerSecond >= kGiga) return inUnit(bytesPerSecond, kGiga, 1) + QStringLiteral(" GB/s");
    if (bytesPerSecond >= kMega)
        return inUnit(bytesPerSecond, kMega, decimalsFor(bytesPerSecond, kMega)) +
               QStringLiteral(" MB/s");
    return inUnit(bytesPerSecond, kKilo, 0) + QStringLiteral(" KB/s");
}

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

QString bytesOfTotalText(int64_t done, int64_t total, std::optional<double> bytesPerSecond) {
    const double whole = static_cast<double>(std::max<int64_t>(total, 0));
    const double part =
        static_cast<double>(std::clamp<int64_t>(done, 0, std::max<int64_t>(total, 0)));
    double unit = kKilo;
    QString name = QStringLiteral(" KB");
    if (whole >= kGiga) {
        unit = kGiga;
        name = QStringLiteral(" GB");
    } else if (whole >= kMega) {
        unit = kMega;
        name = QStringLiteral(" MB");
    }
    const int decimals = unit == kGiga ? 1 : decimalsFor(whole, unit);
    QString text = inUnit(part, unit, decimals) + name + QStringLiteral(" of ") +
                   inUnit(whole, unit, decimals) + name;
    if (bytesPerSecond) text += QStringLiteral(", ") + speedText(*bytesPerSecond);
    return text;
}

void RunProgress::start() {
    m_total = 0;
    m_done = 0;
    m_phase = -1;
    m_uncountedSeconds = 0;
    m_samples.clear();
    m_phaseStart = {0, 0};
    m_clock.start();
}

void RunProgress::sample(int64_t done, int64_t total, int64_t phase, int64_t phaseFrom) {
    const int64_t now = elapsedMs();
    m_total = std::max<int64_t>(total, 0);
    m_done = std::clamp<int64_t>(done, 0, m_total);
    if (phase != m_phase) {
        // The phase began after the sample before, at the latest: from there
        // on its own bytes count towards its pace. The end of the phase
        // before, done since that sample, does not.
        m_phase = phase;
        m_phaseStart = {m_samples.empty() ? 0 : m_samples.back().ms,
                        std::clamp<int64_t>(phaseFrom, 0, m_done)};
        m_samples.clear();
        m_samples.push_back(m_phaseStart);
    }
    m_samples.push_back({now, m_done});
    // One sample older than the window stays, so the window is always full.
    while (m_samples.size() > 2 && m_samples[1].ms <= now - kRecentMs) m_samples.pop_front();
}

void RunProgress::waitIn(int64_t phase, int64_t doneBefore) {
    m_phase = phase;
    m_done = std::clamp<int64_t>(doneBefore, 0, m_total);
    m_phaseStart = {elapsedMs(), m_done};
    m_samples.clear();
    m_samples.push_back(m_phaseStart);
}

double RunProgress::fraction() const {
    if (m_total <= 0) return 0.0;
    return std::clamp(static_cast<double>(m_done) / static_cast<double>(m_total), 0.0, 1.0);
}

std::optional<double> RunProgress::paceSince(int64_t fromMs) const {
    if (m_samples.empty()) return std::nullopt;
    const Sample& last = m_samples.back();
    const Sample& first = fromMs <= m_phaseStart.ms ? m_phaseStart : m_samples.front();
    const int64_t ms = last.ms - first.ms;
    if (ms < kFirstEstimateMs) return std::nullopt;
    return static_cast<double>(last.done - first.done) * 1000.0 / static_cast<double>(ms);
}

std::optional<double> RunProgress::bytesPerSecond() const {
    return paceSince(elapsedMs() - kRecentMs);
}

std::optional<double> RunProgress::secondsLeft() const {
    if (fraction() < kFirstEstimateShare) return std::nullopt;
    const std::optional<double> recent = paceSince(elapsedMs() - kRecentMs);
    const std::optional<double> phase = paceSince(m_phaseStart.ms);
    if (!recent || !phase) return std::nullopt;
    const double pace = kRecentWeight * *recent + (1.0 - kRecentWeight) * *phase;
    if (!(pace > 0.0)) return std::nullopt;
    return static_cast<double>(m_total - m_done) / pace + m_uncountedSeconds;
}

QString RunProgress::timeLeft() const {
    const std::optional<double> seconds = secondsLeft();
    return seconds ? timeLeftText(*seconds) : QString();
}

}  // namespace morvane

#pragma once

#include <QElapsedTimer>
#include <QString>
#include <cstdint>

namespace morvane {

// "About 2 minutes left", "About 10 seconds left", "A few seconds left":
// a rounded time left in words.
QString timeLeftText(double seconds);

// Follows a run's bytes against its total, from the moment start() is
// called: the share done and, once it can be told, the time left.
class RunProgress {
  public:
    // Restarts the clock for a run of `total` bytes.
    void start(int64_t total);
    // The share of the total done, from 0 to 1.
    double fraction(int64_t done) const;
    // The share done in whole percent, from 0 to 100.
    int percent(int64_t done) const;
    // The time left at the pace so far, in words; empty until the run has
    // gone on for a moment and copied something.
    QString timeLeft(int64_t done) const;
    // Milliseconds since start().
    int64_t elapsedMs() const { return m_clock.isValid() ? m_clock.elapsed() : 0; }

  private:
    QElapsedTimer m_clock;
    int64_t m_total = 0;
};

}  // namespace morvane

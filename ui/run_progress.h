#pragma once

#include <QElapsedTimer>
#include <QString>
#include <algorithm>
#include <cstdint>
#include <deque>
#include <optional>

namespace morvane {

// "About 2 minutes left", "About 10 seconds left", "A few seconds left":
// a rounded time left in words.
QString timeLeftText(double seconds);

// "120 MB of 300 MB, 9.8 MB/s": bytes done of a total and a speed, in the
// window's units (KB = 1,024 bytes, MB = 1,048,576, GB = 1,073,741,824).
// Without a speed, only the bytes.
QString bytesOfTotalText(int64_t done, int64_t total, std::optional<double> bytesPerSecond);

// Follows a run's work against its total from the moment start() is
// called, and tells its speed and the time left.
//
// The time left divides the work still to do by a pace that blends the
// pace of the last few seconds with the pace of the phase so far: the
// recent pace follows a disk whose speed changes (a cache that fills, then
// the disk's own speed), the longer one keeps the figure from jumping. A
// new phase starts its own paces, since a phase's pace says little about
// another's. Work that counts no bytes (a final flush) is added in seconds.
class RunProgress {
  public:
    // Restarts the clock for a new run.
    void start();
    // Takes the run's work done so far of its `total` as now known, the
    // phase it is in (any number that tells phases apart) and the work done
    // before that phase began. Called at a steady rate while the run goes on.
    void sample(int64_t done, int64_t total, int64_t phase, int64_t phaseFrom = 0);
    // Takes phase `phase`, which counts no bytes, as still going on now, with
    // `doneBefore` of the work done: the next phase's pace starts from here,
    // not from the last phase counted.
    void waitIn(int64_t phase, int64_t doneBefore);
    // The seconds that work not counted in bytes will take after the work
    // counted (a final flush), added to the time left.
    void setUncountedSeconds(double seconds) { m_uncountedSeconds = std::max(seconds, 0.0); }
    // The share of the total done at the last sample, from 0 to 1.
    double fraction() const;
    // The bytes per second of the last few seconds; none until they can be told.
    std::optional<double> bytesPerSecond() const;
    // The seconds left, once 5 % of the work is done and the pace can be told.
    std::optional<double> secondsLeft() const;
    // The time left in words; empty while secondsLeft() has none.
    QString timeLeft() const;
    // Milliseconds since start().
    int64_t elapsedMs() const { return m_clock.isValid() ? m_clock.elapsed() : 0; }

  private:
    struct Sample {
        int64_t ms;
        int64_t done;
    };
    // The pace over the samples since `fromMs`, in bytes per second.
    std::optional<double> paceSince(int64_t fromMs) const;

    QElapsedTimer m_clock;
    int64_t m_total = 0;
    int64_t m_done = 0;
    int64_t m_phase = -1;
    double m_uncountedSeconds = 0;
    // The current phase's samples, oldest first; the first is its start.
    std::deque<Sample> m_samples;
    Sample m_phaseStart{0, 0};
};

}  // namespace morvane

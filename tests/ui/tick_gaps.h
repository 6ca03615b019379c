#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>

// A 10 ms timer on the window's thread, and the longest it waited between
// two of its ticks: how long the window could not have answered.
class TickGaps {
  public:
    TickGaps() {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.elapsed();
            m_longest = std::max(m_longest, now - m_last);
            m_last = now;
        });
        m_clock.start();
        m_timer.start();
    }
    qint64 longestMs() const { return m_longest; }

  private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

#pragma once

#include <QObject>
#include <functional>

namespace morvane {

// Whether the window is in the middle of something that drives an engine:
// a handler that has not returned (counted by Scope) or a run that has not
// ended. While busy, the window starts nothing else.
class BusyState : public QObject {
    Q_OBJECT

  public:
    // Marks the window busy for its lifetime.
    class Scope {
      public:
        explicit Scope(BusyState& state);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

      private:
        BusyState& m_state;
    };

    bool isBusy() const { return m_depth > 0 || m_running; }
    // True from the start of a run until its end has been taken.
    bool isRunning() const { return m_running; }
    // Marks a run going on or ended; says so by runningChanged() when it changes.
    void setRunning(bool running);
    // Runs `handler` unless busy, and keeps the window busy meanwhile.
    void runWhenIdle(const std::function<void()>& handler);

  signals:
    // The last Scope has ended; a run may still be going on.
    void handlersReturned();
    // A run has started (true) or its end has been taken (false). Controls
    // that a run ignores follow it.
    void runningChanged(bool running);

  private:
    int m_depth = 0;
    bool m_running = false;
};

}  // namespace morvane

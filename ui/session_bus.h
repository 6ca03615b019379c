#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <optional>

namespace morvane {

// The desktop services a run uses through the session bus: the progress on
// the taskbar or dock (com.canonical.Unity.LauncherEntry), desktop
// notifications (org.freedesktop.Notifications) and the sleep inhibitor of
// the desktop portal (org.freedesktop.portal.Inhibit). Every call is sent
// without waiting for its answer; without a bus, or where a service is
// missing, nothing happens and nothing fails.
class SessionBus : public QObject {
  public:
    // `appId` is the desktop entry's id, without ".desktop".
    SessionBus(const QString& appId, QDBusConnection bus = QDBusConnection::sessionBus());
    // Lifts an inhibitor still in force.
    ~SessionBus() override;

    // Shows `fraction` (0 to 1) as the program's progress on its launcher;
    // nothing hides it.
    void showProgress(std::optional<double> fraction);
    // Pops up a notification with `summary` over `body`.
    void notify(const QString& summary, const QString& body);
    // Asks the desktop not to suspend the machine, for `reason`, until
    // allowSleep(). Asking again while it is in force changes nothing.
    void inhibitSleep(const QString& reason);
    void allowSleep();

  private:
    void closeInhibitor();

    QDBusConnection m_bus;
    QString m_appId;
    // Whether the inhibitor is wanted now, whether an Inhibit call awaits
    // its answer, and the handle of the one in force.
    bool m_inhibitWanted = false;
    bool m_inhibitPending = false;
    QString m_inhibitHandle;
};

}  // namespace morvane

#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

namespace morvane {

// The desktop services a run uses through the session bus: the progress on
// the taskbar or dock (com.canonical.Unity.LauncherEntry), desktop
// notifications (org.freedesktop.Notifications) and the sleep inhibitor of
// the desktop portal (org.freedesktop.portal.Inhibit). Every call is sent
// without waiting for its answer; without a bus, or where a service is
// missing, nothing happens and nothing fails.
class SessionBus : public QObject {
    Q_OBJECT

  public:
    // `appId` is the desktop entry's id, without ".desktop".
    SessionBus(const QString& appId, QDBusConnection bus = QDBusConnection::sessionBus());
    // Lifts an inhibitor still in force.
    ~SessionBus() override;

    // Shows `fraction` (0 to 1) as the program's progress on its launcher;
    // nothing hides it.
    void showProgress(std::optional<double> fraction);
    // Pops up a notification with `summary` over `body`. With a `folder`,
    // it offers "Open Folder" as its default action, which hands the folder
    // to the opener set by setFolderOpener().
    void notify(const QString& summary, const QString& body, const QString& folder = QString());
    // What opens a folder a notification offers.
    void setFolderOpener(std::function<void(const QString&)> opener) {
        m_openFolder = std::move(opener);
    }
    // Asks the desktop not to suspend the machine, for `reason`, until
    // allowSleep(). Asking again while it is in force changes nothing.
    void inhibitSleep(const QString& reason);
    void allowSleep();

  private slots:
    // The notification service's signals about the notifications it shows.
    void actionInvoked(uint id, const QString& action);
    void notificationClosed(uint id, uint reason);

  private:
    void closeInhibitor();

    QDBusConnection m_bus;
    QString m_appId;
    // Whether the inhibitor is wanted now, whether an Inhibit call awaits
    // its answer, and the handle of the one in force.
    bool m_inhibitWanted = false;
    bool m_inhibitPending = false;
    QString m_inhibitHandle;
    // The folder each notification shown offers, by its id.
    QHash<uint, QString> m_offeredFolders;
    std::function<void(const QString&)> m_openFolder;
};

}  // namespace morvane

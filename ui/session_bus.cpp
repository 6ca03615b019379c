#include "ui/session_bus.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace morvane {

namespace {

const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kNotifications = QStringLiteral("org.freedesktop.Notifications");
const QString kNotificationsPath = QStringLiteral("/org/freedesktop/Notifications");
// The portal's flag for inhibiting suspension.
constexpr uint kInhibitSuspend = 4;

}  // namespace

SessionBus::SessionBus(const QString& appId, QDBusConnection bus)
    : m_bus(std::move(bus)), m_appId(appId) {
    if (!m_bus.isConnected()) return;
    m_bus.connect(kNotifications, kNotificationsPath, kNotifications,
                  QStringLiteral("ActionInvoked"), this, SLOT(actionInvoked(uint, QString)));
    m_bus.connect(kNotifications, kNotificationsPath, kNotifications,
                  QStringLiteral("NotificationClosed"), this, SLOT(notificationClosed(uint, uint)));
}

SessionBus::~SessionBus() {
    allowSleep();
}

void SessionBus::showProgress(std::optional<double> fraction) {
    if (!m_bus.isConnected()) return;
    QString path = QStringLiteral("/") + m_appId;
    path.replace(u'.', u'/');
    QDBusMessage update = QDBusMessage::createSignal(
        path, QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"));
    QVariantMap properties;
    properties.insert(QStringLiteral("progress"), fraction.value_or(0.0));
    properties.insert(QStringLiteral("progress-visible"), fraction.has_value());
    update << QStringLiteral("application://%1.desktop").arg(m_appId) << properties;
    m_bus.send(update);
}

void SessionBus::notify(const QString& summary, const QString& body, const QString& folder) {
    if (!m_bus.isConnected()) return;
    QDBusMessage call = QDBusMessage::createMethodCall(kNotifications, kNotificationsPath,
                                                       kNotifications, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), m_appId);
    const QStringList actions = folder.isEmpty()
                                    ? QStringList()
                                    : QStringList{QStringLiteral("default"), tr("Open Folder")};
    call << QStringLiteral("Morvane") << uint(0) << QStringLiteral("morvane") << summary << body
         << actions << hints << -1;
    if (folder.isEmpty()) {
        m_bus.asyncCall(call);
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, folder](QDBusPendingCallWatcher* answered) {
                answered->deleteLater();
                const QDBusPendingReply<uint> reply = *answered;
                if (!reply.isError()) m_offeredFolders.insert(reply.value(), folder);
            });
}

void SessionBus::actionInvoked(uint id, const QString& action) {
    if (action != QLatin1String("default")) return;
    const QString folder = m_offeredFolders.take(id);
    if (!folder.isEmpty() && m_openFolder) m_openFolder(folder);
}

void SessionBus::notificationClosed(uint id, uint) {
    m_offeredFolders.remove(id);
}

void SessionBus::inhibitSleep(const QString& reason) {
    m_inhibitWanted = true;
    if (!m_bus.isConnected() || m_inhibitPending || !m_inhibitHandle.isEmpty()) return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        kPortalService, QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Inhibit"), QStringLiteral("Inhibit"));
    QVariantMap options;
    options.insert(QStringLiteral("reason"), reason);
    call << QString() << kInhibitSuspend << options;
    m_inhibitPending = true;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* answered) {
                answered->deleteLater();
                m_inhibitPending = false;
                const QDBusPendingReply<QDBusObjectPath> reply = *answered;
                if (reply.isError()) return;
                m_inhibitHandle = reply.value().path();
                // Lifted while the call was on its way.
                if (!m_inhibitWanted) closeInhibitor();
            });
}

void SessionBus::allowSleep() {
    m_inhibitWanted = false;
    closeInhibitor();
}

void SessionBus::closeInhibitor() {
    if (m_inhibitHandle.isEmpty()) return;
    m_bus.asyncCall(QDBusMessage::createMethodCall(kPortalService, m_inhibitHandle,
                                                   QStringLiteral("org.freedesktop.portal.Request"),
                                                   QStringLiteral("Close")));
    m_inhibitHandle.clear();
}

}  // namespace morvane

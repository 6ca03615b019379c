#include "ui/session_bus.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace morvane {

namespace {

const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
// The portal's flag for inhibiting suspension.
constexpr uint kInhibitSuspend = 4;

}  // namespace

SessionBus::SessionBus(const QString& appId, QDBusConnection bus)
    : m_bus(std::move(bus)), m_appId(appId) {}

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

void SessionBus::notify(const QString& summary, const QString& body) {
    if (!m_bus.isConnected()) return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), m_appId);
    call << QStringLiteral("Morvane") << uint(0) << QStringLiteral("morvane") << summary << body
         << QStringList() << hints << -1;
    m_bus.asyncCall(call);
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

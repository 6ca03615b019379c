// The window's run as the desktop sees it through the session bus, against
// stand-ins for the notification daemon and the desktop portal on a private
// bus (run under dbus-run-session): the taskbar progress, one notification
// after a long run that ends while the window is not active, and the sleep
// inhibitor with its release.
#include "ui/session_bus.h"

#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QDir>
#include <QTest>
#include <QVariantMap>
#include <vector>

#include "scripted_desktop.h"
#include "ui/frm_main.h"
#include "window_fixture.h"

namespace {

// Owns the notification and portal services on a connection of its own and
// records every call they receive and every launcher update sent.
class StandIn : public QDBusVirtualObject {
    Q_OBJECT

  public:
    struct Call {
        QString path;
        QString interface;
        QString member;
        QVariantList arguments;
    };
    struct Update {
        QString appUri;
        QVariantMap properties;
    };

    StandIn() : m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, "stand-in")) {}
    ~StandIn() override { QDBusConnection::disconnectFromBus(QStringLiteral("stand-in")); }

    bool start() {
        return m_bus.isConnected() &&
               m_bus.registerVirtualObject(QStringLiteral("/"), this, QDBusConnection::SubPath) &&
               m_bus.registerService(QStringLiteral("org.freedesktop.Notifications")) &&
               m_bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")) &&
               m_bus.connect(
                   QString(), QString(), QStringLiteral("com.canonical.Unity.LauncherEntry"),
                   QStringLiteral("Update"), this, SLOT(launcherUpdated(QString, QVariantMap)));
    }

    QString introspect(const QString&) const override { return QString(); }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        calls.push_back(
            {message.path(), message.interface(), message.member(), message.arguments()});
        QDBusMessage reply = message.createReply();
        if (message.member() == QLatin1String("Notify"))
            reply << uint(calls.size());
        else if (message.member() == QLatin1String("Inhibit"))
            reply << QVariant::fromValue(
                QDBusObjectPath(QStringLiteral("/org/freedesktop/portal/desktop/request/1")));
        connection.send(reply);
        return true;
    }

    std::vector<Call> callsOf(const QString& member) const {
        std::vector<Call> found;
        for (const Call& call : calls)
            if (call.member == member) found.push_back(call);
        return found;
    }

    QDBusConnection& bus() { return m_bus; }

    std::vector<Call> calls;
    std::vector<Update> updates;

  public slots:
    void launcherUpdated(const QString& appUri, const QVariantMap& properties) {
        updates.push_back({appUri, properties});
    }

  private:
    QDBusConnection m_bus;
};

// Dialogs and messages from a script, the run's desktop services on the bus.
class BusDesktop : public ScriptedDesktop {
  public:
    void showRunProgress(std::optional<double> fraction) override { bus.showProgress(fraction); }
    void notifyRunEnded(const QString& summary, const QString& body,
                        const QString& folder) override {
        bus.notify(summary, body, folder);
    }
    void inhibitSleep(const QString& reason) override { bus.inhibitSleep(reason); }
    void allowSleep() override { bus.allowSleep(); }

    morvane::SessionBus bus{QStringLiteral("example.morvane.Morvane")};
    BusDesktop() {
        bus.setFolderOpener(
            [this](const QString& folder) { openUrl(QUrl::fromLocalFile(folder)); });
    }
};

class SessionBusTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected())
            << "no session bus: run under dbus-run-session";
        ASSERT_TRUE(dir.isValid());
        window = std::make_unique<morvane::frmMain>(desktop, fileLayer);
        window->show();
        // Another window is the active one, as when the user works elsewhere.
        elsewhere.show();
        elsewhere.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere, 30000));
    }

    // Divides `size` bytes into one chunk through the window.
    void divide(qint64 size) {
        QFile file(dir.filePath(QStringLiteral("movie.bin")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(size));
        file.close();
        ASSERT_TRUE(window->openPath(file.fileName()));
        desktop.fileAnswers.push_back(dir.filePath(QStringLiteral("movie.hed")));
        window->findChild<QPushButton*>(QStringLiteral("cmdDiv"))->click();
        ASSERT_TRUE(QTest::qWaitFor([this] { return !window->isBusy(); }, 60000));
        EXPECT_FALSE(window->isActiveWindow());
        EXPECT_TRUE(desktop.messages.empty());
        EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("lblStatus"))->text(),
                  QStringLiteral("File Successfully Divided!"));
    }

    QTemporaryDir dir;
    BusDesktop desktop;
    std::shared_ptr<SlowFileLayer> fileLayer = std::make_shared<SlowFileLayer>();
    std::unique_ptr<morvane::frmMain> window;
    QWidget elsewhere;
};

TEST_F(SessionBusTest, WithoutTheServicesARunGoesOnAsBefore) {
    divide(3000000);
    // The calls went nowhere and nothing waits for them.
    QTest::qWait(200);
    EXPECT_FALSE(window->isBusy());
}

TEST_F(SessionBusTest, ALongRunShowsItsProgressKeepsTheMachineAwakeAndSaysItHasEnded) {
    StandIn standIn;
    ASSERT_TRUE(standIn.start());
    // 11,000,000 bytes at 1 MB/s: a run of 11 seconds.
    fileLayer->bytesPerSecond = 1e6;
    divide(11000000);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !standIn.callsOf(QStringLiteral("Notify")).empty(); }, 60000));

    const auto inhibits = standIn.callsOf(QStringLiteral("Inhibit"));
    ASSERT_EQ(inhibits.size(), 1u);
    EXPECT_EQ(inhibits[0].interface, QStringLiteral("org.freedesktop.portal.Inhibit"));
    ASSERT_EQ(inhibits[0].arguments.size(), 3);
    EXPECT_EQ(inhibits[0].arguments[1].toUInt(), 4u) << "not the suspend flag";
    const QVariantMap options = qdbus_cast<QVariantMap>(inhibits[0].arguments[2]);
    EXPECT_EQ(options.value(QStringLiteral("reason")).toString(),
              QStringLiteral("Dividing movie.bin"));
    const auto closes = standIn.callsOf(QStringLiteral("Close"));
    ASSERT_EQ(closes.size(), 1u) << "the inhibitor was not released";
    EXPECT_EQ(closes[0].path, QStringLiteral("/org/freedesktop/portal/desktop/request/1"));
    EXPECT_EQ(closes[0].interface, QStringLiteral("org.freedesktop.portal.Request"));

    const auto notes = standIn.callsOf(QStringLiteral("Notify"));
    ASSERT_EQ(notes.size(), 1u);
    ASSERT_EQ(notes[0].arguments.size(), 8);
    EXPECT_EQ(notes[0].arguments[0].toString(), QStringLiteral("Morvane"));
    EXPECT_EQ(notes[0].arguments[3].toString(), QStringLiteral("File Successfully Divided!"));
    EXPECT_EQ(notes[0].arguments[4].toString(), QStringLiteral("movie.bin"));
    EXPECT_EQ(notes[0].arguments[5].toStringList(), (QStringList{"default", "Open Folder"}));
    // Another notification's action, then this one's: only this one opens its folder.
    const uint id =
        uint(std::distance(
                 standIn.calls.begin(),
                 std::find_if(standIn.calls.begin(), standIn.calls.end(),
                              [](const StandIn::Call& call) { return call.member == "Notify"; })) +
             1);
    for (uint invoked : {id + 100, id}) {
        QDBusMessage action = QDBusMessage::createSignal(
            "/org/freedesktop/Notifications", "org.freedesktop.Notifications", "ActionInvoked");
        action << invoked << QStringLiteral("default");
        standIn.bus().send(action);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !desktop.openedUrls.empty(); }, 30000));
    EXPECT_EQ(desktop.openedUrls, std::vector<QUrl>{QUrl::fromLocalFile(dir.path() + u'/')});

    // From 0 through the blocks to hidden, for the program's desktop entry.
    ASSERT_GE(standIn.updates.size(), 3u);
    std::vector<double> shown;
    for (const StandIn::Update& update : standIn.updates) {
        EXPECT_EQ(update.appUri, QStringLiteral("application://example.morvane.Morvane.desktop"));
        if (update.properties.value(QStringLiteral("progress-visible")).toBool())
            shown.push_back(update.properties.value(QStringLiteral("progress")).toDouble());
    }
    EXPECT_FALSE(
        standIn.updates.back().properties.value(QStringLiteral("progress-visible")).toBool());
    // The bar is sampled while bytes arrive, so which shares were shown
    // depends on the machine's pace; that they rise and stay within the run
    // does not.
    ASSERT_GE(shown.size(), 2u);
    EXPECT_EQ(shown.front(), 0.0);
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end()));
    EXPECT_GT(shown.back(), 0.0);
    EXPECT_LE(shown.back(), 1.0);

    // A short run says nothing when it ends.
    fileLayer->bytesPerSecond = 0;
    QFile::remove(dir.filePath(QStringLiteral("movie.hed")));
    divide(1000);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return standIn.callsOf(QStringLiteral("Close")).size() == 2; }, 60000));
    QTest::qWait(300);
    EXPECT_EQ(standIn.callsOf(QStringLiteral("Notify")).size(), 1u);
}

}  // namespace

#include "session_bus_test.moc"

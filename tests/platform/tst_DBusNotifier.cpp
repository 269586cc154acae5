// A notification that cannot be shown is dropped: the caller goes on within the call's time
// limit, whatever the notification server (or the lack of one) does, and nothing is retried.
#include "AwaitTask.h"
#include "FakeNotificationServer.h"
#include "PrivateBus.h"
#include "platform/DBusNotifier.h"

#include <QElapsedTimer>
#include <QTest>

class TestDBusNotifier : public QObject
{
    Q_OBJECT

    // Posts one notification and returns how long the caller was held up, in ms.
    static qint64 post(DBusNotifier &notifier)
    {
        QElapsedTimer clock;
        clock.start();
        awaitTask(
            notifier.post(QStringLiteral("Sample rate changed"), QStringLiteral("M-1620 set to 96.0 kHz")));
        return clock.elapsed();
    }

private Q_SLOTS:
    void shownOnTheDesktop()
    {
        FakeNotificationServer server;
        QVERIFY(server.isRegistered());
        DBusNotifier notifier;
        post(notifier);
        QCOMPARE(server.notifications().size(), 1);
        const FakeNotificationServer::Notification shown = server.notifications().first();
        QCOMPARE(shown.appName, QStringLiteral("Quorvel"));
        QCOMPARE(shown.replacesId, 0u);
        QCOMPARE(shown.summary, QStringLiteral("Sample rate changed"));
        QCOMPARE(shown.body, QStringLiteral("M-1620 set to 96.0 kHz"));
        awaitTask(notifier.post(QStringLiteral("M-1620 disconnected"), QStringLiteral("<a&b> &amp;")));
        QCOMPARE(server.notifications().last().body, QStringLiteral("&lt;a&amp;b&gt; &amp;amp;"));
    }

    void failedNotificationIsDropped_data()
    {
        QTest::addColumn<bool>("serverThere");
        QTest::addColumn<FakeNotificationServer::Answer>("answer");
        QTest::addColumn<int>("minimumMs");
        QTest::newRow("no notification server") << false << FakeNotificationServer::Answer::Show << 0;
        QTest::newRow("server refuses") << true << FakeNotificationServer::Answer::Fail << 0;
        QTest::newRow("server never answers")
            << true << FakeNotificationServer::Answer::Never << DBusNotifier::callTimeoutMs / 2;
    }

    void failedNotificationIsDropped()
    {
        QFETCH(bool, serverThere);
        QFETCH(FakeNotificationServer::Answer, answer);
        QFETCH(int, minimumMs);
        std::optional<FakeNotificationServer> server;
        if (serverThere) {
            server.emplace();
            QVERIFY(server->isRegistered());
            server->setAnswer(answer);
        }
        DBusNotifier notifier;
        const qint64 heldMs = post(notifier);
        QVERIFY2(heldMs >= minimumMs, qPrintable(QString::number(heldMs)));
        // Far below D-Bus's own 25 s, whatever the machine's load.
        QVERIFY2(heldMs < 15000, qPrintable(QString::number(heldMs)));
        if (server) {
            QTest::qWait(DBusNotifier::callTimeoutMs + 500);
            QCOMPARE(server->notifications().size(), 1); // asked once, never again
        }
    }

    void busThatWentAwayIsNotWaitedFor()
    {
        PrivateBus bus;
        if (bus.address().isEmpty())
            QSKIP("dbus-daemon is not available");
        const QString name = QStringLiteral("quorvel-test-gone");
        {
            QDBusConnection connection = QDBusConnection::connectToBus(bus.address(), name);
            QVERIFY(connection.isConnected());
            DBusNotifier notifier(connection);
            bus.stop();
            QVERIFY(QTest::qWaitFor([&] { return !connection.isConnected(); }, 10000));
            QVERIFY(post(notifier) < 15000);
        }
        QDBusConnection::disconnectFromBus(name);
    }
};

QTEST_GUILESS_MAIN(TestDBusNotifier)
#include "tst_DBusNotifier.moc"

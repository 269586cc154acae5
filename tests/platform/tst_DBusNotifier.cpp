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

    // How long the caller was held up, in ms.
    static qint64 post(DBusNotifier &notifier, const QString &body = QStringLiteral("M-1620 set to 96.0 kHz"))
    {
        QElapsedTimer clock;
        clock.start();
        awaitTask(notifier.post(QStringLiteral("Sample rate changed"), body));
        return clock.elapsed();
    }

private Q_SLOTS:
    // The body is markup to the server: the text must come through as written.
    void shownOnTheDesktop()
    {
        FakeNotificationServer server;
        QVERIFY(server.isRegistered());
        DBusNotifier notifier;
        post(notifier);
        post(notifier, QStringLiteral("<a&b> &amp;"));
        QCOMPARE(server.notifications().size(), 2);
        const FakeNotificationServer::Notification shown = server.notifications().first();
        QCOMPARE(QStringList({shown.appName, shown.summary, shown.body}),
                 QStringList({"Quorvel", "Sample rate changed", "M-1620 set to 96.0 kHz"}));
        QCOMPARE(shown.replacesId, 0u);
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
        // Far below D-Bus's own 25 s, whatever the machine's load.
        QVERIFY2(heldMs >= minimumMs && heldMs < 15000, qPrintable(QString::number(heldMs)));
        if (server) {
            // Asked once, never again: not at the refusal, nor when the call's time runs out.
            QTest::qWait(answer == FakeNotificationServer::Answer::Never ? DBusNotifier::callTimeoutMs : 500);
            QCOMPARE(server->notifications().size(), 1);
        }
    }

    void busThatWentAwayIsNotWaitedFor()
    {
        PrivateBus bus;
        QVERIFY(!bus.address().isEmpty());
        {
            QDBusConnection connection = QDBusConnection::connectToBus(bus.address(), QStringLiteral("gone"));
            DBusNotifier notifier(connection);
            bus.stop();
            QVERIFY(QTest::qWaitFor([&] { return !connection.isConnected(); }, 10000));
            QVERIFY(post(notifier) < 15000);
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("gone"));
    }
};

QTEST_GUILESS_MAIN(TestDBusNotifier)
#include "tst_DBusNotifier.moc"

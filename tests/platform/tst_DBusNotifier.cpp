// A notification that cannot be shown is dropped: the caller goes on within the call's time
// limit, whatever the notification server (or the lack of one) does, and nothing is retried.
#include "AwaitTask.h"
#include "FakeNotificationServer.h"
#include "platform/DBusNotifier.h"

#include <QElapsedTimer>
#include <QTest>

using Answer = FakeNotificationServer::Answer;

class TestDBusNotifier : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void postOnce_data()
    {
        QTest::addColumn<bool>("serverThere");
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<int>("minimumMs");
        QTest::newRow("shown") << true << Answer::Show << 0;
        QTest::newRow("no notification server") << false << Answer::Show << 0;
        QTest::newRow("server refuses") << true << Answer::Fail << 0;
        QTest::newRow("server never answers") << true << Answer::Never << DBusNotifier::callTimeoutMs / 2;
    }

    void postOnce()
    {
        QFETCH(bool, serverThere);
        QFETCH(Answer, answer);
        QFETCH(int, minimumMs);
        std::optional<FakeNotificationServer> server;
        if (serverThere) {
            server.emplace();
            QVERIFY(server->isRegistered());
            server->setAnswer(answer);
        }
        DBusNotifier notifier;
        QElapsedTimer clock;
        clock.start();
        // The body is markup to the server: the text must come through as written.
        awaitTask(notifier.post(QStringLiteral("Sample rate changed"), QStringLiteral("<a&b> &amp;")));
        // Far below D-Bus's own 25 s, whatever the machine's load.
        QVERIFY2(clock.elapsed() >= minimumMs && clock.elapsed() < 15000,
                 qPrintable(QString::number(clock.elapsed())));
        if (!server)
            return;
        // Asked once, never again: not at the refusal, nor when the call's time runs out.
        QTest::qWait(answer == Answer::Never ? DBusNotifier::callTimeoutMs : 300);
        QCOMPARE(server->notifications().size(), 1);
        const FakeNotificationServer::Notification shown = server->notifications().first();
        QCOMPARE(QStringList({shown.appName, shown.body}),
                 QStringList({"Quorvel", "&lt;a&amp;b&gt; &amp;amp;"}));
        QCOMPARE(shown.replacesId, 0u);
    }
};

QTEST_GUILESS_MAIN(TestDBusNotifier)
#include "tst_DBusNotifier.moc"

// A notification that cannot be shown is dropped: the caller goes on within the call's time
// limit, whether the server refuses or never answers (no server at all is a refusal by the
// bus), and nothing is retried. The texts themselves are the engine's tests; here, who sends
// them and the body as markup.
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
    void failedNotificationIsDropped()
    {
        for (const auto &[answer, minimumMs] :
             {std::pair {Answer::Fail, 0}, {Answer::Never, DBusNotifier::callTimeoutMs / 2}}) {
            FakeNotificationServer server;
            QVERIFY(server.isRegistered());
            server.setAnswer(answer);
            DBusNotifier notifier;
            QElapsedTimer clock;
            clock.start();
            awaitTask(notifier.post(QStringLiteral("Sample rate changed"), QStringLiteral("<a&b> &amp;")));
            // Far below D-Bus's own 25 s, whatever the machine's load.
            QVERIFY2(clock.elapsed() >= minimumMs && clock.elapsed() < 15000,
                     qPrintable(QString::number(clock.elapsed())));
            // Asked once, never again: not at the refusal, nor when the call's time runs out.
            QTest::qWait(answer == Answer::Never ? DBusNotifier::callTimeoutMs : 300);
            QCOMPARE(server.notifications().size(), 1);
            const auto shown = server.notifications().first();
            QCOMPARE((QStringList {shown.appName, shown.icon, QString::number(shown.replacesId),
                                   shown.summary, shown.body}),
                     (QStringList {"Quorvel", "app.quorvel.Quorvel", "0", "Sample rate changed",
                                   "&lt;a&amp;b&gt; &amp;amp;"})); // the body as markup
        }
    }
};

QTEST_GUILESS_MAIN(TestDBusNotifier)
#include "tst_DBusNotifier.moc"

// Where no tray shows the icon, a notification offers the panel.
#include "FakeNotificationServer.h"
#include "platform/FreedesktopDesktop.h"

#include <QTest>

#include <qcoro/qcorotask.h>

class TestFreedesktopDesktop : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A click on the notification or its one button runs the choice, once; with no server it says so.
    void offerRunsTheChoiceWhenTaken()
    {
        FreedesktopDesktop desktop;
        int chosen = 0;
        const auto offer = [&] {
            return QCoro::waitFor(desktop.offer(QStringLiteral("Quorvel is running"),
                                                QStringLiteral("No tray."), QStringLiteral("Open Quorvel"),
                                                [&] { ++chosen; }));
        };
        QVERIFY(!offer());
        FakeNotificationServer server;
        QVERIFY(server.isRegistered() && offer());
        QCOMPARE(server.notifications().first().actions, (QStringList {"default", "Open Quorvel"}));
        QCOMPARE(server.notifications().first().expireTimeout, 0);
        server.invokeAction(2, QStringLiteral("something else")); // another program's notification
        server.invokeAction(1, QStringLiteral("default"));
        server.invokeAction(1, QStringLiteral("default"));
        QTRY_COMPARE(chosen, 1);
        QTest::qWait(100);
        QCOMPARE(chosen, 1);
    }
};

QTEST_MAIN(TestFreedesktopDesktop)
#include "tst_FreedesktopDesktop.moc"

// The desktop's notifications with a choice, and the file manager's fallback, on the test's own bus.
#include "FakeNotificationServer.h"
#include "platform/FreedesktopDesktop.h"

#include <QTemporaryDir>
#include <QTest>

#include <qcoro/qcorotask.h>

namespace {
// Records where the reveal falls back to instead of opening a folder on the desktop.
struct WatchedDesktop final : FreedesktopDesktop
{
    void openUrl(const QUrl &url) override { opened.append(url); }
    QList<QUrl> opened;
};

} // namespace

class TestFreedesktopDesktop : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The offer made when no tray comes: a click on it or its one button runs the choice, once;
    // with no server it says so.
    void offerRunsTheChoiceOnceWhenTaken()
    {
        FreedesktopDesktop desktop;
        int chosen = 0;
        QVERIFY(!QCoro::waitFor(desktop.offer("T", "B", "Open", [&] { ++chosen; })));
        FakeNotificationServer server;
        QVERIFY(server.isRegistered());
        QVERIFY(QCoro::waitFor(
            desktop.offer("Quorvel is running", "No tray.", "Open Quorvel", [&] { ++chosen; })));
        QCOMPARE(server.notifications().size(), 1);
        QCOMPARE(server.notifications().first().actions, (QStringList {"default", "Open Quorvel"}));
        QCOMPARE(server.notifications().first().expireTimeout, 0);
        server.invokeAction(2, QStringLiteral("default")); // another program's notification
        server.invokeAction(1, QStringLiteral("default"));
        server.invokeAction(1, QStringLiteral("default"));
        QTRY_COMPARE(chosen, 1);
        QTest::qWait(100);
        QCOMPARE(chosen, 1);
    }

    // A missing file, or no file manager to select it, opens its folder instead.
    void revealFileFallsBackToItsFolder()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("sync.log"));
        WatchedDesktop desktop;
        desktop.revealFile(path);
        QVERIFY(QFile(path).open(QIODevice::WriteOnly));
        desktop.revealFile(path); // nobody on this bus answers for org.freedesktop.FileManager1
        QTRY_COMPARE(desktop.opened, (QList<QUrl>(2, QUrl::fromLocalFile(dir.path()))));
    }
};

QTEST_MAIN(TestFreedesktopDesktop)
#include "tst_FreedesktopDesktop.moc"

// The desktop's notifications with a choice, and the file manager, on the test's own bus.
#include "FakeNotificationServer.h"
#include "platform/FreedesktopDesktop.h"

#include <QDBusConnection>
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

// A file manager that only records what it is asked to show.
class FakeFileManager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QStringList shown;

public Q_SLOTS:
    void ShowItems(const QStringList &uris, const QString &) { shown.append(uris); }
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

    // The file manager selects the file; a missing file, or no file manager, opens its folder.
    void revealFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("odd name #1.log"));
        WatchedDesktop desktop;
        desktop.revealFile(path);
        QCOMPARE(desktop.opened, QList<QUrl> {QUrl::fromLocalFile(dir.path())});
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QDBusConnection bus
            = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fm"));
        FakeFileManager fileManager;
        QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &fileManager,
                                   QDBusConnection::ExportAllSlots)
                && bus.registerService(QStringLiteral("org.freedesktop.FileManager1")));
        desktop.revealFile(path);
        QTRY_COMPARE(fileManager.shown, QStringList {QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)});
        QVERIFY(fileManager.shown.first().endsWith(QStringLiteral("/odd%20name%20%231.log")));
        QTest::qWait(100);
        QCOMPARE(desktop.opened.size(), 1);
        QDBusConnection::disconnectFromBus(QStringLiteral("fm"));
    }
};

QTEST_MAIN(TestFreedesktopDesktop)
#include "tst_FreedesktopDesktop.moc"

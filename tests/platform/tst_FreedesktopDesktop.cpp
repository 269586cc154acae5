#include "FakeNotificationServer.h"
#include "platform/FreedesktopDesktop.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <qcoro/qcorotask.h>

namespace {

const QString fileManagerService = QStringLiteral("org.freedesktop.FileManager1");

// Records where the reveal falls back to instead of opening a folder on the desktop.
class WatchedDesktop final : public FreedesktopDesktop
{
public:
    void openUrl(const QUrl &url) override { opened.append(url); }
    QList<QUrl> opened;
};

// A file manager on this test's session bus that only records what it is asked to show.
class FakeFileManager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QStringList shown, startupIds;

public Q_SLOTS:
    void ShowItems(const QStringList &uris, const QString &startupId)
    {
        shown.append(uris);
        startupIds.append(startupId);
    }
};

QString touched(const QTemporaryDir &dir, const QString &name)
{
    QFile file(dir.filePath(name));
    return file.open(QIODevice::WriteOnly) ? file.fileName() : QString();
}

} // namespace

class TestFreedesktopDesktop : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A click on the notification or its one button runs the choice, once; with no server it says so.
    void offerRunsTheChoiceWhenTaken()
    {
        FreedesktopDesktop desktop;
        int chosen = 0;
        const auto choose = [&] { ++chosen; };
        QVERIFY(!QCoro::waitFor(
            desktop.offer(QStringLiteral("T"), QStringLiteral("B"), QStringLiteral("Open"), choose)));
        FakeNotificationServer server;
        QVERIFY(server.isRegistered());
        QVERIFY(QCoro::waitFor(desktop.offer(QStringLiteral("Quorvel is running"), QStringLiteral("No tray."),
                                             QStringLiteral("Open Quorvel"), choose)));
        QCOMPARE(server.notifications().size(), 1);
        QCOMPARE(server.notifications().first().actions, (QStringList {"default", "Open Quorvel"}));
        QCOMPARE(server.notifications().first().expireTimeout, 0);
        server.invokeAction(2, QStringLiteral("something else")); // another program's notification
        server.invokeAction(1, QStringLiteral("default"));
        server.invokeAction(1, QStringLiteral("default"));
        QTRY_COMPARE(chosen, 1);
        QTest::qWait(100);
        QCOMPARE(chosen, 1);
    }

    void revealAsksTheFileManagerToSelectTheFile()
    {
        QTemporaryDir dir;
        const QString path = touched(dir, QStringLiteral("odd name #1.log"));
        // A connection of its own, as a file manager process would have.
        QDBusConnection bus
            = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fm"));
        FakeFileManager fileManager;
        QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &fileManager,
                                   QDBusConnection::ExportAllSlots));
        QVERIFY(bus.registerService(fileManagerService));
        WatchedDesktop ui;
        ui.revealFile(path);
        QTRY_COMPARE(fileManager.shown, QStringList {QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)});
        QVERIFY(fileManager.shown.first().endsWith(QStringLiteral("/odd%20name%20%231.log")));
        QCOMPARE(fileManager.startupIds, QStringList {QString()});
        QTest::qWait(100);
        QVERIFY(ui.opened.isEmpty());
        bus.unregisterService(fileManagerService);
        QDBusConnection::disconnectFromBus(QStringLiteral("fm"));
    }

    void revealOpensTheFolderOfAMissingFileOrWhenNoFileManagerAnswers()
    {
        QTemporaryDir dir;
        WatchedDesktop ui;
        ui.revealFile(dir.filePath(QStringLiteral("sync.log")));
        QCOMPARE(ui.opened, QList<QUrl> {QUrl::fromLocalFile(dir.path())});
        QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
        if (bus && bus->activatableServiceNames().value().contains(fileManagerService))
            QSKIP("a real file manager can be started on this session bus; it is not run from a test");
        ui.revealFile(touched(dir, QStringLiteral("sync.log")));
        QTRY_COMPARE(ui.opened.size(), 2);
        QCOMPARE(ui.opened.last(), QUrl::fromLocalFile(dir.path()));
    }
};

QTEST_MAIN(TestFreedesktopDesktop)
#include "tst_FreedesktopDesktop.moc"

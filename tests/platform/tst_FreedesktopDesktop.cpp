#include "FakeNotificationServer.h"

#include "platform/FreedesktopDesktop.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>

#include <qcoro/qcorotask.h>

namespace {

const QString fileManagerService = QStringLiteral("org.freedesktop.FileManager1");

// Watches where the real reveal falls back to instead of opening a folder on the desktop.
class WatchedDesktop final : public FreedesktopDesktop
{
public:
    void openUrl(const QUrl &url) override { opened.append(url); }
    QList<QUrl> opened;
};

// A file manager on this test's own session bus that only records what it is asked to show.
class FakeFileManager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QStringList shown;
    QStringList startupIds;

public Q_SLOTS:
    void ShowItems(const QStringList &uris, const QString &startupId)
    {
        shown.append(uris);
        startupIds.append(startupId);
    }
};

bool fileManagerActivatable()
{
    QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
    return bus && bus->activatableServiceNames().value().contains(fileManagerService);
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
        QVERIFY(!QCoro::waitFor(desktop.offer(QStringLiteral("T"), QStringLiteral("B"),
                                              QStringLiteral("Open"), [&] { ++chosen; })));
        FakeNotificationServer server;
        QVERIFY(server.isRegistered());
        QVERIFY(QCoro::waitFor(desktop.offer(QStringLiteral("Quorvel is running"), QStringLiteral("No tray."),
                                             QStringLiteral("Open Quorvel"), [&] { ++chosen; })));
        QCOMPARE(server.notifications().size(), 1);
        QCOMPARE(server.notifications().first().actions,
                 (QStringList {QStringLiteral("default"), QStringLiteral("Open Quorvel")}));
        QCOMPARE(server.notifications().first().expireTimeout, 0);
        server.invokeAction(2, QStringLiteral("something else")); // another program's notification
        server.invokeAction(1, QStringLiteral("default"));
        server.invokeAction(1, QStringLiteral("default"));
        QTRY_COMPARE(chosen, 1);
        QTest::qWait(100);
        QCOMPARE(chosen, 1);
    }

    void copyTextLeavesExactlyTheText()
    {
        QGuiApplication::clipboard()->setText(QStringLiteral("older"));
        FreedesktopDesktop ui;
        ui.copyText(QStringLiteral("Quorvel diagnostics — line one\nline two"));
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QStringLiteral("Quorvel diagnostics — line one\nline two"));
    }

    void revealAsksTheFileManagerToSelectTheFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("odd name #1.log"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();

        // A connection of its own, as a file manager process would have.
        QDBusConnection fileManagerBus
            = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-file-manager"));
        QVERIFY(fileManagerBus.isConnected());
        FakeFileManager fileManager;
        QVERIFY(fileManagerBus.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &fileManager,
                                              QDBusConnection::ExportAllSlots));
        QVERIFY(fileManagerBus.registerService(fileManagerService));

        WatchedDesktop ui;
        ui.revealFile(path);
        QTRY_COMPARE(fileManager.shown.size(), 1);
        QCOMPARE(fileManager.shown.first(), QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded));
        QVERIFY(fileManager.shown.first().endsWith(QStringLiteral("/odd%20name%20%231.log")));
        QCOMPARE(fileManager.startupIds, QStringList {QString()});
        QTest::qWait(100);
        QCOMPARE(ui.opened, QList<QUrl>());

        fileManagerBus.unregisterService(fileManagerService);
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-file-manager"));
    }

    void revealOpensTheFolderOfAMissingFileOrWhenNoFileManagerAnswers()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("sync.log"));
        WatchedDesktop ui;
        ui.revealFile(path);
        QCOMPARE(ui.opened, QList<QUrl> {QUrl::fromLocalFile(dir.path())});
        if (fileManagerActivatable())
            QSKIP("a real file manager can be started on this session bus; it is not run from a test");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        ui.revealFile(path);
        QTRY_COMPARE(ui.opened.size(), 2);
        QCOMPARE(ui.opened.last(), QUrl::fromLocalFile(dir.path()));
    }
};

QTEST_MAIN(TestFreedesktopDesktop)
#include "tst_FreedesktopDesktop.moc"

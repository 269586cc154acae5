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
    QStringList shown;

public Q_SLOTS:
    void ShowItems(const QStringList &uris, const QString &) { shown.append(uris); }
};

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
        QTest::qWait(200);
        QCOMPARE(chosen, 1);
    }

    // The file manager selects the file; a missing file, or no file manager, opens its folder.
    void revealFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("odd name #1.log"));
        WatchedDesktop ui;
        ui.revealFile(path);
        QCOMPARE(ui.opened, QList<QUrl> {QUrl::fromLocalFile(dir.path())});
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QDBusConnectionInterface *session = QDBusConnection::sessionBus().interface();
        if (!session || !session->activatableServiceNames().value().contains(fileManagerService)) {
            ui.revealFile(path);
            QTRY_COMPARE(ui.opened.size(), 2);
        }
        // A connection of its own, as a file manager process would have.
        QDBusConnection bus
            = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fm"));
        FakeFileManager fileManager;
        QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &fileManager,
                                   QDBusConnection::ExportAllSlots));
        QVERIFY(bus.registerService(fileManagerService));
        const qsizetype opened = ui.opened.size();
        ui.revealFile(path);
        QTRY_COMPARE(fileManager.shown, QStringList {QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)});
        QVERIFY(fileManager.shown.first().endsWith(QStringLiteral("/odd%20name%20%231.log")));
        QTest::qWait(100);
        QCOMPARE(ui.opened.size(), opened);
        bus.unregisterService(fileManagerService);
        QDBusConnection::disconnectFromBus(QStringLiteral("fm"));
    }
};

QTEST_MAIN(TestFreedesktopDesktop)
#include "tst_FreedesktopDesktop.moc"

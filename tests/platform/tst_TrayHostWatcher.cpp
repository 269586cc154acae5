// A tray is reported only once a StatusNotifierItem host is registered, and again whenever the
// panel that hosts it restarts, so that a tray coming after the program is still used.
#include "PrivateBus.h"
#include "platform/TrayHostWatcher.h"

#include <QDBusConnection>
#include <QSignalSpy>
#include <QTest>

// What a panel offers on the bus: the watcher, and whether a host registered with it.
class FakeStatusNotifierWatcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)

public:
    bool isHostRegistered() const { return m_host; }
    void setHost(bool registered)
    {
        m_host = registered;
        if (registered)
            Q_EMIT StatusNotifierHostRegistered();
        else
            Q_EMIT StatusNotifierHostUnregistered();
    }

    // On the panel's own connection, ended to take the watcher away.
    bool appear(const QString &address, const QString &connectionName)
    {
        m_connection = connectionName;
        QDBusConnection bus = QDBusConnection::connectToBus(address, connectionName);
        return bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), this,
                                  QDBusConnection::ExportAllProperties | QDBusConnection::ExportAllSignals)
            && bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    }
    void vanish() { QDBusConnection::disconnectFromBus(m_connection); }

Q_SIGNALS:
    void StatusNotifierHostRegistered();
    void StatusNotifierHostUnregistered();

private:
    bool m_host = false;
    QString m_connection;
};

class TestTrayHostWatcher : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void followsThePanelThroughItsRestarts()
    {
        PrivateBus bus;
        QVERIFY(!bus.address().isEmpty());
        TrayHostWatcher watcher(QDBusConnection::connectToBus(bus.address(), QStringLiteral("program")));
        QSignalSpy registered(&watcher, &TrayHostWatcher::statusNotifierHostRegistered);
        QTest::qWait(200);
        QVERIFY(!watcher.isAvailable()); // no panel yet, as at login

        FakeStatusNotifierWatcher panel;
        QVERIFY(panel.appear(bus.address(), QStringLiteral("panel")));
        QTest::qWait(200);
        QVERIFY(!watcher.isAvailable()); // a watcher with no host shows no icon

        panel.setHost(true);
        QTRY_VERIFY(watcher.isAvailable());
        QCOMPARE(registered.size(), 1);

        panel.vanish(); // the panel quits or crashes
        QTRY_VERIFY(!watcher.isAvailable());

        FakeStatusNotifierWatcher restarted;
        restarted.setHost(true);
        QVERIFY(restarted.appear(bus.address(), QStringLiteral("panel again")));
        QTRY_VERIFY(watcher.isAvailable());
        QCOMPARE(registered.size(), 2); // the icon must register with the new one

        restarted.setHost(false);
        QTRY_VERIFY(!watcher.isAvailable());
    }
};

QTEST_GUILESS_MAIN(TestTrayHostWatcher)
#include "tst_TrayHostWatcher.moc"

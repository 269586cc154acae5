#include "discovery/AvahiBrowser.h"
#include "discovery/DeviceDiscovery.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// The avahi back ends and the simulator's --advertise where no avahi-daemon can be reached, as
// on a desktop without avahi: browsing and announcing fail quietly. The system bus address
// points at a socket that does not exist, so nothing reaches the machine's own bus.
class TestAvahiWithoutDaemon : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    static QByteArray runSimulator(QProcess &simulator, const QString &name)
    {
        simulator.start(QDir(qEnvironmentVariable("QUORVEL_BIN_DIR")).filePath("m1620-sim"),
                        {"--advertise", name});
        simulator.waitForFinished(1000);
        return simulator.readAllStandardError();
    }

private Q_SLOTS:
    void initTestCase()
    {
        // libdbus reads the address once per process, so this comes before any avahi use.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + m_dir.filePath("no-bus").toUtf8());
    }

    void browserFailsFromTheEventLoopOnce()
    {
        AvahiBrowser browser(DeviceDiscovery::serviceType);
        QSignalSpy ready(&browser, &ServiceBrowser::ready);
        QSignalSpy failed(&browser, &ServiceBrowser::failed);
        QSignalSpy services(&browser, &ServiceBrowser::servicesChanged);
        browser.start();
        QCOMPARE(failed.count(), 0); // a receiver may delete the browser, so never from start()
        QTRY_COMPARE(failed.count(), 1);
        QVERIFY(!failed.first().first().toString().isEmpty());
        browser.start(); // once only
        AvahiBrowser stopped(DeviceDiscovery::serviceType);
        QSignalSpy stoppedFailed(&stopped, &ServiceBrowser::failed);
        stopped.start();
        stopped.stop();
        QTest::qWait(100);
        QCOMPARE(failed.count() + stoppedFailed.count() + ready.count() + services.count(), 1);
    }

    // It runs on, and refuses a name longer than DNS-SD's 63 bytes of UTF-8.
    void simulatorWithoutAvahi()
    {
        QProcess simulator;
        const QByteArray errors = runSimulator(simulator, "M-1620 Sim"); // with its own log
        QVERIFY2(
            errors.contains("m1620-sim: cannot advertise \"M-1620 Sim\" through avahi: Daemon not running; "
                            "running without it\n"),
            errors.constData());
        QCOMPARE(simulator.state(), QProcess::Running);
        QVERIFY(simulator.readLine().startsWith("listening on 127.0.0.1:"));
        simulator.terminate();
        QVERIFY(simulator.waitForFinished(5000));
        QCOMPARE(simulator.exitCode(), 0);

        QCOMPARE(runSimulator(simulator, QString(32, QChar(0xE9))), // 64 bytes
                 QByteArray("m1620-sim: --advertise needs a name of 1 to 63 bytes\n"));
        QCOMPARE(simulator.exitCode(), 2);
        QVERIFY(simulator.readAllStandardOutput().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestAvahiWithoutDaemon)
#include "tst_AvahiWithoutDaemon.moc"

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

    QProcess *startSimulator(const QString &name)
    {
        auto *simulator = new QProcess(this);
        simulator->start(QDir(qEnvironmentVariable("QUORVEL_BIN_DIR")).filePath(QStringLiteral("m1620-sim")),
                         {QStringLiteral("--advertise"), name});
        return simulator;
    }

private Q_SLOTS:
    void initTestCase()
    {
        // libdbus reads the address once per process, so this comes before any avahi use.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + m_dir.filePath(QStringLiteral("no-bus")).toUtf8());
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
        QTest::qWait(50);
        QCOMPARE(failed.count(), 1);
        QCOMPARE(ready.count() + services.count(), 0);

        AvahiBrowser stopped(DeviceDiscovery::serviceType);
        QSignalSpy stoppedFailed(&stopped, &ServiceBrowser::failed);
        stopped.start();
        stopped.stop();
        QTest::qWait(100);
        QCOMPARE(stoppedFailed.count(), 0);
    }

    void simulatorRunsOnWithoutAvahi()
    {
        QProcess *simulator = startSimulator(QStringLiteral("M-1620 Sim"));
        QVERIFY(simulator->waitForStarted(5000));
        QTRY_VERIFY(simulator->canReadLine());
        QVERIFY(simulator->readLine().startsWith("listening on 127.0.0.1:"));
        QByteArray errors; // shared with the simulator's own log
        const QByteArray message = "m1620-sim: cannot advertise \"M-1620 Sim\" through avahi: Daemon not "
                                   "running; running without it\n";
        QTRY_VERIFY2((errors += simulator->readAllStandardError()).contains(message), errors.constData());
        QTest::qWait(100);
        QCOMPARE(simulator->state(), QProcess::Running);
        simulator->terminate();
        QVERIFY(simulator->waitForFinished(5000));
        QCOMPARE(simulator->exitCode(), 0);
    }

    // A DNS-SD instance name is 1 to 63 bytes of UTF-8.
    void simulatorRefusesABadName()
    {
        QProcess *simulator = startSimulator(QString(32, QChar(0xE9))); // 32 letters, 64 bytes
        QVERIFY(simulator->waitForFinished(5000));
        QCOMPARE(simulator->exitCode(), 2);
        QCOMPARE(simulator->readAllStandardError(),
                 QByteArray("m1620-sim: --advertise needs a name of 1 to 63 bytes\n"));
        QVERIFY(simulator->readAllStandardOutput().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestAvahiWithoutDaemon)
#include "tst_AvahiWithoutDaemon.moc"

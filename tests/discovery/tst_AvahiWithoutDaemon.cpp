#include "PrivateSystemBus.h"
#include "discovery/AvahiBrowser.h"
#include "discovery/AvahiPublisher.h"
#include "discovery/DeviceDiscovery.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {
QString simulatorProgram()
{
    return QDir(qEnvironmentVariable("QUORVEL_BIN_DIR")).filePath(QStringLiteral("m1620-sim"));
}
} // namespace

// The avahi back ends and the simulator's --advertise against a system bus on which no
// avahi-daemon runs, as on a desktop without avahi: browsing and announcing fail quietly.
// No packet is sent anywhere.
class TestAvahiWithoutDaemon : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<PrivateSystemBus> bus;

private Q_SLOTS:
    void initTestCase()
    {
        // libdbus reads the address once per process, so the bus comes before any avahi use.
        bus = std::make_unique<PrivateSystemBus>();
        if (bus->address().isEmpty())
            QSKIP(qPrintable(QStringLiteral("no private system bus: ") + bus->errorString()));
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", bus->address().toUtf8());
    }

    void cleanupTestCase() { bus.reset(); }

    void browserFails()
    {
        AvahiBrowser browser(DeviceDiscovery::serviceType);
        QSignalSpy ready(&browser, &ServiceBrowser::ready);
        QSignalSpy failed(&browser, &ServiceBrowser::failed);
        QSignalSpy services(&browser, &ServiceBrowser::servicesChanged);
        browser.start();
        QCOMPARE(failed.count(), 0); // reported from the event loop, not from start()
        QTRY_COMPARE(failed.count(), 1);
        QVERIFY(!failed.first().first().toString().isEmpty());
        qInfo("reason: %s", qPrintable(failed.first().first().toString()));
        QTest::qWait(50);
        QCOMPARE(ready.count(), 0);
        QCOMPARE(services.count(), 0);
        QCOMPARE(failed.count(), 1);

        browser.start(); // once only
        QTest::qWait(50);
        QCOMPARE(failed.count(), 1);
    }

    void discoveryEndsQuietly()
    {
        DeviceDiscovery discovery;
        QSignalSpy browsingChanged(&discovery, &DeviceDiscovery::isBrowsingChanged);
        QSignalSpy hostsChanged(&discovery, &DeviceDiscovery::discoveredHostsChanged);
        discovery.startBrowsing();
        QVERIFY(discovery.hasBrowser());
        QTest::qWait(200);
        QVERIFY(!discovery.isBrowsing());
        QCOMPARE(browsingChanged.count(), 0);
        QCOMPARE(hostsChanged.count(), 0);
        QVERIFY(discovery.hasBrowser()); // a failed browser stays until stopBrowsing()
        discovery.stopBrowsing();
        QVERIFY(!discovery.hasBrowser());
    }

    void stoppedBrowserStaysSilent()
    {
        AvahiBrowser browser(DeviceDiscovery::serviceType);
        QSignalSpy failed(&browser, &ServiceBrowser::failed);
        browser.start();
        browser.stop();
        QTest::qWait(100);
        QCOMPARE(failed.count(), 0);
    }

    void publisherFails()
    {
        AvahiPublisher publisher(QStringLiteral("M-1620 Sim"), DeviceDiscovery::serviceType, 8080);
        QSignalSpy established(&publisher, &AvahiPublisher::established);
        QSignalSpy failed(&publisher, &AvahiPublisher::failed);
        publisher.start();
        QTRY_COMPARE(failed.count(), 1);
        QCOMPARE(established.count(), 0);
    }

    void simulatorRunsOnWithoutAvahi()
    {
        QProcess simulator;
        simulator.start(simulatorProgram(), {QStringLiteral("--advertise"), QStringLiteral("M-1620 Sim")});
        QVERIFY(simulator.waitForStarted(5000));
        QTRY_VERIFY(simulator.canReadLine());
        QVERIFY(simulator.readLine().startsWith("listening on 127.0.0.1:"));
        // The simulator's own log shares stderr.
        const QByteArray message = "m1620-sim: cannot advertise \"M-1620 Sim\" through avahi: Daemon not "
                                   "running; running without it\n";
        QByteArray errors;
        QTRY_VERIFY2((errors += simulator.readAllStandardError()).contains(message), errors.constData());
        QTest::qWait(100);
        QCOMPARE(simulator.state(), QProcess::Running);
        simulator.terminate();
        QVERIFY(simulator.waitForFinished(5000));
        QCOMPARE(simulator.exitStatus(), QProcess::NormalExit);
        QCOMPARE(simulator.exitCode(), 0);
    }

    void simulatorRefusesABadName()
    {
        QProcess simulator;
        simulator.start(simulatorProgram(), {QStringLiteral("--advertise"), QString()});
        QVERIFY(simulator.waitForFinished(5000));
        QCOMPARE(simulator.exitCode(), 2);
        QCOMPARE(simulator.readAllStandardError(),
                 QByteArray("m1620-sim: --advertise needs a name of 1 to 63 bytes\n"));
        QVERIFY(simulator.readAllStandardOutput().isEmpty());
    }

    void serviceNames()
    {
        QVERIFY(AvahiPublisher::isValidServiceName(QStringLiteral("M-1620 Pro (Studio A)")));
        QVERIFY(AvahiPublisher::isValidServiceName(QString(63, QLatin1Char('m'))));
        QVERIFY(!AvahiPublisher::isValidServiceName(QString(64, QLatin1Char('m'))));
        QVERIFY(!AvahiPublisher::isValidServiceName(QString()));
    }
};

QTEST_GUILESS_MAIN(TestAvahiWithoutDaemon)
#include "tst_AvahiWithoutDaemon.moc"

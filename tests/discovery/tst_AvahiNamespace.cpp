#include "discovery/AvahiBrowser.h"
#include "discovery/DeviceDiscovery.h"

#include <QDir>
#include <QElapsedTimer>
#include <QNetworkInterface>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <cstdio>
#include <memory>
#include <vector>

#include <unistd.h>

namespace {

const QString studioA = QStringLiteral("M-1620 Pro (Studio A)");

// A child process ended by its pid when the test is done with it.
class Child
{
public:
    explicit Child(const QString &program, const QStringList &arguments)
    {
        m_process.setProgram(program);
        m_process.setArguments(arguments);
        m_process.start();
    }
    ~Child() { end(); }

    QProcess &process() { return m_process; }

    void end()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

private:
    QProcess m_process;
};

std::unique_ptr<Child> publish(const QString &name, const QString &port)
{
    return std::make_unique<Child>(
        QStringLiteral("avahi-publish"),
        QStringList {QStringLiteral("-s"), name, DeviceDiscovery::serviceType, port});
}

} // namespace

// Discovery against a real avahi-daemon. The program first hands itself to
// tests/discovery/avahi_netns.sh, which runs it again inside a network namespace of its own
// with the daemon on a veth pair and a private system bus, or tells it why that cannot be.
class TestAvahiNamespace : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (qEnvironmentVariable("QUORVEL_AVAHI_NETNS") != u"ready") {
            const QString reason = qEnvironmentVariable("QUORVEL_AVAHI_SKIP");
            QSKIP(
                qPrintable(QStringLiteral("no avahi-daemon in a network namespace: ")
                           + (reason.isEmpty() ? QStringLiteral("run through tests/discovery/avahi_netns.sh")
                                               : reason)));
        }
        // Announcing anything here must never reach a real network.
        QStringList names;
        for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces())
            names.append(interface.name());
        names.sort();
        QCOMPARE(names, (QStringList {"lo", "qv0", "qv1"}));
        QVERIFY(qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS").contains(u"quorvel-avahi"));
    }

    void publishedServiceComesAndGoes()
    {
        AvahiBrowser browser(DeviceDiscovery::serviceType);
        QSignalSpy ready(&browser, &ServiceBrowser::ready);
        QSignalSpy failed(&browser, &ServiceBrowser::failed);
        QSignalSpy services(&browser, &ServiceBrowser::servicesChanged);
        QElapsedTimer clock;
        clock.start();
        browser.start();
        const qint64 startMs = clock.elapsed();
        QTRY_COMPARE_WITH_TIMEOUT(ready.count(), 1, 10000);
        qInfo("start() took %lld ms, ready after %lld ms", startMs, clock.elapsed());

        DeviceDiscovery discovery;
        discovery.startBrowsing();
        QTRY_VERIFY_WITH_TIMEOUT(discovery.isBrowsing(), 10000);

        auto device = publish(studioA, QStringLiteral("80"));
        auto printer = publish(QStringLiteral("Office Printer"), QStringLiteral("631"));
        clock.restart();
        const auto lastSet = [&services] {
            return services.isEmpty() ? QStringList() : services.last().first().toStringList();
        };
        QTRY_COMPARE_WITH_TIMEOUT(discovery.discoveredHosts(),
                                  QStringList {studioA + QStringLiteral(".local")}, 10000);
        qInfo("seen after %lld ms", clock.elapsed());
        QTRY_VERIFY_WITH_TIMEOUT(lastSet().contains(QStringLiteral("Office Printer")), 10000);
        QCOMPARE(lastSet().count(studioA), 1); // one interface, IPv4 only: one instance

        device->end();
        QTRY_VERIFY_WITH_TIMEOUT(discovery.discoveredHosts().isEmpty(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(lastSet(), QStringList {QStringLiteral("Office Printer")}, 10000);
        QVERIFY(discovery.isBrowsing());
        QCOMPARE(failed.count(), 0);

        discovery.stopBrowsing();
        QVERIFY(!discovery.isBrowsing());
        browser.stop();
    }

    void simulatorAdvertisesItself()
    {
        const QString program
            = QDir(qEnvironmentVariable("QUORVEL_BIN_DIR")).filePath(QStringLiteral("m1620-sim"));
        DeviceDiscovery discovery;
        discovery.startBrowsing();
        QTRY_VERIFY_WITH_TIMEOUT(discovery.isBrowsing(), 10000);

        // The name is taken already, so the simulator announces the next one.
        auto holder = publish(QStringLiteral("RME Sim"), QStringLiteral("81"));
        QTRY_COMPARE_WITH_TIMEOUT(discovery.discoveredHosts(), QStringList {QStringLiteral("RME Sim.local")},
                                  10000);

        Child simulator(program, {QStringLiteral("--advertise"), QStringLiteral("RME Sim")});
        QProcess &process = simulator.process();
        QVERIFY(process.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(process.canReadLine(), 10000);
        const QRegularExpression portLine(QStringLiteral(R"(^listening on 127\.0\.0\.1:(\d+)\n$)"));
        const auto match = portLine.match(QString::fromUtf8(process.readLine()));
        QVERIFY(match.hasMatch());
        const QString port = match.captured(1);

        QByteArray errors;
        const QByteArray expected = "m1620-sim: advertising \"RME Sim #2\" (_http._tcp, port " + port.toUtf8()
            + ") through avahi\n";
        QTRY_VERIFY_WITH_TIMEOUT((errors += process.readAllStandardError()).contains(expected), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(discovery.discoveredHosts().size(), 2, 10000);
        QVERIFY(discovery.discoveredHosts().contains(QStringLiteral("RME Sim #2.local")));

        // The announcement carries the simulator's port.
        Child resolve(QStringLiteral("avahi-browse"),
                      {QStringLiteral("--resolve"), QStringLiteral("--parsable"),
                       QStringLiteral("--terminate"), DeviceDiscovery::serviceType});
        QTRY_VERIFY_WITH_TIMEOUT(resolve.process().state() == QProcess::NotRunning, 15000);
        const QString resolved = QString::fromUtf8(resolve.process().readAllStandardOutput());
        // Parsable output escapes a blank as \032 and "#" as \035.
        const QString resolvedLine = QStringLiteral(R"(=;qv0;IPv4;RME\032Sim\032\0352;)");
        bool found = false;
        for (const QString &line : resolved.split(QLatin1Char('\n'))) {
            if (line.startsWith(resolvedLine) && line.endsWith(QLatin1Char(';') + port + QLatin1Char(';')))
                found = true;
        }
        QVERIFY2(found, qPrintable(resolved));

        simulator.end();
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(discovery.discoveredHosts(), QStringList {QStringLiteral("RME Sim.local")},
                                  10000);
    }
};

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QUORVEL_AVAHI_NETNS")) {
        std::vector<char *> arguments {const_cast<char *>(QUORVEL_AVAHI_NETNS_SCRIPT)};
        arguments.insert(arguments.end(), argv, argv + argc);
        arguments.push_back(nullptr);
        ::execv(arguments.front(), arguments.data());
        std::perror("cannot run " QUORVEL_AVAHI_NETNS_SCRIPT);
        qputenv("QUORVEL_AVAHI_SKIP", "the namespace script could not be started");
        qputenv("QUORVEL_AVAHI_NETNS", "skipped");
    }
    QCoreApplication app(argc, argv);
    TestAvahiNamespace test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_AvahiNamespace.moc"

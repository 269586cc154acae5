#include "core/AppState.h"
#include "device/M1620Client.h"
#include "discovery/AvahiBrowser.h"
#include "discovery/DeviceDiscovery.h"
#include "platform/Notifier.h"
#include "platform/SystemClock.h"
#include "platform/SystemLog.h"
#include "services/AppSettings.h"
#include "services/Logger.h"
#include "services/SettingsStore.h"
#include "sync/LegacyScriptDetector.h"
#include "sync/SyncEngine.h"
#include "ui/settings/ConnectionTabModel.h"

#include <QDir>
#include <QNetworkInterface>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <memory>
#include <vector>

#include <unistd.h>

namespace {

// A child process, ended by its own pid when the test is done with it.
std::unique_ptr<QProcess> run(const QString &program, const QStringList &arguments)
{
    auto process = std::make_unique<QProcess>();
    process->start(program, arguments); // the destructor ends it
    return process;
}

std::unique_ptr<QProcess> publish(const QString &name, const QString &port)
{
    return run(QStringLiteral("avahi-publish"),
               {QStringLiteral("-s"), name, DeviceDiscovery::serviceType, port});
}

void end(QProcess &process)
{
    process.terminate();
    QVERIFY(process.waitForFinished(5000));
}

std::unique_ptr<QProcess> simulator(const QStringList &arguments)
{
    return run(QDir(qEnvironmentVariable("QUORVEL_BIN_DIR")).filePath(QStringLiteral("m1620-sim")),
               arguments);
}

struct SilentNotifier final : Notifier
{
    QCoro::Task<> post(const QString &, const QString &) override { co_return; }
};

struct AbsentLegacyTool final : LegacyScriptDetector
{
    AbsentLegacyTool()
        : LegacyScriptDetector(QStringLiteral("/nonexistent"))
    { }
    QCoro::Task<bool> detect() const override { co_return false; }
};

} // namespace

// Discovery against a real avahi-daemon. The program first hands itself to avahi_netns.sh,
// which runs it again inside a network namespace of its own with the daemon on a veth pair
// and a private system bus, or tells it why that cannot be.
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
        browser.start();
        QTRY_COMPARE_WITH_TIMEOUT(ready.count(), 1, 10000);
        DeviceDiscovery discovery;
        discovery.startBrowsing();
        QTRY_VERIFY_WITH_TIMEOUT(discovery.isBrowsing(), 10000);

        const QString studio = QStringLiteral("M-1620 Pro (Studio A)");
        auto device = publish(studio, QStringLiteral("80"));
        auto printer = publish(QStringLiteral("Office Printer"), QStringLiteral("631"));
        const auto lastSet = [&services] {
            return services.isEmpty() ? QStringList() : services.last().first().toStringList();
        };
        QTRY_COMPARE_WITH_TIMEOUT(discovery.discoveredHosts(),
                                  QStringList {studio + QStringLiteral(".local")}, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(lastSet().contains(QStringLiteral("Office Printer")), 10000);
        QCOMPARE(lastSet().count(studio), 1); // one interface, IPv4 only: one instance

        // Services that go while nobody browses are gone from the list after the next start.
        discovery.stopBrowsing();
        end(*device);
        QTRY_COMPARE_WITH_TIMEOUT(lastSet(), QStringList {QStringLiteral("Office Printer")}, 10000);
        end(*printer);
        QTRY_VERIFY_WITH_TIMEOUT(lastSet().isEmpty(), 10000);
        discovery.startBrowsing();
        QTRY_VERIFY_WITH_TIMEOUT(discovery.isBrowsing(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(discovery.discoveredHosts().isEmpty(), 10000);
        QCOMPARE(failed.count(), 0);
    }

    // Under a name another service holds, the simulator announces the next one, on its port.
    void simulatorAdvertisesItself()
    {
        DeviceDiscovery discovery;
        discovery.startBrowsing();
        QTRY_VERIFY_WITH_TIMEOUT(discovery.isBrowsing(), 10000);
        auto holder = publish(QStringLiteral("RME Sim"), QStringLiteral("81"));
        QTRY_COMPARE_WITH_TIMEOUT(discovery.discoveredHosts(), QStringList {QStringLiteral("RME Sim.local")},
                                  10000);

        auto simulator = ::simulator({QStringLiteral("--advertise"), QStringLiteral("RME Sim")});
        QTRY_VERIFY_WITH_TIMEOUT(simulator->canReadLine(), 10000);
        const auto match = QRegularExpression(QStringLiteral(R"(^listening on 127\.0\.0\.1:(\d+)\n$)"))
                               .match(QString::fromUtf8(simulator->readLine()));
        QVERIFY(match.hasMatch());
        const QString port = match.captured(1);
        QByteArray errors;
        const QByteArray expected = "m1620-sim: advertising \"RME Sim #2\" (_http._tcp, port " + port.toUtf8()
            + ") through avahi\n";
        QTRY_VERIFY_WITH_TIMEOUT((errors += simulator->readAllStandardError()).contains(expected), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(discovery.discoveredHosts().size(), 2, 10000);
        QVERIFY(discovery.discoveredHosts().contains(QStringLiteral("RME Sim #2.local")));

        // Parsable output escapes a blank as \032 and "#" as \035.
        auto resolve = run(QStringLiteral("avahi-browse"),
                           {QStringLiteral("--resolve"), QStringLiteral("--parsable"),
                            QStringLiteral("--terminate"), DeviceDiscovery::serviceType});
        QVERIFY(resolve->waitForFinished(15000));
        const QString resolved = QString::fromUtf8(resolve->readAllStandardOutput());
        const QRegularExpression line(
            QStringLiteral(R"(^=;qv0;IPv4;RME\\032Sim\\032\\0352;.*;%1;)").arg(port),
            QRegularExpression::MultilineOption);
        QVERIFY2(line.match(resolved).hasMatch(), qPrintable(resolved));

        end(*simulator);
        QCOMPARE(simulator->exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(discovery.discoveredHosts(), QStringList {QStringLiteral("RME Sim.local")},
                                  10000);
    }

    // A device advertised under a name with spaces, which is no host name, is used from the
    // Connection tab: the engine connects to where it resolved.
    void usedDeviceIsConnected()
    {
        QTemporaryDir dir;
        SettingsStore store(dir.filePath(QStringLiteral("settings.json")));
        AppSettings settings(store);
        QTcpServer closed; // the engine starts on a loopback port with nobody there
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        settings.setCustomHost(QStringLiteral("127.0.0.1:%1").arg(closed.serverPort()));
        closed.close();
        settings.setUseCustomHost(true);
        AppState state;
        SystemClock clock;
        SilentNotifier notifier;
        Logger logger(dir.filePath(QStringLiteral("logs")), nullptr);
        AbsentLegacyTool legacy;
        M1620Client client(settings.effectiveHost());
        auto engine = std::make_unique<SyncEngine>(
            state, settings, SyncEngine::Services {&client, &clock, &notifier, &logger, &legacy});
        engine->start();

        // On the namespace's own link-local address, the one avahi announces for this machine.
        const QString name = QStringLiteral("M-1620 Pro (Studio B)");
        auto device = simulator({QStringLiteral("--address"), QStringLiteral("169.254.77.1"),
                                 QStringLiteral("--advertise"), name});
        QTRY_VERIFY_WITH_TIMEOUT(device->canReadLine(), 10000);
        const auto match = QRegularExpression(QStringLiteral(R"(^listening on 169\.254\.77\.1:(\d+)\n$)"))
                               .match(QString::fromUtf8(device->readLine()));
        QVERIFY(match.hasMatch());

        ConnectionTabModel tab(settings, {}, [](const QString &) -> QCoro::Task<M1620Result<DeviceStatus>> {
            co_return M1620Error::unreachable(QStringLiteral("not used"));
        });
        tab.setShown(true);
        const QString offered = name + QStringLiteral(".local");
        QTRY_VERIFY_WITH_TIMEOUT(tab.discoveredHosts().contains(offered), 10000);
        tab.useDiscoveredHost(offered);
        // Without mDNS in the system's resolver (as here) the address is stored, which the
        // engine's HTTP client reaches either way.
        const QString expected = QStringLiteral("169.254.77.1:") + match.captured(1);
        QTRY_COMPARE_WITH_TIMEOUT(settings.customHost(), expected, 6000);
        QVERIFY(tab.useError(offered).isEmpty());
        const auto connectedLine = [&] {
            logger.flush();
            QFile log(logger.logFile());
            return log.open(QIODevice::ReadOnly)
                && log.readAll().contains(QByteArray(QByteArray("Connected to ") + expected.toUtf8()));
        };
        QTRY_VERIFY_WITH_TIMEOUT(connectedLine(), 10000);
        QCOMPARE(state.connectionState(), ConnectionState::connected(expected));

        // A service no longer on the network: a readable error, and nothing stored.
        tab.useDiscoveredHost(QStringLiteral("M-1620 Gone.local"));
        QTRY_VERIFY_WITH_TIMEOUT(!tab.useError(QStringLiteral("M-1620 Gone.local")).isEmpty(), 7000);
        QCOMPARE(settings.customHost(), expected);
        tab.setShown(false);
        end(*device);
        // Before the objects it uses; its loops end at their next step, their waits with the clock.
        engine.reset();
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

#include "discovery/DeviceDiscovery.h"
#include "services/AppSettings.h"
#include "services/SettingsStore.h"
#include "ui/settings/ConnectionTabModel.h"

#include <QDir>
#include <QNetworkInterface>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// Discovery against a real avahi-daemon. avahi_netns.sh runs this inside a network namespace of
// its own with the daemon on a veth pair and a private system bus, or tells it why that cannot be.
class TestAvahiNamespace : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (qEnvironmentVariable("QUORVEL_AVAHI_NETNS") != u"ready")
            QSKIP(qPrintable(
                u"no avahi-daemon in a network namespace: "_s
                + qEnvironmentVariable("QUORVEL_AVAHI_SKIP", u"not run through avahi_netns.sh"_s)));
        // Announcing anything here must never reach a real network.
        QStringList names;
        for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces())
            names.append(interface.name());
        names.sort();
        QCOMPARE(names, (QStringList {"lo", "qv0", "qv1"}));
        QVERIFY(qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS").contains(u"quorvel-avahi"));
    }

    // An advertised device is offered in the Connection tab, used from there its resolved address
    // is stored, and it leaves the list when it goes.
    void advertisedDeviceIsFoundAndUsed()
    {
        QTemporaryDir dir;
        SettingsStore store(dir.filePath(u"settings.json"_s));
        AppSettings settings(store);
        const QString name = u"M-1620 Pro (Studio B)"_s;
        ConnectionTabModel tab(settings, {}, [](const QString &) -> QCoro::Task<M1620Result<DeviceStatus>> {
            co_return M1620Error::unreachable(u"not used"_s);
        });
        tab.setShown(true);

        // On the namespace's own link-local address, the one avahi announces for this machine.
        QProcess device;
        device.start(QDir(qEnvironmentVariable("QUORVEL_BIN_DIR")).filePath(u"m1620-sim"_s),
                     {u"--address"_s, u"169.254.77.1"_s, u"--advertise"_s, name});
        QTRY_VERIFY_WITH_TIMEOUT(device.canReadLine(), 10000);
        const auto match = QRegularExpression(QStringLiteral(R"(^listening on 169\.254\.77\.1:(\d+)\n$)"))
                               .match(QString::fromUtf8(device.readLine()));
        QVERIFY(match.hasMatch());
        const QString expected = u"169.254.77.1:"_s + match.captured(1);
        const QString offered = name + u".local"_s;
        QTRY_COMPARE_WITH_TIMEOUT(tab.discoveredHosts(), QStringList {offered}, 10000);

        // Without mDNS in the system's resolver (as here) the address is stored.
        tab.useDiscoveredHost(offered);
        QTRY_COMPARE_WITH_TIMEOUT(settings.customHost(), expected, 6000);
        QVERIFY(tab.useError(offered).isEmpty());

        device.terminate();
        QVERIFY(device.waitForFinished(5000));
        QCOMPARE(device.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(tab.discoveredHosts().isEmpty(), 10000);
        tab.setShown(false);
    }
};

QTEST_GUILESS_MAIN(TestAvahiNamespace)
#include "tst_AvahiNamespace.moc"

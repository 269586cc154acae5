#include "FakeServiceBrowser.h"
#include "discovery/DeviceDiscovery.h"
#include "platform/NameServiceSwitch.h"

#include <QFile>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

class TestDeviceDiscovery : public QObject
{
    Q_OBJECT

    QList<QPointer<FakeServiceBrowser>> m_browsers; // every browser asked for, newest last
    std::unique_ptr<DeviceDiscovery> m_discovery;

    FakeServiceBrowser *browser() const { return m_browsers.last(); }

    // Lets queued reports arrive and browsers that were given up go.
    static void settle()
    {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }

    void startAndBecomeReady()
    {
        m_discovery->startBrowsing();
        browser()->becomeReady();
        settle();
    }

    void report(const QStringList &names)
    {
        browser()->report(names);
        settle();
    }

private Q_SLOTS:
    void init()
    {
        m_browsers.clear();
        m_discovery = std::make_unique<DeviceDiscovery>([this] {
            auto browser = std::make_unique<FakeServiceBrowser>();
            m_browsers.append(browser.get());
            return browser;
        });
    }

    void cleanup() { m_discovery.reset(); }

    void keywordFilter_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("hosts");
        QTest::newRow("keywords in any case, names as received")
            << QStringList {"M-1620 Pro (Studio A)", "MADI Bridge", "Rme-Fireface", "stage-m1620",
                            "Farmers Market"}
            << QStringList {"M-1620 Pro (Studio A).local", "MADI Bridge.local", "Rme-Fireface.local",
                            "stage-m1620.local", "Farmers Market.local"};
        QTest::newRow("no keyword") << QStringList {"Office Printer", "M 1620", "m_1620", ""}
                                    << QStringList {};
        QTest::newRow("order and duplicates kept")
            << QStringList {"zz madi", "Printer", "M1620", "aa RME", "M1620"}
            << QStringList {"zz madi.local", "M1620.local", "aa RME.local", "M1620.local"};
    }

    void keywordFilter()
    {
        QFETCH(QStringList, names);
        startAndBecomeReady();
        report(names);
        QTEST(m_discovery->discoveredHosts(), "hosts");
    }

    // Once, when the browser says it is ready; then the complete set after every change, with
    // observers told only of real changes.
    void browsingFollowsEverySet()
    {
        QSignalSpy browsingChanged(m_discovery.get(), &DeviceDiscovery::isBrowsingChanged);
        QSignalSpy hostsChanged(m_discovery.get(), &DeviceDiscovery::discoveredHostsChanged);
        m_discovery->startBrowsing();
        m_discovery->startBrowsing();
        browser()->becomeReady();
        QVERIFY(!m_discovery->isBrowsing()); // reports arrive from the event loop
        settle();
        QVERIFY(m_discovery->isBrowsing());
        m_discovery->startBrowsing();
        QCOMPARE(m_browsers.size(), 1);
        QCOMPARE(browser()->startCount, 1);
        QCOMPARE(browsingChanged.count(), 1);

        report({"M-1620 A", "Printer"});
        report({"Printer", "M-1620 A"});
        report({"M-1620 A", "NAS"});
        QCOMPARE(hostsChanged.count(), 1);
        report({"M-1620 A", "M-1620 A"});
        report({"madi-2"});
        QCOMPARE(m_discovery->discoveredHosts(), QStringList {"madi-2.local"});
        report({"Printer"}); // the last device vanished
        report({});
        QVERIFY(m_discovery->discoveredHosts().isEmpty());
        QCOMPARE(hostsChanged.count(), 4);
    }

    void stopEndsBrowsingAtOnceAndKeepsTheList()
    {
        startAndBecomeReady();
        QPointer<FakeServiceBrowser> first = browser();
        report({"M-1620 A"});
        first->report({"M-1620 B"}); // still queued when the stop comes
        QSignalSpy browsingChanged(m_discovery.get(), &DeviceDiscovery::isBrowsingChanged);
        QSignalSpy hostsChanged(m_discovery.get(), &DeviceDiscovery::discoveredHostsChanged);
        m_discovery->stopBrowsing();
        QVERIFY(!m_discovery->isBrowsing() && !m_discovery->hasBrowser());
        QCOMPARE(first->stopCount, 1);
        settle();
        QVERIFY(first.isNull());
        m_discovery->stopBrowsing();
        QCOMPARE(browsingChanged.count(), 1);
        QCOMPARE(hostsChanged.count(), 0);

        startAndBecomeReady(); // the next start's first set replaces the kept list
        QCOMPARE(m_discovery->discoveredHosts(), QStringList {"M-1620 A.local"});
        report({});
        QVERIFY(m_discovery->discoveredHosts().isEmpty());
    }

    // A missing daemon or a broken browser ends browsing quietly; the failed browser stays
    // until stopBrowsing(), so a start in between starts nothing new.
    void failureEndsBrowsingQuietly()
    {
        QSignalSpy browsingChanged(m_discovery.get(), &DeviceDiscovery::isBrowsingChanged);
        m_discovery->startBrowsing();
        browser()->fail(u"Daemon not running"_s);
        settle();
        QVERIFY(!m_discovery->isBrowsing());
        QCOMPARE(browsingChanged.count(), 0);

        m_discovery->stopBrowsing();
        startAndBecomeReady();
        report({"M-1620 A"});
        browser()->fail();
        settle();
        QVERIFY(!m_discovery->isBrowsing() && m_discovery->hasBrowser());
        QCOMPARE(m_discovery->discoveredHosts(), QStringList {"M-1620 A.local"});
        m_discovery->startBrowsing();
        QCOMPARE(m_browsers.size(), 2);
    }

    // The offered name goes back to the browser without ".local"; one answer per resolve, a
    // failure or no answer within 5 s included.
    void resolvingAnOfferedHost()
    {
        startAndBecomeReady();
        QSignalSpy resolved(m_discovery.get(), &DeviceDiscovery::hostResolved);
        QSignalSpy failed(m_discovery.get(), &DeviceDiscovery::hostResolveFailed);
        for (const QString host : {"M-1620 A.local", "M-1620 B.local", "M-1620 C.local"})
            m_discovery->resolveHost(host);
        QCOMPARE(browser()->resolving, (QStringList {"M-1620 A", "M-1620 B", "M-1620 C"}));
        for (int i = 0; i < 2; ++i)
            browser()->answer(u"M-1620 A"_s, {u"a.local"_s, u"169.254.1.2"_s, 80});
        browser()->refuse(u"M-1620 B"_s, u"Not found"_s);
        settle();
        QCOMPARE(resolved.count(), 1);
        QCOMPARE(resolved.first().first().toString(), u"M-1620 A.local"_s);
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.first(), (QVariantList {"M-1620 B.local", "Could not reach this device: Not found"}));
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 2, 6000);
        QCOMPARE(failed.last(),
                 (QVariantList {"M-1620 C.local", "The device did not answer within 5 seconds."}));
    }

    void customHostIsHostNameOnlyWhereTheSystemResolvesIt()
    {
        const ServiceBrowser::Endpoint endpoint {u"m1620-a1b2.local"_s, u"169.254.7.1"_s, 8080};
        QCOMPARE(DeviceDiscovery::customHostFor(endpoint, true), u"m1620-a1b2.local:8080"_s);
        QCOMPARE(DeviceDiscovery::customHostFor(endpoint, false), u"169.254.7.1:8080"_s);
        QCOMPARE(DeviceDiscovery::customHostFor({u"m.local"_s, u"169.254.7.1"_s, 80}, true), u"m.local"_s);
        QTemporaryDir dir;
        const auto nsswitch = [&dir](const QByteArray &text) {
            QFile file(dir.filePath(u"nsswitch.conf"_s));
            return file.open(QIODevice::WriteOnly) && file.write(text) && file.flush()
                && NameServiceSwitch::resolvesLocalNames(file.fileName());
        };
        QVERIFY(nsswitch("passwd: files\nhosts:  files mdns4_minimal [NOTFOUND=return] dns\n"));
        QVERIFY(!nsswitch("hosts: files dns\n# hosts: files mdns4_minimal dns\nnetworks: mdns\n"));
        QVERIFY(!NameServiceSwitch::resolvesLocalNames(dir.filePath(u"missing"_s)));
    }

    // Reports still queued reach neither a discovery that stopped inside one nor one that is gone.
    void noReportAfterTheEnd()
    {
        startAndBecomeReady();
        QPointer<FakeServiceBrowser> browser = this->browser();
        connect(m_discovery.get(), &DeviceDiscovery::discoveredHostsChanged, m_discovery.get(),
                [this] { m_discovery->stopBrowsing(); });
        browser->report({"M-1620 A"});
        browser->report({"M-1620 B"});
        settle();
        QCOMPARE(m_discovery->discoveredHosts(), QStringList {"M-1620 A.local"});
        QVERIFY(browser.isNull());

        startAndBecomeReady();
        browser = this->browser();
        browser->report({"M-1620 C"});
        browser->fail();
        m_discovery.reset();
        QVERIFY(browser.isNull()); // and with it every report still queued
        settle();
    }
};

QTEST_GUILESS_MAIN(TestDeviceDiscovery)
#include "tst_DeviceDiscovery.moc"

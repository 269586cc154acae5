#include "FakeServiceBrowser.h"
#include "discovery/DeviceDiscovery.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {
// Lets queued reports arrive.
void settle()
{
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}
} // namespace

class TestDeviceDiscovery : public QObject
{
    Q_OBJECT

private:
    // Every browser the discovery under test has asked for, newest last.
    QList<QPointer<FakeServiceBrowser>> browsers;

    std::unique_ptr<DeviceDiscovery> makeDiscovery()
    {
        browsers.clear();
        return std::make_unique<DeviceDiscovery>([this] {
            auto browser = std::make_unique<FakeServiceBrowser>();
            browsers.append(browser.get());
            return browser;
        });
    }

    // A started discovery whose browser is up.
    std::unique_ptr<DeviceDiscovery> browsingDiscovery()
    {
        auto discovery = makeDiscovery();
        discovery->startBrowsing();
        browsers.last()->becomeReady();
        settle();
        return discovery;
    }

private Q_SLOTS:
    void keywordFilter_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("hosts");
        QTest::newRow("model in capitals, spaces kept")
            << QStringList {"M-1620 Pro (Studio A)"} << QStringList {"M-1620 Pro (Studio A).local"};
        QTest::newRow("madi in capitals") << QStringList {"MADI Bridge"} << QStringList {"MADI Bridge.local"};
        QTest::newRow("rme in mixed case")
            << QStringList {"Rme-Fireface"} << QStringList {"Rme-Fireface.local"};
        QTest::newRow("model without dash")
            << QStringList {"stage-m1620"} << QStringList {"stage-m1620.local"};
        QTest::newRow("any substring counts")
            << QStringList {"Farmers Market"} << QStringList {"Farmers Market.local"};
        QTest::newRow("no keyword in any case")
            << QStringList {"Office Printer", "M 1620", "NAS", "m_1620", ""} << QStringList {};
        QTest::newRow("order kept, not sorted")
            << QStringList {"zz madi", "Printer", "aa RME"} << QStringList {"zz madi.local", "aa RME.local"};
        QTest::newRow("duplicates kept")
            << QStringList {"M1620", "M1620", "NAS"} << QStringList {"M1620.local", "M1620.local"};
    }

    void keywordFilter()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, hosts);
        QCOMPARE(DeviceDiscovery::hostsFor(names), hosts);

        auto discovery = browsingDiscovery();
        browsers.last()->report(names);
        settle();
        QCOMPARE(discovery->discoveredHosts(), hosts);
    }

    void browsingStartsWhenTheBrowserIsReady()
    {
        auto discovery = makeDiscovery();
        QSignalSpy browsingChanged(discovery.get(), &DeviceDiscovery::isBrowsingChanged);
        discovery->startBrowsing();
        QCOMPARE(browsers.size(), 1);
        QCOMPARE(browsers.last()->startCount, 1);
        QVERIFY(discovery->hasBrowser());
        settle();
        QVERIFY(!discovery->isBrowsing());
        QCOMPARE(browsingChanged.count(), 0);

        browsers.last()->becomeReady();
        QVERIFY(!discovery->isBrowsing()); // reports arrive from the event loop
        settle();
        QVERIFY(discovery->isBrowsing());
        QCOMPARE(browsingChanged.count(), 1);

        browsers.last()->becomeReady();
        settle();
        QCOMPARE(browsingChanged.count(), 1);
    }

    void twoStartsMakeOneBrowser()
    {
        auto discovery = browsingDiscovery();
        discovery->startBrowsing();
        discovery->startBrowsing();
        settle();
        QCOMPARE(browsers.size(), 1);
        QCOMPARE(browsers.last()->startCount, 1);
        QVERIFY(discovery->isBrowsing());
    }

    void hostsNotifyOnlyOnRealChange()
    {
        auto discovery = browsingDiscovery();
        QSignalSpy hostsChanged(discovery.get(), &DeviceDiscovery::discoveredHostsChanged);
        FakeServiceBrowser *browser = browsers.last();

        browser->report({"M-1620 A", "Printer"});
        settle();
        QCOMPARE(hostsChanged.count(), 1);
        browser->report({"Printer", "M-1620 A"}); // same hosts
        browser->report({"M-1620 A", "NAS"});
        settle();
        QCOMPARE(hostsChanged.count(), 1);
        browser->report({"M-1620 A", "M-1620 A"});
        settle();
        QCOMPARE(hostsChanged.count(), 2);
        browser->report({"M-1620 B", "M-1620 A"});
        settle();
        QCOMPARE(hostsChanged.count(), 3);
        QCOMPARE(discovery->discoveredHosts(), (QStringList {"M-1620 B.local", "M-1620 A.local"}));
    }

    void vanishedServicesEmptyTheList()
    {
        auto discovery = browsingDiscovery();
        browsers.last()->report({"M-1620 A", "madi-2"});
        settle();
        QCOMPARE(discovery->discoveredHosts().size(), 2);

        browsers.last()->report({"madi-2"});
        settle();
        QCOMPARE(discovery->discoveredHosts(), QStringList {"madi-2.local"});

        QSignalSpy hostsChanged(discovery.get(), &DeviceDiscovery::discoveredHostsChanged);
        browsers.last()->report({"Printer"});
        settle();
        QVERIFY(discovery->discoveredHosts().isEmpty());
        QCOMPARE(hostsChanged.count(), 1);
        browsers.last()->report({});
        settle();
        QCOMPARE(hostsChanged.count(), 1);
    }

    void stopEndsBrowsingAtOnceAndKeepsTheList()
    {
        auto discovery = browsingDiscovery();
        QPointer<FakeServiceBrowser> browser = browsers.last();
        browser->report({"M-1620 A"});
        settle();
        browser->report({"M-1620 B"}); // still queued when the stop comes

        QSignalSpy browsingChanged(discovery.get(), &DeviceDiscovery::isBrowsingChanged);
        QSignalSpy hostsChanged(discovery.get(), &DeviceDiscovery::discoveredHostsChanged);
        discovery->stopBrowsing();
        QVERIFY(!discovery->isBrowsing());
        QCOMPARE(browsingChanged.count(), 1);
        QVERIFY(!discovery->hasBrowser());
        QCOMPARE(browser->stopCount, 1);
        QCOMPARE(discovery->discoveredHosts(), QStringList {"M-1620 A.local"});

        settle();
        QVERIFY(browser.isNull());
        QCOMPARE(hostsChanged.count(), 0);
        QCOMPARE(discovery->discoveredHosts(), QStringList {"M-1620 A.local"});

        discovery->stopBrowsing();
        QCOMPARE(browsingChanged.count(), 1);
    }

    void nextStartReplacesTheKeptList()
    {
        auto discovery = browsingDiscovery();
        browsers.last()->report({"M-1620 A"});
        settle();
        discovery->stopBrowsing();

        discovery->startBrowsing();
        QCOMPARE(browsers.size(), 2);
        QCOMPARE(discovery->discoveredHosts(), QStringList {"M-1620 A.local"});
        browsers.last()->becomeReady();
        browsers.last()->report({"RME B"});
        settle();
        QVERIFY(discovery->isBrowsing());
        QCOMPARE(discovery->discoveredHosts(), QStringList {"RME B.local"});
    }

    void failureEndsBrowsingButKeepsTheBrowser()
    {
        auto discovery = browsingDiscovery();
        browsers.last()->report({"M-1620 A"});
        browsers.last()->fail();
        settle();
        QVERIFY(!discovery->isBrowsing());
        QVERIFY(discovery->hasBrowser());
        QCOMPARE(discovery->discoveredHosts(), QStringList {"M-1620 A.local"});

        discovery->startBrowsing();
        settle();
        QCOMPARE(browsers.size(), 1);
        QVERIFY(!discovery->isBrowsing());

        discovery->stopBrowsing();
        discovery->startBrowsing();
        QCOMPARE(browsers.size(), 2);
        browsers.last()->becomeReady();
        settle();
        QVERIFY(discovery->isBrowsing());
    }

    void failureBeforeReady()
    {
        auto discovery = makeDiscovery();
        QSignalSpy browsingChanged(discovery.get(), &DeviceDiscovery::isBrowsingChanged);
        discovery->startBrowsing();
        browsers.last()->fail(QStringLiteral("Daemon not running"));
        settle();
        QVERIFY(!discovery->isBrowsing());
        QCOMPARE(browsingChanged.count(), 0);
        QVERIFY(discovery->hasBrowser());
    }

    void stopFromInsideAReport()
    {
        auto discovery = browsingDiscovery();
        QPointer<FakeServiceBrowser> browser = browsers.last();
        connect(discovery.get(), &DeviceDiscovery::discoveredHostsChanged, discovery.get(),
                [&discovery] { discovery->stopBrowsing(); });
        browser->report({"M-1620 A"});
        browser->report({"M-1620 B"});
        settle();
        QCOMPARE(discovery->discoveredHosts(), QStringList {"M-1620 A.local"});
        QVERIFY(!discovery->isBrowsing());
        QVERIFY(browser.isNull());
    }

    void discardedDiscoveryIsNotCalledBack()
    {
        auto discovery = browsingDiscovery();
        QPointer<FakeServiceBrowser> browser = browsers.last();
        browser->report({"M-1620 A"});
        browser->fail();
        discovery.reset();
        QVERIFY(browser.isNull()); // and with it every report still queued
        settle();
    }
};

QTEST_GUILESS_MAIN(TestDeviceDiscovery)
#include "tst_DeviceDiscovery.moc"

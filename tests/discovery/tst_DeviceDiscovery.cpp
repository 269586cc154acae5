#include "FakeServiceBrowser.h"
#include "discovery/AvahiBrowser.h"
#include "discovery/DeviceDiscovery.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// The rules on a fake browser; the real avahi path: tst_AvahiNamespace; the tab: tests/ui.
class TestDeviceDiscovery : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QPointer<FakeServiceBrowser> m_browser; // the newest one asked for
    DeviceDiscovery::BrowserFactory fake()
    {
        return [this] {
            auto browser = std::make_unique<FakeServiceBrowser>();
            m_browser = browser.get();
            return browser;
        };
    }

    // Lets queued reports arrive and browsers that were given up go.
    static void settle()
    {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }

private Q_SLOTS:
    // Keywords in any case, names as received, in order and with duplicates.
    void keywordFilter()
    {
        DeviceDiscovery discovery(fake());
        discovery.startBrowsing();
        m_browser->becomeReady();
        m_browser->report({"M-1620 Pro (Studio A)", "Office Printer", "MADI Bridge", "M 1620", "Rme-Fireface",
                           "m_1620", "stage-m1620", "", "Farmers Market", "M1620", "M1620"});
        QVERIFY(!discovery.isBrowsing()); // reports arrive from the event loop
        settle();
        QVERIFY(discovery.isBrowsing());
        QCOMPARE(discovery.discoveredHosts(),
                 (QStringList {"M-1620 Pro (Studio A).local", "MADI Bridge.local", "Rme-Fireface.local",
                               "stage-m1620.local", "Farmers Market.local", "M1620.local", "M1620.local"}));
    }

    // One browser per start, even a failed one until stopped; observers hear of real changes
    // only; a stop is at once, keeps the list and may come from inside a report.
    void browsingStartsStopsAndFails()
    {
        DeviceDiscovery discovery(fake());
        QSignalSpy browsing(&discovery, &DeviceDiscovery::isBrowsingChanged);
        QSignalSpy hosts(&discovery, &DeviceDiscovery::discoveredHostsChanged);
        discovery.startBrowsing();
        discovery.startBrowsing();
        QPointer<FakeServiceBrowser> first = m_browser;
        QCOMPARE(first->startCount, 1);
        first->fail(u"Daemon not running"_s);
        settle();
        discovery.startBrowsing(); // the failed browser stays until stopped
        QVERIFY(m_browser == first && !discovery.isBrowsing() && browsing.isEmpty());
        discovery.stopBrowsing();
        discovery.startBrowsing();
        m_browser->becomeReady();
        for (const QStringList &names :
             {QStringList {"M-1620 A", "Printer"}, {"Printer", "M-1620 A"}, {"M-1620 A"}})
            m_browser->report(names);
        settle();
        QCOMPARE(hosts.count(), 1);
        connect(&discovery, &DeviceDiscovery::discoveredHostsChanged, &discovery,
                [&] { discovery.stopBrowsing(); });
        m_browser->report({"M-1620 B"});
        m_browser->report({"M-1620 C"}); // still queued when the stop comes
        settle();
        QCOMPARE(discovery.discoveredHosts(), QStringList {"M-1620 B.local"});
        QVERIFY(!discovery.isBrowsing() && !discovery.hasBrowser() && m_browser.isNull());
        QCOMPARE(browsing.count(), 2);
    }

    // The offered name goes back to the browser without ".local"; one answer per resolve, no
    // answer within 5 s included. Reports still queued do not reach a discovery that is gone.
    void resolvingAndTheEnd()
    {
        auto discovery = std::make_unique<DeviceDiscovery>(fake());
        discovery->startBrowsing();
        m_browser->becomeReady();
        QSignalSpy resolved(discovery.get(), &DeviceDiscovery::hostResolved);
        QSignalSpy failed(discovery.get(), &DeviceDiscovery::hostResolveFailed);
        discovery->resolveHost(u"M-1620 A.local"_s);
        discovery->resolveHost(u"M-1620 C.local"_s);
        QCOMPARE(m_browser->resolving, (QStringList {"M-1620 A", "M-1620 C"}));
        for (int i = 0; i < 2; ++i)
            m_browser->answer(u"M-1620 A"_s, {u"a.local"_s, u"169.254.1.2"_s, 80});
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 6000);
        QCOMPARE(resolved.count(), 1);
        QCOMPARE(failed.last(),
                 (QVariantList {"M-1620 C.local", "The device did not answer within 5 seconds."}));

        const QPointer<FakeServiceBrowser> browser = m_browser;
        browser->report({"M-1620 C"});
        discovery.reset();
        QVERIFY(browser.isNull()); // and with it every report still queued
        settle();
    }

    void customHostIsHostNameOnlyWhereTheSystemResolvesIt()
    {
        const ServiceBrowser::Endpoint endpoint {u"m1620-a1b2.local"_s, u"169.254.7.1"_s, 8080};
        QCOMPARE(DeviceDiscovery::customHostFor(endpoint, true), u"m1620-a1b2.local:8080"_s);
        QCOMPARE(DeviceDiscovery::customHostFor(endpoint, false), u"169.254.7.1:8080"_s);
        QCOMPARE(DeviceDiscovery::customHostFor({u"m.local"_s, u"169.254.7.1"_s, 80}, true), u"m.local"_s);
    }

    // Where no avahi-daemon can be reached, as on a desktop without avahi, the real browser fails
    // once, from the event loop (a receiver may delete it), and a stopped one says nothing.
    void avahiBrowserWithoutDaemonFailsQuietly()
    {
        // A bus that does not exist, so nothing reaches the machine's own.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + m_dir.filePath("no-bus").toUtf8());
        AvahiBrowser browser(DeviceDiscovery::serviceType), stopped(DeviceDiscovery::serviceType);
        QSignalSpy failed(&browser, &ServiceBrowser::failed);
        QSignalSpy stoppedFailed(&stopped, &ServiceBrowser::failed);
        browser.start();
        QCOMPARE(failed.count(), 0);
        QTRY_COMPARE(failed.count(), 1);
        browser.start();
        stopped.start();
        stopped.stop();
        QTest::qWait(100);
        QCOMPARE(failed.count() + stoppedFailed.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestDeviceDiscovery)
#include "tst_DeviceDiscovery.moc"

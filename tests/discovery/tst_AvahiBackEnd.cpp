#include "discovery/AvahiBrowser.h"
#include "discovery/AvahiQtPoll.h"
#include "discovery/DeviceDiscovery.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <avahi-common/timeval.h>
#include <avahi-common/watch.h>

#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <memory>

namespace {

// What avahi's callbacks saw, and what they do next.
struct Probe
{
    int calls = 0;
    int lastEvent = 0;
    std::function<void()> onCall;
};

void watchCallback(AvahiWatch *, int, AvahiWatchEvent event, void *userdata)
{
    auto *probe = static_cast<Probe *>(userdata);
    ++probe->calls;
    probe->lastEvent = event;
    if (probe->onCall)
        probe->onCall();
}

void timeoutCallback(AvahiTimeout *, void *userdata)
{
    watchCallback(nullptr, -1, AvahiWatchEvent(0), userdata);
}

timeval inMilliseconds(int ms)
{
    timeval when {};
    avahi_elapse_time(&when, unsigned(ms), 0);
    return when;
}

} // namespace

// Avahi on the Qt event loop: nothing may fire late, twice, after being freed, or into freed
// memory (the sanitizer build watches the last). And where no avahi-daemon can be reached, as on
// a desktop without avahi, browsing fails quietly.
class TestAvahiBackEnd : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    std::unique_ptr<AvahiQtPoll> m_poll;
    const AvahiPoll *m_api = nullptr;
    int m_pipe[2] {-1, -1};
    Probe m_probe;

    bool send() const { return ::write(m_pipe[1], "x", 1) == 1; }
    // Gives the event loop time to deliver anything that should not come.
    int callsAfterAWhile(int ms = 40)
    {
        QTest::qWait(ms);
        return m_probe.calls;
    }

private Q_SLOTS:
    void initTestCase()
    {
        // A bus that does not exist, so nothing reaches the machine's own. libdbus reads the
        // address once per process, so this comes before any avahi use.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + m_dir.filePath("no-bus").toUtf8());
    }

    void init()
    {
        QCOMPARE(::pipe2(m_pipe, O_NONBLOCK | O_CLOEXEC), 0);
        m_poll = std::make_unique<AvahiQtPoll>();
        m_api = m_poll->api();
        m_probe = {};
    }

    void cleanup()
    {
        m_poll.reset();
        ::close(m_pipe[0]);
        ::close(m_pipe[1]);
    }

    void watchesReportWhatWasAskedFor()
    {
        AvahiWatch *watch = m_api->watch_new(m_api, m_pipe[0], AVAHI_WATCH_IN, &watchCallback, &m_probe);
        int eventsInside = -1;
        m_probe.onCall = [&] {
            eventsInside = m_api->watch_get_events(watch);
            char buffer[64];
            while (::read(m_pipe[0], buffer, sizeof buffer) > 0) { }
        };
        QCOMPARE(callsAfterAWhile(), 0);
        QVERIFY(send());
        QTRY_COMPARE(m_probe.calls, 1);
        QCOMPARE(m_probe.lastEvent, int(AVAHI_WATCH_IN));
        QCOMPARE(eventsInside, int(AVAHI_WATCH_IN));
        QCOMPARE(int(m_api->watch_get_events(watch)), 0);
        m_api->watch_update(watch, AvahiWatchEvent(0)); // no events asked for: none delivered
        QVERIFY(send());
        QCOMPARE(callsAfterAWhile(), 1);
        m_api->watch_update(watch, AVAHI_WATCH_IN);
        QTRY_COMPARE(m_probe.calls, 2);
        m_probe.onCall = [&] { m_api->watch_free(watch); }; // freed inside its own callback
        QVERIFY(send());
        QTRY_COMPARE(m_probe.calls, 3);
        QCOMPARE(m_poll->watchCount(), 0);
        QVERIFY(send());
        QCOMPARE(callsAfterAWhile(), 3);

        // A pipe with room is writable, but only reported once asked for.
        watch = m_api->watch_new(m_api, m_pipe[1], AvahiWatchEvent(0), &watchCallback, &m_probe);
        QCOMPARE(callsAfterAWhile(), 3);
        m_probe.onCall = [&] { m_api->watch_update(watch, AvahiWatchEvent(0)); };
        m_api->watch_update(watch, AVAHI_WATCH_OUT);
        QTRY_COMPARE(m_probe.calls, 4);
        QCOMPARE(m_probe.lastEvent, int(AVAHI_WATCH_OUT));
        QCOMPARE(callsAfterAWhile(), 4);
        m_api->watch_free(watch);
    }

    void timeoutsFireOnceAndNotBeforeTheirMoment()
    {
        const timeval when = inMilliseconds(60);
        timeval firedAt {};
        m_probe.onCall = [&] { gettimeofday(&firedAt, nullptr); };
        AvahiTimeout *timeout = m_api->timeout_new(m_api, &when, &timeoutCallback, &m_probe);
        AvahiTimeout *idle = m_api->timeout_new(m_api, nullptr, &timeoutCallback, &m_probe);
        const timeval soon = inMilliseconds(10);
        AvahiTimeout *cancelled = m_api->timeout_new(m_api, &soon, &timeoutCallback, &m_probe);
        m_api->timeout_update(cancelled, nullptr);
        QTRY_COMPARE(m_probe.calls, 1);
        QVERIFY(avahi_timeval_compare(&firedAt, &when) >= 0);
        QCOMPARE(callsAfterAWhile(100), 1); // disabled once it fired
        for (AvahiTimeout *t : {timeout, idle, cancelled})
            m_api->timeout_free(t);
        QCOMPARE(m_poll->timeoutCount(), 0);

        // One in the past fires at once; rearmed twice and then freed from its own callback.
        timeval past {};
        gettimeofday(&past, nullptr);
        past.tv_sec -= 10;
        timeout = m_api->timeout_new(m_api, &past, &timeoutCallback, &m_probe);
        m_probe.onCall = [&] {
            const timeval next = inMilliseconds(5);
            if (m_probe.calls < 4)
                m_api->timeout_update(timeout, &next);
            else
                m_api->timeout_free(timeout);
        };
        QTRY_COMPARE(m_probe.calls, 4);
        QCOMPARE(m_poll->timeoutCount(), 0);
        QCOMPARE(callsAfterAWhile(), 4);
    }

    // What avahi leaves behind is reclaimed and never fires after the adapter has gone.
    void destroyedPollReclaimsWhatIsLeft()
    {
        m_api->watch_new(m_api, m_pipe[0], AVAHI_WATCH_IN, &watchCallback, &m_probe);
        const timeval soon = inMilliseconds(5);
        m_api->timeout_new(m_api, &soon, &timeoutCallback, &m_probe);
        m_poll.reset();
        QVERIFY(send());
        QCOMPARE(callsAfterAWhile(), 0);
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
};

QTEST_GUILESS_MAIN(TestAvahiBackEnd)
#include "tst_AvahiBackEnd.moc"

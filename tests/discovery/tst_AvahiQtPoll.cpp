#include "discovery/AvahiQtPoll.h"

#include <QTest>

#include <avahi-common/timeval.h>
#include <avahi-common/watch.h>

#include <fcntl.h>
#include <unistd.h>

#include <functional>

namespace {

// A pipe closed on scope exit.
struct Pipe
{
    Pipe()
    {
        if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0)
            fds[0] = fds[1] = -1;
    }
    ~Pipe()
    {
        for (int fd : fds) {
            if (fd >= 0)
                ::close(fd);
        }
    }
    bool send() const { return ::write(fds[1], "x", 1) == 1; }
    void drain() const
    {
        char buffer[64];
        while (::read(fds[0], buffer, sizeof buffer) > 0) { }
    }
    int fds[2] {-1, -1};
};

// What a callback saw, and what it should do next.
struct Probe
{
    int calls = 0;
    int lastEvent = 0;
    int eventsInside = -1;
    std::function<void()> onCall;
};

void watchCallback(AvahiWatch *watch, int, AvahiWatchEvent event, void *userdata)
{
    auto *probe = static_cast<Probe *>(userdata);
    ++probe->calls;
    probe->lastEvent = event;
    (void)watch;
    if (probe->onCall)
        probe->onCall();
}

void timeoutCallback(AvahiTimeout *, void *userdata)
{
    auto *probe = static_cast<Probe *>(userdata);
    ++probe->calls;
    if (probe->onCall)
        probe->onCall();
}

timeval inMilliseconds(int ms)
{
    timeval when {};
    avahi_elapse_time(&when, static_cast<unsigned>(ms), 0);
    return when;
}

} // namespace

class TestAvahiQtPoll : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readableDescriptorCallsBack()
    {
        AvahiQtPoll poll;
        const AvahiPoll *api = poll.api();
        Pipe pipe;
        Probe probe;
        AvahiWatch *watch = api->watch_new(api, pipe.fds[0], AVAHI_WATCH_IN, &watchCallback, &probe);
        probe.onCall = [&] {
            probe.eventsInside = api->watch_get_events(watch);
            pipe.drain();
        };
        QCOMPARE(poll.watchCount(), 1);
        QTest::qWait(20);
        QCOMPARE(probe.calls, 0);

        QVERIFY(pipe.send());
        QTRY_COMPARE(probe.calls, 1);
        QCOMPARE(probe.lastEvent, int(AVAHI_WATCH_IN));
        QCOMPARE(probe.eventsInside, int(AVAHI_WATCH_IN));
        QCOMPARE(int(api->watch_get_events(watch)), 0);

        api->watch_free(watch);
        QCOMPARE(poll.watchCount(), 0);
        QVERIFY(pipe.send());
        QTest::qWait(20);
        QCOMPARE(probe.calls, 1);
    }

    void updateChoosesTheEvents()
    {
        AvahiQtPoll poll;
        const AvahiPoll *api = poll.api();
        Pipe pipe;
        Probe probe;
        AvahiWatch *watch = api->watch_new(api, pipe.fds[1], AvahiWatchEvent(0), &watchCallback, &probe);
        QTest::qWait(20);
        QCOMPARE(probe.calls, 0);

        // A pipe with room is writable at once; without a request nothing comes.
        probe.onCall = [&] { api->watch_update(watch, AvahiWatchEvent(0)); };
        api->watch_update(watch, AVAHI_WATCH_OUT);
        QTRY_COMPARE(probe.calls, 1);
        QCOMPARE(probe.lastEvent, int(AVAHI_WATCH_OUT));
        QTest::qWait(20);
        QCOMPARE(probe.calls, 1);
        api->watch_free(watch);
    }

    void watchFreedInsideItsOwnCallback()
    {
        AvahiQtPoll poll;
        const AvahiPoll *api = poll.api();
        Pipe pipe;
        Probe probe;
        AvahiWatch *watch = api->watch_new(api, pipe.fds[0], AVAHI_WATCH_IN, &watchCallback, &probe);
        probe.onCall = [&] { api->watch_free(watch); };
        QVERIFY(pipe.send());
        QTRY_COMPARE(probe.calls, 1);
        QCOMPARE(poll.watchCount(), 0);
        QVERIFY(pipe.send());
        QTest::qWait(20);
        QCOMPARE(probe.calls, 1);
    }

    void timeoutFiresOnceAndNotBeforeItsMoment()
    {
        AvahiQtPoll poll;
        const AvahiPoll *api = poll.api();
        Probe probe;
        const timeval when = inMilliseconds(60);
        timeval firedAt {};
        probe.onCall = [&] { gettimeofday(&firedAt, nullptr); };
        AvahiTimeout *timeout = api->timeout_new(api, &when, &timeoutCallback, &probe);
        QCOMPARE(poll.timeoutCount(), 1);
        QTRY_COMPARE(probe.calls, 1);
        QVERIFY(avahi_timeval_compare(&firedAt, &when) >= 0);
        QTest::qWait(100);
        QCOMPARE(probe.calls, 1); // disabled after it fired
        api->timeout_free(timeout);
        QCOMPARE(poll.timeoutCount(), 0);
    }

    void timeoutInThePastFiresSoon()
    {
        AvahiQtPoll poll;
        const AvahiPoll *api = poll.api();
        Probe probe;
        timeval past {};
        gettimeofday(&past, nullptr);
        past.tv_sec -= 10;
        AvahiTimeout *timeout = api->timeout_new(api, &past, &timeoutCallback, &probe);
        QTRY_COMPARE(probe.calls, 1);
        api->timeout_free(timeout);
    }

    void disabledTimeoutNeverFires()
    {
        AvahiQtPoll poll;
        const AvahiPoll *api = poll.api();
        Probe probe;
        AvahiTimeout *idle = api->timeout_new(api, nullptr, &timeoutCallback, &probe);
        const timeval soon = inMilliseconds(10);
        AvahiTimeout *cancelled = api->timeout_new(api, &soon, &timeoutCallback, &probe);
        api->timeout_update(cancelled, nullptr);
        QTest::qWait(60);
        QCOMPARE(probe.calls, 0);
        api->timeout_free(idle);
        api->timeout_free(cancelled);
    }

    void timeoutRearmedAndFreedFromItsCallback()
    {
        AvahiQtPoll poll;
        const AvahiPoll *api = poll.api();
        Probe probe;
        const timeval now = inMilliseconds(0);
        AvahiTimeout *timeout = api->timeout_new(api, &now, &timeoutCallback, &probe);
        probe.onCall = [&] {
            if (probe.calls < 3) {
                const timeval next = inMilliseconds(5);
                api->timeout_update(timeout, &next);
            } else {
                api->timeout_free(timeout);
            }
        };
        QTRY_COMPARE(probe.calls, 3);
        QCOMPARE(poll.timeoutCount(), 0);
        QTest::qWait(30);
        QCOMPARE(probe.calls, 3);
    }

    // What avahi leaves behind is reclaimed and never fires after the adapter has gone.
    void destroyedPollReclaimsWhatIsLeft()
    {
        Pipe pipe;
        Probe probe;
        {
            AvahiQtPoll poll;
            const AvahiPoll *api = poll.api();
            api->watch_new(api, pipe.fds[0], AVAHI_WATCH_IN, &watchCallback, &probe);
            const timeval soon = inMilliseconds(5);
            api->timeout_new(api, &soon, &timeoutCallback, &probe);
        }
        QVERIFY(pipe.send());
        QTest::qWait(40);
        QCOMPARE(probe.calls, 0);
    }
};

QTEST_GUILESS_MAIN(TestAvahiQtPoll)
#include "tst_AvahiQtPoll.moc"

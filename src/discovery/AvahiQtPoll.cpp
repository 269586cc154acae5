#include "discovery/AvahiQtPoll.h"

#include <QSocketNotifier>
#include <QTimer>

#include <avahi-common/watch.h>

#include <sys/time.h>

#include <algorithm>
#include <climits>
#include <unordered_set>

// avahi declares these types opaque and leaves their contents to each main-loop adapter.
struct AvahiWatch
{
    AvahiQtPoll *poll = nullptr;
    int fd = -1;
    AvahiWatchCallback callback = nullptr;
    void *userdata = nullptr;
    QSocketNotifier *readNotifier = nullptr;
    QSocketNotifier *writeNotifier = nullptr;
    int happened = 0;
    // avahi may free a watch from inside its own callback; the struct then lives until the
    // callback has returned.
    bool dispatching = false;
    bool freed = false;
};

struct AvahiTimeout
{
    AvahiQtPoll *poll = nullptr;
    AvahiTimeoutCallback callback = nullptr;
    void *userdata = nullptr;
    QTimer *timer = nullptr;
    bool dispatching = false;
    bool freed = false;
};

struct AvahiQtPoll::Registry
{
    std::unordered_set<AvahiWatch *> watches;
    std::unordered_set<AvahiTimeout *> timeouts;
};

namespace {

// Milliseconds until the absolute wall-clock moment avahi asks for, rounded up so that the
// time-out never fires before it.
int millisecondsUntil(const timeval &when)
{
    timeval now {};
    gettimeofday(&now, nullptr);
    const long long micros = (static_cast<long long>(when.tv_sec) - now.tv_sec) * 1000000LL
        + (static_cast<long long>(when.tv_usec) - now.tv_usec);
    if (micros <= 0)
        return 0;
    return static_cast<int>(std::min<long long>((micros + 999) / 1000, INT_MAX));
}

// Detaches a Qt object that may be the sender of the signal now being delivered.
void retire(QObject *object)
{
    if (!object)
        return;
    QObject::disconnect(object, nullptr, nullptr, nullptr);
    object->deleteLater();
}

} // namespace

struct AvahiQtPoll::Hooks
{
    static AvahiQtPoll *owner(const AvahiPoll *api) { return static_cast<AvahiQtPoll *>(api->userdata); }

    static AvahiWatch *watchNew(const AvahiPoll *api, int fd, AvahiWatchEvent events,
                                AvahiWatchCallback callback, void *userdata)
    {
        AvahiQtPoll *poll = owner(api);
        auto *watch = new AvahiWatch;
        watch->poll = poll;
        watch->fd = fd;
        watch->callback = callback;
        watch->userdata = userdata;
        watch->readNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, poll);
        watch->writeNotifier = new QSocketNotifier(fd, QSocketNotifier::Write, poll);
        // A hang-up or error wakes the read notifier; the reader then sees end of file.
        QObject::connect(watch->readNotifier, &QSocketNotifier::activated, poll,
                         [watch] { dispatch(watch, AVAHI_WATCH_IN); });
        QObject::connect(watch->writeNotifier, &QSocketNotifier::activated, poll,
                         [watch] { dispatch(watch, AVAHI_WATCH_OUT); });
        watchUpdate(watch, events);
        poll->m_registry->watches.insert(watch);
        return watch;
    }

    static void dispatch(AvahiWatch *watch, int event)
    {
        watch->happened = event;
        watch->dispatching = true;
        watch->callback(watch, watch->fd, static_cast<AvahiWatchEvent>(event), watch->userdata);
        watch->dispatching = false;
        if (watch->freed)
            delete watch;
        else
            watch->happened = 0;
    }

    static void watchUpdate(AvahiWatch *watch, AvahiWatchEvent events)
    {
        watch->readNotifier->setEnabled((events & AVAHI_WATCH_IN) != 0);
        watch->writeNotifier->setEnabled((events & AVAHI_WATCH_OUT) != 0);
    }

    static AvahiWatchEvent watchGetEvents(AvahiWatch *watch)
    {
        return static_cast<AvahiWatchEvent>(watch->happened);
    }

    static void watchFree(AvahiWatch *watch)
    {
        watch->poll->m_registry->watches.erase(watch);
        discardWatch(watch);
    }

    static void discardWatch(AvahiWatch *watch)
    {
        watch->readNotifier->setEnabled(false);
        watch->writeNotifier->setEnabled(false);
        retire(watch->readNotifier);
        retire(watch->writeNotifier);
        if (watch->dispatching)
            watch->freed = true;
        else
            delete watch;
    }

    static AvahiTimeout *timeoutNew(const AvahiPoll *api, const timeval *when, AvahiTimeoutCallback callback,
                                    void *userdata)
    {
        AvahiQtPoll *poll = owner(api);
        auto *timeout = new AvahiTimeout;
        timeout->poll = poll;
        timeout->callback = callback;
        timeout->userdata = userdata;
        timeout->timer = new QTimer(poll);
        timeout->timer->setSingleShot(true);
        timeout->timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timeout->timer, &QTimer::timeout, poll, [timeout] { fire(timeout); });
        timeoutUpdate(timeout, when);
        poll->m_registry->timeouts.insert(timeout);
        return timeout;
    }

    // The timer is single-shot, so the time-out is disabled when its callback runs, as avahi
    // expects; the callback may arm it again.
    static void fire(AvahiTimeout *timeout)
    {
        timeout->dispatching = true;
        timeout->callback(timeout, timeout->userdata);
        timeout->dispatching = false;
        if (timeout->freed)
            delete timeout;
    }

    static void timeoutUpdate(AvahiTimeout *timeout, const timeval *when)
    {
        if (when)
            timeout->timer->start(millisecondsUntil(*when));
        else
            timeout->timer->stop();
    }

    static void timeoutFree(AvahiTimeout *timeout)
    {
        timeout->poll->m_registry->timeouts.erase(timeout);
        discardTimeout(timeout);
    }

    static void discardTimeout(AvahiTimeout *timeout)
    {
        timeout->timer->stop();
        retire(timeout->timer);
        if (timeout->dispatching)
            timeout->freed = true;
        else
            delete timeout;
    }
};

AvahiQtPoll::AvahiQtPoll(QObject *parent)
    : QObject(parent)
    , m_api(std::make_unique<AvahiPoll>())
    , m_registry(std::make_unique<Registry>())
{
    m_api->userdata = this;
    m_api->watch_new = &Hooks::watchNew;
    m_api->watch_update = &Hooks::watchUpdate;
    m_api->watch_get_events = &Hooks::watchGetEvents;
    m_api->watch_free = &Hooks::watchFree;
    m_api->timeout_new = &Hooks::timeoutNew;
    m_api->timeout_update = &Hooks::timeoutUpdate;
    m_api->timeout_free = &Hooks::timeoutFree;
}

AvahiQtPoll::~AvahiQtPoll()
{
    for (AvahiWatch *watch : m_registry->watches)
        Hooks::discardWatch(watch);
    for (AvahiTimeout *timeout : m_registry->timeouts)
        Hooks::discardTimeout(timeout);
}

int AvahiQtPoll::watchCount() const
{
    return static_cast<int>(m_registry->watches.size());
}

int AvahiQtPoll::timeoutCount() const
{
    return static_cast<int>(m_registry->timeouts.size());
}

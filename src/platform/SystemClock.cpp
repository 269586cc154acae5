#include "platform/SystemClock.h"

#include <QHash>
#include <QObject>
#include <QTimerEvent>

// One object's own timers rather than a QTimer per wait: nothing to allocate or to delete
// later, so a poll's wait costs no extra wake-up of the event loop.
class SystemClock::Timers : public QObject
{
public:
    QHash<int, std::coroutine_handle<>> waits;

protected:
    void timerEvent(QTimerEvent *event) override
    {
        killTimer(event->timerId());
        if (const std::coroutine_handle<> waiting = waits.take(event->timerId()))
            waiting.resume();
    }
};

struct SystemClock::Wait
{
    SystemClock *clock;
    std::chrono::milliseconds duration;

    bool await_ready() const noexcept { return false; }
    bool await_suspend(std::coroutine_handle<> handle)
    {
        const int id = clock->m_timers->startTimer(duration, Qt::PreciseTimer);
        if (id == 0)
            return false; // no timer to be had: go on at once rather than wait for ever
        clock->m_timers->waits.insert(id, handle);
        return true;
    }
    void await_resume() const noexcept { }
};

SystemClock::SystemClock()
    : m_timers(std::make_unique<Timers>())
{ }

SystemClock::~SystemClock()
{
    const auto waits = std::exchange(m_timers->waits, {});
    for (auto it = waits.begin(); it != waits.end(); ++it) {
        m_timers->killTimer(it.key());
        it.value().resume();
    }
}

std::chrono::steady_clock::time_point SystemClock::monotonicNow() const
{
    return std::chrono::steady_clock::now();
}

QDateTime SystemClock::wallNow() const
{
    return QDateTime::currentDateTime();
}

QCoro::Task<> SystemClock::sleep(std::chrono::milliseconds duration)
{
    co_await Wait {this, duration};
}

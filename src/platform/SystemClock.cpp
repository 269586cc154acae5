#include "platform/SystemClock.h"

#include <QTimer>

struct SystemClock::Wait
{
    SystemClock *clock;
    std::chrono::milliseconds duration;

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle)
    {
        auto *timer = new QTimer;
        timer->setTimerType(Qt::PreciseTimer);
        timer->setSingleShot(true);
        clock->m_waits.insert(timer, handle);
        SystemClock *const owner = clock;
        QObject::connect(timer, &QTimer::timeout, timer, [owner, timer] {
            const std::coroutine_handle<> waiting = owner->m_waits.take(timer);
            timer->deleteLater();
            waiting.resume();
        });
        timer->start(duration);
    }
    void await_resume() const noexcept { }
};

SystemClock::SystemClock() = default;

SystemClock::~SystemClock()
{
    const auto waits = std::exchange(m_waits, {});
    for (auto it = waits.begin(); it != waits.end(); ++it) {
        delete it.key();
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

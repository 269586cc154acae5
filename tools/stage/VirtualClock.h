#pragma once

#include "platform/Clock.h"

#include <QList>

#include <coroutine>
#include <vector>

// A clock that stands still until the test moves it, so waits of seconds pass in
// microseconds. Sleepers are resumed in deadline order as time is advanced over them.
class VirtualClock final : public Clock
{
public:
    using milliseconds = std::chrono::milliseconds;

    VirtualClock();
    ~VirtualClock() override; // resumes whoever still sleeps, so no coroutine is left hanging

    std::chrono::steady_clock::time_point monotonicNow() const override;
    QDateTime wallNow() const override;
    QCoro::Task<> sleep(milliseconds duration) override;

    // Moves time forward, resuming every sleeper whose deadline is reached on the way.
    void advance(milliseconds by);
    // Moves time to the earliest deadline among sleepers of at most maxDuration and resumes
    // them. False when no such sleeper waits.
    bool advanceToNextWake(milliseconds maxDuration = milliseconds::max());
    // Sleepers of at most maxDuration that are waiting now.
    int sleepersUpTo(milliseconds maxDuration) const;
    // Every sleep ever asked for, in order.
    QList<milliseconds> requestedSleeps() const { return m_requested; }
    // Jumps the wall clock without touching monotonic time.
    void jumpWallClock(milliseconds by) { m_wallOffset += by; }

private:
    struct Sleeper
    {
        milliseconds deadline;
        milliseconds duration;
        std::coroutine_handle<> handle;
    };
    struct SleepAwaiter;

    void resumeDue();

    const std::chrono::steady_clock::time_point m_origin;
    const QDateTime m_wallOrigin;
    milliseconds m_elapsed {0};
    milliseconds m_wallOffset {0};
    std::vector<Sleeper> m_sleepers;
    QList<milliseconds> m_requested;
};

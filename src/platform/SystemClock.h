#pragma once

#include "platform/Clock.h"

#include <coroutine>
#include <memory>

// The real clocks. Waits use precise timers: a coarse timer may fire up to 5 % early.
class SystemClock final : public Clock
{
public:
    SystemClock();
    // Wakes whoever still waits, so no waiting coroutine outlives the clock. Its owner must
    // already be gone (or be ending) by then.
    ~SystemClock() override;

    std::chrono::steady_clock::time_point monotonicNow() const override;
    QDateTime wallNow() const override;
    QCoro::Task<> sleep(std::chrono::milliseconds duration) override;

private:
    struct Wait;
    class Timers;

    std::unique_ptr<Timers> m_timers;
};

#pragma once

#include "platform/Clock.h"

// The real clocks. Waits use precise timers: a coarse timer may fire up to 5 % early.
class SystemClock final : public Clock
{
public:
    std::chrono::steady_clock::time_point monotonicNow() const override;
    QDateTime wallNow() const override;
    QCoro::Task<> sleep(std::chrono::milliseconds duration) override;
};

#pragma once

#include <QDateTime>

#include <chrono>
#include <qcoro/qcorotask.h>

// Time as the engine sees it: a monotonic clock for durations, the wall clock for stamps,
// and waits that never end early. Tests replace it with one that advances on command.
class Clock
{
public:
    virtual ~Clock() = default;

    virtual std::chrono::steady_clock::time_point monotonicNow() const = 0;
    virtual QDateTime wallNow() const = 0;
    virtual QCoro::Task<> sleep(std::chrono::milliseconds duration) = 0;
};

#include "platform/SystemClock.h"

#include <QTimer>

#include <qcoro/qcorotimer.h>

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
    // The timer lives in this frame, so the wait ends even if whoever awaits it is gone.
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    timer.start(duration);
    co_await timer;
}

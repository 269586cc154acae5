#include "VirtualClock.h"

#include <algorithm>

struct VirtualClock::SleepAwaiter
{
    VirtualClock *clock;
    milliseconds duration;

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle)
    {
        clock->m_sleepers.push_back({clock->m_elapsed + duration, duration, handle});
    }
    void await_resume() const noexcept { }
};

VirtualClock::VirtualClock()
    : m_origin(std::chrono::steady_clock::now())
    , m_wallOrigin(QDateTime::currentDateTime())
{ }

VirtualClock::~VirtualClock()
{
    // Whoever still sleeps is woken; the engine's guards then end its loops.
    while (!m_sleepers.empty()) {
        const auto handle = m_sleepers.front().handle;
        m_sleepers.erase(m_sleepers.begin());
        handle.resume();
    }
}

std::chrono::steady_clock::time_point VirtualClock::monotonicNow() const
{
    return m_origin + m_elapsed;
}

QDateTime VirtualClock::wallNow() const
{
    return m_wallOrigin.addMSecs((m_elapsed + m_wallOffset).count());
}

QCoro::Task<> VirtualClock::sleep(milliseconds duration)
{
    m_requested.append(duration);
    co_await SleepAwaiter {this, duration};
}

void VirtualClock::advance(milliseconds by)
{
    const milliseconds target = m_elapsed + by;
    for (;;) {
        auto next
            = std::min_element(m_sleepers.begin(), m_sleepers.end(),
                               [](const Sleeper &a, const Sleeper &b) { return a.deadline < b.deadline; });
        if (next == m_sleepers.end() || next->deadline > target)
            break;
        m_elapsed = std::max(m_elapsed, next->deadline);
        resumeDue();
    }
    m_elapsed = target;
}

bool VirtualClock::advanceToNextWake(milliseconds maxDuration)
{
    auto next = m_sleepers.end();
    for (auto it = m_sleepers.begin(); it != m_sleepers.end(); ++it)
        if (it->duration <= maxDuration && (next == m_sleepers.end() || it->deadline < next->deadline))
            next = it;
    if (next == m_sleepers.end())
        return false;
    advance(std::max(milliseconds {0}, next->deadline - m_elapsed));
    return true;
}

int VirtualClock::sleepersUpTo(milliseconds maxDuration) const
{
    return int(std::count_if(m_sleepers.begin(), m_sleepers.end(),
                             [&](const Sleeper &s) { return s.duration <= maxDuration; }));
}

void VirtualClock::resumeDue()
{
    // Resuming may add sleepers, so take the due ones out first.
    std::vector<std::coroutine_handle<>> due;
    for (auto it = m_sleepers.begin(); it != m_sleepers.end();) {
        if (it->deadline <= m_elapsed) {
            due.push_back(it->handle);
            it = m_sleepers.erase(it);
        } else {
            ++it;
        }
    }
    for (auto handle : due)
        handle.resume();
}

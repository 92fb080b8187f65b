#include "schedule/SimulatedWaitClock.h"

#include <QCoreApplication>

#include <cmath>

namespace schedule
{

namespace
{
constexpr qint64 kMsPerDay = 86400000;
}

SimulatedWaitClock::SimulatedWaitClock(qint64 tick, rt::Date localNow)
    : m_tick(tick), m_wallMs(qint64(std::llround(localNow * double(kMsPerDay))))
{
}

quint32 SimulatedWaitClock::TickCount()
{
    return quint32(m_tick);
}

int SimulatedWaitClock::LocalSecondOfMinute()
{
    return int((m_wallMs / 1000) % 60);
}

double SimulatedWaitClock::SecondsSinceMidnight()
{
    return double(m_wallMs % kMsPerDay) / 1000.0;
}

rt::Date SimulatedWaitClock::Now()
{
    return double(m_wallMs) / double(kMsPerDay);
}

void SimulatedWaitClock::Advance(qint64 ms)
{
    m_tick += ms;
    m_wallMs += ms;
}

void SimulatedWaitClock::RunEvents(qint64 ms)
{
    QCoreApplication::processEvents();
    const qint64 target = m_tick + std::max<qint64>(ms, 0);
    // One planned action per call: the waiting code looks at the world again after it.
    auto next = m_actions.begin();
    if (next != m_actions.end() && next->first <= target) {
        if (next->first > m_tick)
            Advance(next->first - m_tick);
        auto action = std::move(next->second);
        m_actions.erase(next);
        action();
        return;
    }
    Advance(target - m_tick);
}

// RunEvents already returns after each planned action, so the waiting code
// sees an interrupt set by it at once.
void SimulatedWaitClock::Wake() {}

void SimulatedWaitClock::Block(qint64 ms)
{
    m_blockedMs += ms;
    Advance(ms);
}

void SimulatedWaitClock::At(qint64 tick, std::function<void()> action)
{
    m_actions.emplace(tick, std::move(action));
}

} // namespace schedule

#pragma once
// A wait clock whose time moves only when a wait lets it: RunEvents and Block
// jump straight to their end (or to the next planned action), after running
// the real event loop's pending events once. Actions planned at tick times
// stand in for what happens "during" a wait: an interrupt, a clock jump.

#include "schedule/WaitClock.h"

#include <functional>
#include <map>

namespace schedule
{

class SimulatedWaitClock : public WaitClock
{
public:
    // Starts at the given tick and local wall time (ms since local midnight of day 'date').
    SimulatedWaitClock(qint64 tick, rt::Date localNow);

    quint32 TickCount() override;
    int LocalSecondOfMinute() override;
    double SecondsSinceMidnight() override;
    rt::Date Now() override;
    void RunEvents(qint64 ms) override;
    void Wake() override;
    void Block(qint64 ms) override;

    // Runs action when the tick reaches 'tick' during a wait.
    void At(qint64 tick, std::function<void()> action);
    // Moves the tick counter alone (a wrap or a restart); the wall clock stays.
    void SetTick(qint64 tick) { m_tick = tick; }
    qint64 Tick() const { return m_tick; }
    // Total time spent in Block, in ms.
    qint64 BlockedMs() const { return m_blockedMs; }

private:
    void Advance(qint64 ms);

    qint64 m_tick;
    qint64 m_wallMs; // local time, ms since 1899-12-30
    qint64 m_blockedMs = 0;
    std::multimap<qint64, std::function<void()>> m_actions;
};

} // namespace schedule

#pragma once
// What a wait needs from the machine: the millisecond tick counter, the local
// wall clock, a way to let events run for a while, and a plain block.
//
// The real clock lets events run in a nested event loop that a single-shot
// timer or Wake() ends, so a waiting agent sleeps in the kernel and an
// interrupt ends the wait at once. Tests put a simulated clock in its place so
// that minute alignment, clock jumps and the close rounds of the listener run
// in no real time.

#include "runtime/DateTime.h"

#include <QtGlobal>

#include <vector>

class QEventLoop;

namespace schedule
{

class WaitClock
{
public:
    virtual ~WaitClock() = default;

    // Milliseconds since the system started; wraps at 2^32.
    virtual quint32 TickCount() = 0;
    // Seconds field (0-59) of the local time.
    virtual int LocalSecondOfMinute() = 0;
    // Seconds since local midnight, with the fraction.
    virtual double SecondsSinceMidnight() = 0;
    // Local date and time.
    virtual rt::Date Now() = 0;

    // Lets events run for up to ms milliseconds of tick time; returns earlier
    // when Wake() is called. ms <= 0 runs the pending events once.
    virtual void RunEvents(qint64 ms) = 0;
    // Ends every RunEvents in progress.
    virtual void Wake() = 0;
    // Blocks the thread; no events run.
    virtual void Block(qint64 ms) = 0;
};

// The machine's clock and the Qt event loop.
class RealWaitClock : public WaitClock
{
public:
    quint32 TickCount() override;
    int LocalSecondOfMinute() override;
    double SecondsSinceMidnight() override;
    rt::Date Now() override;
    void RunEvents(qint64 ms) override;
    void Wake() override;
    void Block(qint64 ms) override;

private:
    std::vector<QEventLoop*> m_loops; // the RunEvents in progress, innermost last
};

// The clock every wait uses: the real one unless a test has put another in place.
WaitClock& Waits();
// Tests replace the clock; nullptr goes back to the real one.
void SetWaitClockForTesting(WaitClock* clock);

} // namespace schedule

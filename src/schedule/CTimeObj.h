#pragma once
// The timer object: interruptible waits that keep events flowing, with the
// second and minute callbacks that pace the main service loop.
//
// Results are the seconds left when a wait was interrupted, else 0. A wait
// ends early with 0 when its clock steps backwards (tick counter wrap, or
// midnight for SleepTimer), after a one-second block.

#include "runtime/DateTime.h"
#include "schedule/TimeObjCallback.h"

#include <QtGlobal>

namespace schedule
{

class WaitClock;

class CTimeObj
{
public:
    // clock nullptr: the process's wait clock (Waits()).
    explicit CTimeObj(WaitClock* clock = nullptr);

    // Waits until a local date and time.
    qint32 SetAlarm(rt::Date alarm, TimeObjCallback* callback);
    // Whole seconds left in the running wait, as last recorded.
    qint32 TimeRemaining();
    // Waits on the seconds-since-midnight clock.
    qint32 SleepTimer(qint32 seconds);
    bool InterruptFlag() const { return m_interruptFlag; }
    // Setting it ends the running wait at once.
    void setInterruptFlag(bool value);
    // Waits on the tick counter, seconds resolution.
    qint32 SleepTick(qint32 seconds);
    // The paced wait; callback may be nullptr.
    qint32 Sleep(double seconds, TimeObjCallback* callback);
    bool bUpdateRemaining() const { return m_updateRemaining; }
    void setbUpdateRemaining(bool value) { m_updateRemaining = value; }
    // Blocks the thread for whole seconds; no events run.
    void PauseSec(qint16 seconds);

    qint32 nRemainingSec() const { return m_remainingSec; }

private:
    WaitClock& Clock() const;
    qint32 WaitOnSeconds(double (CTimeObj::*now)() const, double wrapsAt, qint32 seconds,
                         const QString& interruptText);
    double LocalSeconds() const;
    double TickSeconds() const;

    WaitClock* m_clock;
    bool m_interruptFlag = false;
    bool m_updateRemaining = false;
    qint32 m_remainingSec = 0;
    bool m_lastWaitInterrupted = false;

    // Shared by every paced wait, the alignment wait included.
    static double s_lastMinuteTick;
    static bool s_firstMinute;
};

// The one shared timer object, created on first use.
CTimeObj& TimerObj();

} // namespace schedule

#include "schedule/CTimeObj.h"

#include "logging/DebugLog.h"
#include "runtime/Numbers.h"
#include "runtime/TextFormat.h"
#include "schedule/WaitClock.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace schedule
{

double CTimeObj::s_lastMinuteTick = 0;
bool CTimeObj::s_firstMinute = false;

namespace
{

constexpr double kMinuteMs = 60000;
// Where the clocks step back to 0: the 32-bit tick counter and the local midnight.
constexpr double kTickWrapMs = 4294967296.0;
constexpr double kDaySeconds = 86400;

qint32 RoundSeconds(double seconds)
{
    return qint32(rt::RoundHalfEven(seconds));
}

qint64 MsUntil(double from, double to)
{
    return qint64(std::ceil(to - from));
}

} // namespace

CTimeObj::CTimeObj(WaitClock* clock) : m_clock(clock) {}

WaitClock& CTimeObj::Clock() const
{
    return m_clock ? *m_clock : Waits();
}

void CTimeObj::setInterruptFlag(bool value)
{
    m_interruptFlag = value;
    if (value)
        Clock().Wake();
}

qint32 CTimeObj::Sleep(double seconds, TimeObjCallback* callback)
{
    WaitClock& clock = Clock();
    const double start = clock.TickCount();
    const double end = start + seconds * 1000;
    m_interruptFlag = false;
    m_updateRemaining = false;
    m_lastWaitInterrupted = false;
    s_lastMinuteTick = clock.TickCount();
    s_firstMinute = true;
    // NewSecond falls on whole seconds since the last minute mark, the first at once.
    double nextSecond = s_lastMinuteTick;

    for (;;) {
        const double now = clock.TickCount();
        if (now >= end)
            break;
        if (now < start) {
            NCL_TRACE(QStringLiteral("------->WINDOWS RESET!!!!!  Exiting loop!"));
            clock.Block(1000);
            break;
        }
        if (m_interruptFlag) {
            NCL_TRACE(QStringLiteral("Interrupting sleep at ") +
                      rt::NumberText((end - now) / 1000));
            m_interruptFlag = false;
            m_lastWaitInterrupted = true;
            return RoundSeconds((end - now) / 1000);
        }
        if (m_updateRemaining) {
            m_remainingSec = RoundSeconds((end - now) / 1000);
            m_updateRemaining = false;
        }
        const double elapsed = now - s_lastMinuteTick;
        if (elapsed < kMinuteMs) {
            if (callback && now >= nextSecond) {
                callback->NewSecond();
                nextSecond = s_lastMinuteTick + (std::floor(elapsed / 1000) + 1) * 1000;
            }
            // Sleep until the next thing this wait has to do.
            double wakeAt = std::min({end, s_lastMinuteTick + kMinuteMs, kTickWrapMs});
            if (callback)
                wakeAt = std::min(wakeAt, nextSecond);
            clock.RunEvents(MsUntil(now, wakeAt));
            continue;
        }
        if (s_firstMinute) {
            m_remainingSec = RoundSeconds((end - now) / 1000);
            if (callback)
                callback->NewMinute();
            // Wait for the next wall-clock minute so later minute callbacks fall on it.
            Sleep(60 - clock.LocalSecondOfMinute(), callback);
            s_firstMinute = false;
            if (m_lastWaitInterrupted) {
                const double at = clock.TickCount();
                return RoundSeconds((end - at) / 1000);
            }
        }
        const double at = clock.TickCount();
        m_remainingSec = RoundSeconds((end - at) / 1000);
        if (callback)
            callback->NewMinute();
        s_lastMinuteTick = clock.TickCount();
        nextSecond = s_lastMinuteTick;
        clock.RunEvents(0);
    }
    NCL_TRACE(QStringLiteral("Paused for ") +
              rt::FormatNumber((clock.TickCount() - start) / 1000, QStringLiteral("0.000")) +
              QStringLiteral(" seconds"));
    return 0;
}

double CTimeObj::LocalSeconds() const
{
    return double(float(Clock().SecondsSinceMidnight()));
}

double CTimeObj::TickSeconds() const
{
    return double(float(Clock().TickCount() / 1000.0));
}

// SleepTimer and SleepTick: the same wait on a clock in seconds, kept in
// single precision as the clocks are, without callbacks.
qint32 CTimeObj::WaitOnSeconds(double (CTimeObj::*nowOf)() const, double wrapsAt, qint32 seconds,
                               const QString& interruptText)
{
    WaitClock& clock = Clock();
    m_interruptFlag = false;
    m_updateRemaining = false;
    const double start = (this->*nowOf)();
    const double end = double(float(start + seconds));
    for (double now = start; now < end; now = (this->*nowOf)()) {
        if (now < start) {
            NCL_TRACE(QStringLiteral("------->MIDNIGHT!!!!!  Exiting loop!"));
            clock.Block(1000);
            return 0;
        }
        if (m_interruptFlag) {
            NCL_TRACE(interruptText + rt::NumberText(end - now));
            m_interruptFlag = false;
            return RoundSeconds(end - now);
        }
        if (m_updateRemaining) {
            m_remainingSec = RoundSeconds(end - now);
            m_updateRemaining = false;
        }
        // Wake at the wrap too, so a wait that crosses it ends there.
        const double wakeAt = std::min(end, wrapsAt);
        clock.RunEvents(std::max<qint64>(1, qint64(std::ceil((wakeAt - now) * 1000))));
    }
    NCL_TRACE(QStringLiteral("Paused for ") +
              rt::FormatNumber((this->*nowOf)() - start, QStringLiteral("0.000")) +
              QStringLiteral(" seconds"));
    return 0;
}

qint32 CTimeObj::SleepTimer(qint32 seconds)
{
    return WaitOnSeconds(&CTimeObj::LocalSeconds, kDaySeconds, seconds,
                         QStringLiteral("Interrupting sleepTimer at "));
}

qint32 CTimeObj::SleepTick(qint32 seconds)
{
    return WaitOnSeconds(&CTimeObj::TickSeconds, kTickWrapMs / 1000, seconds,
                         QStringLiteral("Interrupting sleeptick at "));
}

qint32 CTimeObj::SetAlarm(rt::Date alarm, TimeObjCallback* callback)
{
    WaitClock& clock = Clock();
    const rt::Date now = clock.Now();
    if (!(alarm > now)) {
        NCL_TRACE(QStringLiteral("SetAlarm: Time allready passed."));
        return 0;
    }
    NCL_TRACE(QStringLiteral("Alarm setting is in the future..."));
    const float days = float(alarm - now);
    qint32 seconds = 0;
    if (!rt::ToInt32(double(days) * 86400, seconds))
        seconds = std::numeric_limits<qint32>::max();
    NCL_TRACE(QStringLiteral("Time remaining till Alarm goes off: ") + QString::number(seconds) +
              QStringLiteral(" seconds, ") +
              rt::FormatNumber(seconds / 3600.0, QStringLiteral("0.00")) +
              QStringLiteral(" hours"));
    const qint32 result = Sleep(seconds, callback);
    NCL_TRACE(QStringLiteral("SetAlarm: went off at ") + rt::GeneralDate(clock.Now()));
    return result;
}

qint32 CTimeObj::TimeRemaining()
{
    m_updateRemaining = true;
    Clock().RunEvents(0);
    return m_remainingSec;
}

void CTimeObj::PauseSec(qint16 seconds)
{
    Clock().Block(qint64(seconds) * 1000);
    NCL_TRACE(QStringLiteral("Paused for ") + QString::number(seconds) +
              QStringLiteral(" seconds"));
}

CTimeObj& TimerObj()
{
    static CTimeObj timer;
    return timer;
}

} // namespace schedule

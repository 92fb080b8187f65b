// The paced and plain waits on a simulated clock: minute alignment, interrupts
// and their rounding, backward clock steps, and one real-clock interrupt; the
// pauses on the real clock.
#include "schedule/CTimeObj.h"
#include "runtime/DateTime.h"
#include "schedule/Pauses.h"
#include "schedule/SimulatedWaitClock.h"

#include "logging/ScopedTrace.h"

#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <vector>

using schedule::CTimeObj;
using schedule::SimulatedWaitClock;

namespace
{

constexpr qint64 kStart = 5'000'000;

struct Call {
    char kind; // 's' second, 'm' minute
    qint64 tick;
    int wallSecond;
};

class Recorder : public schedule::TimeObjCallback
{
public:
    explicit Recorder(SimulatedWaitClock& clock) : m_clock(clock) {}
    void NewSecond() override { calls.push_back({'s', m_clock.Tick(), Second()}); }
    void NewMinute() override { calls.push_back({'m', m_clock.Tick(), Second()}); }
    std::vector<Call> Of(char kind) const
    {
        std::vector<Call> out;
        for (const Call& c : calls)
            if (c.kind == kind)
                out.push_back(c);
        return out;
    }
    std::vector<Call> calls;

private:
    int Second() { return m_clock.LocalSecondOfMinute(); }
    SimulatedWaitClock& m_clock;
};

// 2026-03-02 at hh:mm:ss local.
rt::Date At(int hour, int minute, int second)
{
    return rt::MakeDate(2026, 3, 2, hour, minute, second);
}

TEST(CTimeObjSleep, MinuteCallbacksAlignToTheWallClock)
{
    // Started 10 s past a minute: the first minute mark (12:01:10), then the
    // alignment to 12:02:00 with the second call right after it, then whole
    // minutes. The service loop's 60 s wait ends before its first minute mark
    // (the end is checked first), so it makes no minute callback.
    const struct {
        qint32 seconds;
        std::vector<std::pair<qint64, int>> minutes; // ms after the start, wall-clock second
    } cases[] = {{180, {{60000, 10}, {110000, 0}, {170000, 0}}}, {60, {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        SimulatedWaitClock clock(kStart, At(12, 0, 10));
        CTimeObj timer(&clock);
        Recorder rec(clock);
        EXPECT_EQ(timer.Sleep(c.seconds, &rec), 0);
        EXPECT_EQ(clock.Tick() - kStart, c.seconds * 1000);
        std::vector<std::pair<qint64, int>> minutes;
        for (const Call& m : rec.Of('m'))
            minutes.emplace_back(m.tick - kStart, m.wallSecond);
        EXPECT_EQ(minutes, c.minutes);

        // About once a second, never twice within the same second.
        const auto seconds = rec.Of('s');
        EXPECT_EQ(seconds.size(), size_t(c.seconds));
        for (size_t i = 1; i < seconds.size(); ++i)
            EXPECT_GE(seconds[i].tick - seconds[i - 1].tick, 900) << "at call " << i;
    }
}

TEST(CTimeObjSleep, InterruptReturnsRoundedSecondsLeftAtOnce)
{
    struct Case {
        qint32 seconds;
        qint64 atMs;
        qint32 expected;
        const char* traced; // the seconds left, in full
    };
    // 40.5 s left rounds half to even; an interrupt during the minute
    // alignment (80 s into 180) ends the whole wait, and the alignment's own
    // wait (50 s from 60 s on) traces what it had left.
    const Case cases[] = {{60, 20000, 40, "40"},    {60, 20400, 40, "39.6"},
                          {60, 20600, 39, "39.4"},  {60, 19500, 40, "40.5"},
                          {60, 19750, 40, "40.25"}, {60, 59900, 0, "0.1"},
                          {180, 80000, 100, "30"}};
    for (const Case& c : cases) {
        testsupport::ScopedHome home;
        testsupport::ScopedTrace trace(home.path());
        SimulatedWaitClock clock(kStart, At(12, 0, 10));
        CTimeObj timer(&clock);
        Recorder rec(clock);
        clock.At(kStart + c.atMs, [&timer] { timer.setInterruptFlag(true); });
        EXPECT_EQ(timer.Sleep(c.seconds, &rec), c.expected) << "interrupt at " << c.atMs;
        EXPECT_EQ(clock.Tick() - kStart, c.atMs) << "the wait ends when interrupted";
        EXPECT_FALSE(timer.InterruptFlag());
        const QString log = trace.Text();
        EXPECT_TRUE(log.contains(QStringLiteral("Interrupting sleep at %1\r\n").arg(c.traced)))
            << log.toStdString();
        EXPECT_FALSE(log.contains(QStringLiteral("Paused for"))) << "no closing line";
    }
}

TEST(CTimeObjSleep, InterruptSetBeforeTheWaitIsCleared)
{
    testsupport::ScopedHome home;
    testsupport::ScopedTrace trace(home.path());
    SimulatedWaitClock clock(kStart, At(12, 0, 10));
    CTimeObj timer(&clock);
    timer.setInterruptFlag(true);
    EXPECT_EQ(timer.Sleep(5, nullptr), 0);
    EXPECT_EQ(clock.Tick() - kStart, 5000);
    EXPECT_TRUE(trace.Text().contains("Paused for 5.000 seconds\r\n"))
        << trace.Text().toStdString();
}

TEST(CTimeObjSleep, BackwardClockEndsTheWaitWithZeroAfterOneSecond)
{
    struct Case {
        const char* name;
        qint64 startTick;
        qint64 jumpAt;
        qint64 jumpTo;
    };
    const Case cases[] = {
        {"restart", kStart, kStart + 10000, 1000},
        // The 32-bit counter wraps: the wait's end lies beyond 2^32.
        {"wrap", 4294967296LL - 5000, 4294967296LL, 4294967296LL},
    };
    for (const Case& c : cases) {
        SimulatedWaitClock clock(c.startTick, At(12, 0, 10));
        CTimeObj timer(&clock);
        clock.At(c.jumpAt, [&clock, &c] { clock.SetTick(c.jumpTo); });
        EXPECT_EQ(timer.Sleep(60, nullptr), 0) << c.name;
        EXPECT_EQ(clock.BlockedMs(), 1000) << c.name;
    }
}

// SleepTick and SleepTimer report the seconds left; SleepTimer ends at
// midnight; an alarm in the past returns at once, one ahead sleeps until it.
TEST(CTimeObjPlainWaits, SecondsLeftMidnightAndAlarms)
{
    SimulatedWaitClock clock(kStart, At(12, 0, 10));
    CTimeObj timer(&clock);
    clock.At(kStart + 7000, [&timer] { timer.setInterruptFlag(true); });
    EXPECT_EQ(timer.SleepTick(30), 23);
    clock.At(clock.Tick() + 12000, [&timer] { timer.setInterruptFlag(true); });
    EXPECT_EQ(timer.SleepTimer(30), 18);
    qint64 before = clock.Tick();
    EXPECT_EQ(timer.SleepTimer(3), 0);
    EXPECT_EQ(clock.Tick() - before, 3000);

    before = clock.Tick();
    EXPECT_EQ(timer.SetAlarm(At(11, 0, 0), nullptr), 0);
    EXPECT_EQ(clock.Tick(), before);
    EXPECT_EQ(timer.SetAlarm(At(12, 0, 50), nullptr), 0);
    EXPECT_EQ(clock.Tick() - kStart, 40000);

    SimulatedWaitClock late(kStart, At(23, 59, 50));
    CTimeObj lateTimer(&late);
    EXPECT_EQ(lateTimer.SleepTimer(30), 0);
    EXPECT_EQ(late.BlockedMs(), 1000);
    EXPECT_LT(late.Tick() - kStart, 12000);
}

TEST(CTimeObjRealClock, InterruptEndsTheWaitAtOnce)
{
    CTimeObj timer;
    QTimer::singleShot(50, [&timer] { timer.setInterruptFlag(true); });
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_EQ(timer.Sleep(60, nullptr), 60);
    EXPECT_LT(elapsed.elapsed(), 1000);
}

// The pauses keep events flowing and are not ended by an interrupt.
TEST(Pauses, RunEventsAndIgnoreInterrupts)
{
    bool timerRan = false;
    QTimer::singleShot(10, [&] {
        timerRan = true;
        schedule::TimerObj().setInterruptFlag(true);
    });
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_EQ(schedule::PauseMilliseconds(120), 0);
    // The tick counter counts whole milliseconds, so the pause may end up to
    // one millisecond short of the elapsed timer's reading.
    EXPECT_GE(elapsed.elapsed(), 119);
    EXPECT_TRUE(timerRan);
    schedule::TimerObj().setInterruptFlag(false);
}

} // namespace

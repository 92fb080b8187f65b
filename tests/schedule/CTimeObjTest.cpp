// The paced and plain waits on a simulated clock: minute alignment, interrupts
// and their rounding, backward clock steps; the pauses on the real clock.
#include "schedule/CTimeObj.h"
#include "runtime/DateTime.h"
#include "schedule/Pauses.h"
#include "schedule/SimulatedWaitClock.h"

#include "logging/ScopedTrace.h"

#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

using schedule::CTimeObj;
using schedule::SimulatedWaitClock;

namespace
{

constexpr qint64 kStart = 5'000'000;

// 2026-03-02 at hh:mm:ss local.
rt::Date At(int hour, int minute, int second)
{
    return rt::MakeDate(2026, 3, 2, hour, minute, second);
}

// Keeps the tick of every second callback, and of every minute callback the
// ms since the start with the wall-clock second it came at.
class Recorder : public schedule::TimeObjCallback
{
public:
    explicit Recorder(SimulatedWaitClock& clock) : m_clock(clock) {}
    void NewSecond() override { seconds.push_back(m_clock.Tick()); }
    void NewMinute() override
    {
        minutes.emplace_back(m_clock.Tick() - kStart, m_clock.LocalSecondOfMinute());
    }
    std::vector<qint64> seconds;
    std::vector<std::pair<qint64, int>> minutes;

private:
    SimulatedWaitClock& m_clock;
};

// A simulated clock started 10 s past 12:00, its timer, and the trace.
class CTimeObjSleep : public ::testing::Test
{
protected:
    testsupport::ScopedHome home;
    testsupport::ScopedTrace trace{home.path()};
    SimulatedWaitClock clock{kStart, At(12, 0, 10)};
    CTimeObj timer{&clock};
};

// A whole wait makes the first minute callback at its minute mark (12:01:10),
// then aligns to 12:02:00 with the second call right after it, then whole
// minutes; the service loop's 60 s wait ends before its first minute mark (the
// end is checked first), so it makes no minute callback. An interrupt returns
// the seconds left, 40.5 rounding half to even, and traces them in full; one
// during the minute alignment (80 s into 180) ends the whole wait, and the
// alignment's own wait (50 s from 60 s on) traces what it had left. An
// interrupt left from before a wait is cleared when the wait starts.
TEST_F(CTimeObjSleep, MinuteCallbacksAndInterrupts)
{
    // The wait, the interrupt's moment (0: none), the seconds returned and
    // traced in full, the minute callbacks (ms after the start, wall-clock second).
    using Minutes = std::vector<std::pair<qint64, int>>;
    const std::tuple<qint32, qint64, qint32, const char*, Minutes> cases[] = {
        {180, 0, 0, "", {{60000, 10}, {110000, 0}, {170000, 0}}},
        {60, 0, 0, "", {}},
        {60, 20000, 40, "40", {}},
        {60, 20400, 40, "39.6", {}},
        {60, 20600, 39, "39.4", {}},
        {60, 19500, 40, "40.5", {}},
        {60, 59900, 0, "0.1", {}},
        {180, 80000, 100, "30", {{60000, 10}}}};
    for (const auto& [seconds, atMs, left, traced, minutes] : cases) {
        SCOPED_TRACE(testing::Message() << seconds << " s, interrupted at " << atMs);
        const qsizetype seen = trace.Text().size();
        SimulatedWaitClock fresh(kStart, At(12, 0, 10));
        CTimeObj waits(&fresh);
        Recorder rec(fresh);
        if (atMs)
            fresh.At(kStart + atMs, [&waits] { waits.setInterruptFlag(true); });
        EXPECT_EQ(waits.Sleep(seconds, &rec), left);
        const qint64 elapsed = fresh.Tick() - kStart;
        EXPECT_EQ(elapsed, atMs ? atMs : seconds * 1000);
        EXPECT_EQ(rec.minutes, minutes);
        // Once a second, the first at once, never twice within the same second.
        EXPECT_EQ(rec.seconds.size(), size_t((elapsed + 999) / 1000));
        for (size_t i = 1; i < rec.seconds.size(); ++i)
            EXPECT_GE(rec.seconds[i] - rec.seconds[i - 1], 900) << "at call " << i;
        EXPECT_FALSE(waits.InterruptFlag());
        const QString log = trace.Text().mid(seen);
        EXPECT_EQ(log.contains("Interrupting sleep at " + QString(traced) + "\r\n"), atMs != 0)
            << log.toStdString();
        EXPECT_EQ(log.contains("Paused for"), atMs == 0) << "no closing line when interrupted";
    }

    timer.setInterruptFlag(true);
    EXPECT_EQ(timer.Sleep(5, nullptr), 0);
    EXPECT_EQ(clock.Tick() - kStart, 5000);
    EXPECT_TRUE(trace.Text().contains("Paused for 5.000 seconds\r\n"));
}

// SleepTick and SleepTimer report the seconds left; SleepTimer ends at
// midnight; an alarm in the past returns at once, one ahead sleeps until it;
// a backward clock step ends a wait.
TEST_F(CTimeObjSleep, WaitsReportSecondsLeftAndEndAtMidnightAlarmsAndBackwardSteps)
{
    clock.At(kStart + 7000, [this] { timer.setInterruptFlag(true); });
    EXPECT_EQ(timer.SleepTick(30), 23);
    clock.At(clock.Tick() + 12000, [this] { timer.setInterruptFlag(true); });
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

    // A counter that steps back ends a paced wait with 0 after one second of
    // blocking: a restart, and the 32-bit wrap with the wait's end beyond 2^32.
    const std::tuple<qint64, qint64, qint64> cases[] = {
        {kStart, kStart + 10000, 1000}, {4294967296LL - 5000, 4294967296LL, 4294967296LL}};
    for (const auto& [startTick, jumpAt, jumpTo] : cases) {
        SCOPED_TRACE(startTick);
        SimulatedWaitClock fresh(startTick, At(12, 0, 10));
        fresh.At(jumpAt, [&fresh, jumpTo] { fresh.SetTick(jumpTo); });
        EXPECT_EQ(CTimeObj(&fresh).Sleep(60, nullptr), 0);
        EXPECT_EQ(fresh.BlockedMs(), 1000);
    }
}

// On the real clock the pauses keep events flowing and are not ended by an
// interrupt, which ends a sleep (the host's service-loop test shows that).
TEST(RealClockWaits, InterruptDoesNotEndAPause)
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

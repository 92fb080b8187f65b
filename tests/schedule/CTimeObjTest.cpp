// The paced and plain waits on a simulated clock: minute alignment, interrupts
// and their rounding, backward clock steps, and one real-clock interrupt.
#include "schedule/CTimeObj.h"
#include "logging/DebugLog.h"
#include "runtime/DateTime.h"
#include "schedule/SimulatedWaitClock.h"

#include "TestSupport.h"

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

TEST(CTimeObjSleep, AlignsMinuteCallbacksToTheWallClock)
{
    SimulatedWaitClock clock(kStart, At(12, 0, 10));
    CTimeObj timer(&clock);
    Recorder rec(clock);

    EXPECT_EQ(timer.Sleep(180, &rec), 0);

    // The first minute mark (12:01:10), then the alignment to 12:02:00 with the
    // second call right after it, then whole minutes.
    const auto minutes = rec.Of('m');
    ASSERT_EQ(minutes.size(), 3u);
    EXPECT_EQ(minutes[0].tick - kStart, 60000);
    EXPECT_EQ(minutes[0].wallSecond, 10);
    EXPECT_EQ(minutes[1].tick - kStart, 110000);
    EXPECT_EQ(minutes[1].wallSecond, 0);
    EXPECT_EQ(minutes[2].tick - kStart, 170000);
    EXPECT_EQ(minutes[2].wallSecond, 0);
    EXPECT_EQ(clock.Tick() - kStart, 180000);

    // About once a second, never twice within the same second.
    const auto seconds = rec.Of('s');
    EXPECT_EQ(seconds.size(), 180u);
    for (size_t i = 1; i < seconds.size(); ++i)
        EXPECT_GE(seconds[i].tick - seconds[i - 1].tick, 900) << "at call " << i;
}

TEST(CTimeObjSleep, SixtySecondsEndBeforeTheMinuteMark)
{
    // The service loop's wait: the end comes first, so it lasts 60 s whatever the
    // wall clock says and makes no minute callback.
    SimulatedWaitClock clock(kStart, At(12, 0, 10));
    CTimeObj timer(&clock);
    Recorder rec(clock);
    EXPECT_EQ(timer.Sleep(60, &rec), 0);
    EXPECT_EQ(clock.Tick() - kStart, 60000);
    EXPECT_TRUE(rec.Of('m').empty());
}

TEST(CTimeObjSleep, InterruptReturnsRoundedSecondsLeftAtOnce)
{
    struct Case {
        qint64 atMs;
        qint32 expected;
    };
    // 40.5 s left rounds half to even.
    const Case cases[] = {{20000, 40}, {20400, 40}, {20600, 39}, {19500, 40}, {59900, 0}};
    for (const Case& c : cases) {
        SimulatedWaitClock clock(kStart, At(12, 0, 10));
        CTimeObj timer(&clock);
        Recorder rec(clock);
        clock.At(kStart + c.atMs, [&timer] { timer.setInterruptFlag(true); });
        EXPECT_EQ(timer.Sleep(60, &rec), c.expected) << "interrupt at " << c.atMs;
        EXPECT_EQ(clock.Tick() - kStart, c.atMs) << "the wait ends when interrupted";
        EXPECT_FALSE(timer.InterruptFlag());
    }
}

TEST(CTimeObjSleep, InterruptDuringTheAlignmentEndsTheWholeWait)
{
    SimulatedWaitClock clock(kStart, At(12, 0, 10));
    CTimeObj timer(&clock);
    clock.At(kStart + 80000, [&timer] { timer.setInterruptFlag(true); });
    EXPECT_EQ(timer.Sleep(180, nullptr), 100);
    EXPECT_EQ(clock.Tick() - kStart, 80000);
}

TEST(CTimeObjSleep, InterruptSetBeforeTheWaitIsCleared)
{
    SimulatedWaitClock clock(kStart, At(12, 0, 10));
    CTimeObj timer(&clock);
    timer.setInterruptFlag(true);
    EXPECT_EQ(timer.Sleep(5, nullptr), 0);
    EXPECT_EQ(clock.Tick() - kStart, 5000);
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

TEST(CTimeObjPlainWaits, SleepTickAndSleepTimerReportSecondsLeftOnTheirClock)
{
    SimulatedWaitClock clock(kStart, At(12, 0, 10));
    CTimeObj timer(&clock);
    clock.At(kStart + 7000, [&timer] { timer.setInterruptFlag(true); });
    EXPECT_EQ(timer.SleepTick(30), 23);
    clock.At(clock.Tick() + 12000, [&timer] { timer.setInterruptFlag(true); });
    EXPECT_EQ(timer.SleepTimer(30), 18);
    const qint64 before = clock.Tick();
    EXPECT_EQ(timer.SleepTimer(3), 0);
    EXPECT_EQ(clock.Tick() - before, 3000);
}

TEST(CTimeObjPlainWaits, SleepTimerEndsAtMidnight)
{
    SimulatedWaitClock clock(kStart, At(23, 59, 50));
    CTimeObj timer(&clock);
    EXPECT_EQ(timer.SleepTimer(30), 0);
    EXPECT_EQ(clock.BlockedMs(), 1000);
    EXPECT_LT(clock.Tick() - kStart, 12000);
}

TEST(CTimeObjAlarm, PastTimeReturnsAtOnceFutureTimeSleeps)
{
    SimulatedWaitClock clock(kStart, At(12, 0, 10));
    CTimeObj timer(&clock);
    EXPECT_EQ(timer.SetAlarm(At(11, 0, 0), nullptr), 0);
    EXPECT_EQ(clock.Tick(), kStart);
    EXPECT_EQ(timer.SetAlarm(At(12, 0, 50), nullptr), 0);
    EXPECT_EQ(clock.Tick() - kStart, 40000);
}

TEST(CTimeObjTrace, InterruptAndPauseLines)
{
    testsupport::ScopedHome home;
    logging::DebugOn = true;
    logging::DebugFileOn = true;
    logging::DebugFileName = home.file("DebugFile.txt");
    logging::SetDebugFile(true);

    SimulatedWaitClock clock(kStart, At(12, 0, 10));
    CTimeObj timer(&clock);
    EXPECT_EQ(timer.Sleep(2, nullptr), 0);
    clock.At(clock.Tick() + 19750, [&timer] { timer.setInterruptFlag(true); });
    EXPECT_EQ(timer.Sleep(60, nullptr), 40);

    logging::CloseDebugFile();
    logging::DebugOn = false;
    logging::DebugFileOn = false;
    const QString log = testsupport::ReadFile(home.file("DebugFile.txt"));
    EXPECT_TRUE(log.contains("Paused for 2.000 seconds\r\n")) << log.toStdString();
    EXPECT_TRUE(log.contains("Interrupting sleep at 40.25\r\n")) << log.toStdString();
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

} // namespace

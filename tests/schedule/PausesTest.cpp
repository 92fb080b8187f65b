// The pauses keep events flowing and are not ended by an interrupt.
#include "schedule/Pauses.h"
#include "schedule/CTimeObj.h"

#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

namespace
{

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

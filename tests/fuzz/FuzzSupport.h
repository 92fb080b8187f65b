#pragma once
// What every fuzz target needs: a clock that stands still (so nothing can
// reach the host clock), options set for the engine, and a display that
// ignores what it is told.

#include "logging/DebugLog.h"
#include "platform/SystemClock.h"
#include "settings/AppState.h"
#include "settings/COptions.h"
#include "timeset/CNISTDisplay.h"

#include <cstdlib>

namespace fuzzsupport
{

class StillClock : public platform::SystemClock
{
public:
    qint64 NowUtcMs() const override { return m_now; }
    bool SetUtcMs(qint64 utcMs, int&) override
    {
        m_now = utcMs;
        return true;
    }
    void Reset() { m_now = 1796417706000; } // 2026-12-04 20:55:06 UTC

private:
    qint64 m_now = 1796417706000;
};

class QuietDisplay : public timeset::CNISTDisplay
{
public:
    float DisplaySync(const timeset::SyncDisplayInfo&) override { return 0; }
    void DisplayNoChange() override {}
    void NISTdone() override {}
    void HeartbeatDone(const QString&, const QString&, const QString&) override {}
};

inline StillClock& Setup()
{
    static StillClock clock;
    static bool done = false;
    if (!done) {
        setenv("TZ", "America/New_York", 1);
        platform::SetClockForTesting(&clock);
        // Trace text is composed (that code runs too) but written nowhere.
        logging::DebugOn = true;
        logging::DebugFileOn = false;
        settings::COptions& options = settings::Options();
        options.setSetMaxThreshold(86400);
        options.setSetMinThreshold(300);
        options.setSetMinThresholdDrift(2);
        options.setSettingMode(2);
        done = true;
    }
    clock.Reset();
    return clock;
}

} // namespace fuzzsupport

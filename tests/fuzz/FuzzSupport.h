#pragma once
// What every fuzz target needs: a clock that stands still (so nothing can
// reach the host clock), options set for the engine, and a display that
// ignores what it is told.

#include "../platform/PlatformFixtures.h"
#include "logging/DebugLog.h"
#include "settings/AppState.h"
#include "settings/COptions.h"
#include "timeset/CNISTDisplay.h"

#include <cstdlib>

namespace fuzzsupport
{

class QuietDisplay : public timeset::CNISTDisplay
{
public:
    float DisplaySync(const timeset::SyncDisplayInfo&) override { return 0; }
    void DisplayNoChange() override {}
    void NISTdone() override {}
    void HeartbeatDone(const QString&, const QString&, const QString&) override {}
};

inline testsupport::StillClock& Setup()
{
    constexpr qint64 kNow = 1796417706000; // 2026-12-04 20:55:06 UTC
    static testsupport::StillClock clock(kNow);
    static bool done = false;
    if (!done) {
        setenv("TZ", "America/New_York", 1);
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
    clock.utcMs = kNow;
    return clock;
}

} // namespace fuzzsupport

#pragma once
// What the clock-setting engine tells the window that shows its work. The
// engine ignores everything these return.

#include "runtime/DateTime.h"

#include <QString>
#include <QtGlobal>

#include <optional>

namespace timeset
{

// The values shown before a setting. The leading values are left out as the
// situation requires: the mode after a direct SNTP setting, the arrival
// milliseconds and the fraction when the fraction is zero or the difference
// is above an hour.
struct SyncDisplayInfo {
    std::optional<qint16> mode; // 3 for a direct-dial source, else 1
    std::optional<qint16> arrivalMilliseconds;
    std::optional<float> secFrac;
    rt::Date arrival = 0;
    rt::Date corrected = 0;
};

class CNISTDisplay
{
public:
    virtual ~CNISTDisplay() = default;

    // Before the clock is set (the interval it measures, in seconds).
    virtual float DisplaySync(const SyncDisplayInfo& info) = 0;
    // The clock is in sync or the difference was too small.
    virtual void DisplayNoChange() = 0;
    // The last thing a time message does; the display may release the engine here.
    virtual void NISTdone() = 0;
    // The last thing a heartbeat reply does; the display may release the engine here.
    virtual void HeartbeatDone(const QString& key, const QString& upDown,
                               const QString& macAddress) = 0;
};

} // namespace timeset

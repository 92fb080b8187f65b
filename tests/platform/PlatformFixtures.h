#pragma once
// A platform clock that stands where the test puts it, for the lifetime of
// the object; rt::Now() reads it too.

#include "platform/SystemClock.h"

namespace testsupport
{

class StillClock : public platform::SystemClock
{
public:
    explicit StillClock(qint64 ms = 0) : utcMs(ms) { platform::SetClockForTesting(this); }
    ~StillClock() override { platform::SetClockForTesting(nullptr); }
    qint64 NowUtcMs() const override { return utcMs; }
    bool SetUtcMs(qint64 ms, int&) override
    {
        utcMs = ms;
        return true;
    }
    qint64 utcMs;
};

} // namespace testsupport

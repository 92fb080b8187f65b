#pragma once
// The system clock as the agent sees it: local and UTC time with milliseconds
// as system-time records, setting either, and a millisecond tick counter.
//
// With NCLMOD_SIMCLOCK=<file> the clock is simulated: the real clock plus an
// offset in milliseconds kept as one decimal integer in that file (absent = 0).
// Setting the time rewrites the offset; the host clock is never touched.
// Everything in the agent takes "now" from here. With NCLMOD_FORBID_REAL_CLOCK
// set, the real clock refuses every setting (EPERM): the test suite sets it.

#include <QString>
#include <QtGlobal>

namespace platform
{

// The platform's system-time record: eight 16-bit fields.
struct SystemTime {
    qint16 wYear = 0;
    qint16 wMonth = 0;
    qint16 wDayOfWeek = 0; // 0 = Sunday
    qint16 wDay = 0;
    qint16 wHour = 0;
    qint16 wMinute = 0;
    qint16 wSecond = 0;
    qint16 wMilliseconds = 0;
};

class SystemClock
{
public:
    virtual ~SystemClock() = default;

    // Milliseconds since 1970-01-01 UTC, as the agent's clock reads now.
    virtual qint64 NowUtcMs() const = 0;
    // Sets the clock so that it reads utcMs now; false with errorNumber (errno) on refusal.
    virtual bool SetUtcMs(qint64 utcMs, int& errorNumber) = 0;
    // Milliseconds since an arbitrary start, never stepping with the wall clock.
    virtual quint32 TickCount() const;

    SystemTime GetSystemTime() const; // UTC
    SystemTime GetLocalTime() const;
    bool SetSystemTime(const SystemTime& utc, int& errorNumber);
    bool SetLocalTime(const SystemTime& local, int& errorNumber);

    // Offset of local time from UTC, in seconds, at the given UTC instant.
    static qint64 LocalOffsetSeconds(qint64 utcMs);
    // UTC and local records of one instant, for callers that need both to
    // describe the same moment.
    static SystemTime UtcRecordAt(qint64 utcMs);
    static SystemTime LocalRecordAt(qint64 utcMs);
};

// The process-wide clock: simulated when NCLMOD_SIMCLOCK is set, else real.
SystemClock& Clock();
// Makes rt::Now() read the process-wide clock. Clock() and SetClockForTesting
// do it on every use; a program calls it first thing, before anything stamps.
void InstallClock();
// Tests replace the clock; pass nullptr to go back to the environment's choice.
void SetClockForTesting(SystemClock* clock);

class RealClock : public SystemClock
{
public:
    qint64 NowUtcMs() const override;
    bool SetUtcMs(qint64 utcMs, int& errorNumber) override;
};

class SimulatedClock : public SystemClock
{
public:
    explicit SimulatedClock(QString offsetFile);
    qint64 NowUtcMs() const override;
    bool SetUtcMs(qint64 utcMs, int& errorNumber) override;
    qint64 OffsetMs() const;

private:
    QString m_offsetFile;
};

} // namespace platform

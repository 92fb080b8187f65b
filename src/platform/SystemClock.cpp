#include "platform/SystemClock.h"

#include "runtime/DateTime.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

namespace platform
{

namespace
{

SystemClock* g_testClock = nullptr;

qint64 RealUtcMs()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Floor division so that instants before 1970 split into day and time correctly.
qint64 FloorDiv(qint64 a, qint64 b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

SystemTime RecordFromMs(qint64 ms)
{
    const qint64 secs = FloorDiv(ms, 1000);
    const time_t t = time_t(secs);
    tm parts{};
    gmtime_r(&t, &parts);
    SystemTime st;
    st.wYear = qint16(parts.tm_year + 1900);
    st.wMonth = qint16(parts.tm_mon + 1);
    st.wDayOfWeek = qint16(parts.tm_wday);
    st.wDay = qint16(parts.tm_mday);
    st.wHour = qint16(parts.tm_hour);
    st.wMinute = qint16(parts.tm_min);
    st.wSecond = qint16(parts.tm_sec);
    st.wMilliseconds = qint16(ms - secs * 1000);
    return st;
}

qint64 MsFromRecord(const SystemTime& st)
{
    tm parts{};
    parts.tm_year = st.wYear - 1900;
    parts.tm_mon = st.wMonth - 1;
    parts.tm_mday = st.wDay;
    parts.tm_hour = st.wHour;
    parts.tm_min = st.wMinute;
    parts.tm_sec = st.wSecond;
    return qint64(timegm(&parts)) * 1000 + st.wMilliseconds;
}

bool ValidRecord(const SystemTime& st)
{
    return st.wYear >= 1601 && st.wYear <= 30827 && st.wMonth >= 1 && st.wMonth <= 12 &&
           st.wDay >= 1 && st.wDay <= 31 && st.wHour >= 0 && st.wHour <= 23 && st.wMinute >= 0 &&
           st.wMinute <= 59 && st.wSecond >= 0 && st.wSecond <= 59 && st.wMilliseconds >= 0 &&
           st.wMilliseconds <= 999;
}

// What rt::Now() reads: the local time of the process's clock in whole
// seconds, as the clock shows them. A stamp made from "now" never names a
// second later than the moment it records (formatting a value with
// milliseconds would round up to the next second half the time).
rt::Date LocalNow()
{
    const SystemTime t = Clock().GetLocalTime();
    return rt::MakeDate(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
}

} // namespace

quint32 SystemClock::TickCount() const
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return quint32(quint64(ts.tv_sec) * 1000 + quint64(ts.tv_nsec) / 1000000);
}

qint64 SystemClock::LocalOffsetSeconds(qint64 utcMs)
{
    const time_t t = time_t(FloorDiv(utcMs, 1000));
    tm parts{};
    localtime_r(&t, &parts);
    return parts.tm_gmtoff;
}

SystemTime SystemClock::UtcRecordAt(qint64 utcMs)
{
    return RecordFromMs(utcMs);
}

SystemTime SystemClock::LocalRecordAt(qint64 utcMs)
{
    return RecordFromMs(utcMs + LocalOffsetSeconds(utcMs) * 1000);
}

SystemTime SystemClock::GetSystemTime() const
{
    return UtcRecordAt(NowUtcMs());
}

SystemTime SystemClock::GetLocalTime() const
{
    return LocalRecordAt(NowUtcMs());
}

bool SystemClock::SetSystemTime(const SystemTime& utc, int& errorNumber)
{
    if (!ValidRecord(utc)) {
        errorNumber = EINVAL;
        return false;
    }
    return SetUtcMs(MsFromRecord(utc), errorNumber);
}

bool SystemClock::SetLocalTime(const SystemTime& local, int& errorNumber)
{
    if (!ValidRecord(local)) {
        errorNumber = EINVAL;
        return false;
    }
    const qint64 localMs = MsFromRecord(local);
    // The zone offset at the target instant: take it at the naive guess, then
    // again at the corrected instant so a daylight change in between is honoured.
    qint64 utc = localMs - LocalOffsetSeconds(localMs) * 1000;
    utc = localMs - LocalOffsetSeconds(utc) * 1000;
    return SetUtcMs(utc, errorNumber);
}

qint64 RealClock::NowUtcMs() const
{
    return RealUtcMs();
}

bool RealClock::SetUtcMs(qint64 utcMs, int& errorNumber)
{
    // The test suite and the benchmarks forbid the host clock outright, so a
    // path that misses the simulated clock fails instead of moving the machine.
    if (qEnvironmentVariableIsSet("NCLMOD_FORBID_REAL_CLOCK")) {
        errorNumber = EPERM;
        return false;
    }
    timespec ts{};
    ts.tv_sec = time_t(FloorDiv(utcMs, 1000));
    ts.tv_nsec = long(utcMs - qint64(ts.tv_sec) * 1000) * 1000000;
    if (clock_settime(CLOCK_REALTIME, &ts) == 0)
        return true;
    errorNumber = errno;
    return false;
}

SimulatedClock::SimulatedClock(QString offsetFile) : m_offsetFile(std::move(offsetFile)) {}

qint64 SimulatedClock::OffsetMs() const
{
    QFile file(m_offsetFile);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    bool ok = false;
    const qint64 offset = QString::fromLatin1(file.readAll()).trimmed().toLongLong(&ok);
    return ok ? offset : 0;
}

qint64 SimulatedClock::NowUtcMs() const
{
    return RealUtcMs() + OffsetMs();
}

bool SimulatedClock::SetUtcMs(qint64 utcMs, int& errorNumber)
{
    // A clock file without its write bit stands for a clock the process may not
    // set; checked by the bits because root would write through them.
    const QFileInfo info(m_offsetFile);
    if (info.exists() && !(info.permissions() & QFileDevice::WriteOwner)) {
        errorNumber = EPERM;
        return false;
    }
    const qint64 offset = utcMs - RealUtcMs();
    QSaveFile file(m_offsetFile);
    if (!file.open(QIODevice::WriteOnly)) {
        errorNumber = EPERM;
        return false;
    }
    file.write(QByteArray::number(offset));
    file.write("\n");
    if (!file.commit()) {
        errorNumber = EPERM;
        return false;
    }
    return true;
}

SystemClock& Clock()
{
    // A pointer store, cheap enough for every reply of a time server.
    InstallClock();
    if (g_testClock)
        return *g_testClock;
    static std::unique_ptr<SystemClock> clock;
    static std::string configuredFile;
    // Read raw on every call, as a time server asks for each reply: no
    // allocation unless the variable changed.
    const char* simFile = std::getenv("NCLMOD_SIMCLOCK");
    const char* now = simFile ? simFile : "";
    if (!clock || configuredFile != now) {
        configuredFile = now;
        if (configuredFile.empty())
            clock = std::make_unique<RealClock>();
        else
            clock = std::make_unique<SimulatedClock>(QString::fromLocal8Bit(now));
    }
    return *clock;
}

void InstallClock()
{
    rt::SetNowReader(&LocalNow);
}

void SetClockForTesting(SystemClock* clock)
{
    InstallClock();
    g_testClock = clock;
}

} // namespace platform

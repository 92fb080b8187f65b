#pragma once
// Shared pieces of the engine tests: a clock that stands still and records
// what is set, a display that records its calls, and scoped zone, locale,
// options and trace settings.

#include "TestSupport.h"
#include "logging/DebugLog.h"
#include "platform/SystemClock.h"
#include "runtime/DateTime.h"
#include "runtime/TextFormat.h"
#include "settings/AppState.h"
#include "settings/COptions.h"
#include "timeset/CNISTDisplay.h"
#include "timeset/ShortDateFormat.h"

#include <QDateTime>
#include <QLocale>
#include <QStringList>

#include <cerrno>
#include <ctime>
#include <vector>

namespace enginetest
{

// A clock that reads a fixed instant until something sets it.
class FixedClock : public platform::SystemClock
{
public:
    explicit FixedClock(qint64 utcMs) : m_now(utcMs) {}
    qint64 NowUtcMs() const override { return m_now; }
    bool SetUtcMs(qint64 utcMs, int& errorNumber) override
    {
        if (refuse) {
            errorNumber = EPERM;
            return false;
        }
        sets.push_back(utcMs);
        m_now = utcMs;
        return true;
    }
    bool refuse = false;
    std::vector<qint64> sets;

private:
    qint64 m_now;
};

inline qint64 UtcMs(int year, int month, int day, int hour, int minute, int second, int ms = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second, ms), Qt::UTC)
        .toMSecsSinceEpoch();
}

// Installs a fixed clock for the lifetime of the object.
class ScopedFixedClock
{
public:
    explicit ScopedFixedClock(qint64 utcMs) : clock(utcMs) { platform::SetClockForTesting(&clock); }
    ~ScopedFixedClock() { platform::SetClockForTesting(nullptr); }
    FixedClock clock;
};

// TZ for the lifetime of the object (the C library re-reads it).
class ScopedZone
{
public:
    explicit ScopedZone(const char* zone) : m_env("TZ", zone) { tzset(); }
    ~ScopedZone() { tzset(); }

private:
    testsupport::ScopedEnv m_env;
};

// The locale of date texts, and the short-date order found from it.
class ScopedDateLocale
{
public:
    explicit ScopedDateLocale(const char* name) : m_locale(QString::fromLatin1(name))
    {
        rt::SetDateLocaleForTesting(&m_locale);
        timeset::detect_short_date(QStringLiteral("USER"));
    }
    ~ScopedDateLocale()
    {
        rt::SetDateLocaleForTesting(nullptr);
        timeset::detect_short_date(QStringLiteral("USER"));
    }

private:
    QLocale m_locale;
};

// Restores the shared options record after a test changes it.
class ScopedOptions
{
public:
    ScopedOptions() : m_saved(settings::Options()) {}
    ~ScopedOptions() { settings::Options() = m_saved; }
    settings::COptions& operator*() { return settings::Options(); }
    settings::COptions* operator->() { return &settings::Options(); }

private:
    settings::COptions m_saved;
};

// Trace on, into a fresh file, for the lifetime of the object.
class ScopedTrace
{
public:
    ScopedTrace()
    {
        logging::DebugOn = true;
        logging::DebugFileOn = true;
        logging::DebugFileName = m_home.file("DebugFile.txt");
        logging::SetDebugFile(true);
    }
    ~ScopedTrace()
    {
        logging::SetDebugFile(false);
        logging::DebugOn = false;
        logging::DebugFileOn = false;
    }
    QString text() const { return testsupport::ReadFile(m_home.file("DebugFile.txt")); }

private:
    testsupport::ScopedHome m_home;
};

class RecordingDisplay : public timeset::CNISTDisplay
{
public:
    float DisplaySync(const timeset::SyncDisplayInfo& info) override
    {
        calls << QStringLiteral("DisplaySync");
        syncs.push_back(info);
        return 0;
    }
    void DisplayNoChange() override { calls << QStringLiteral("DisplayNoChange"); }
    void NISTdone() override { calls << QStringLiteral("NISTdone"); }
    void HeartbeatDone(const QString& key, const QString& upDown,
                       const QString& macAddress) override
    {
        calls << QStringLiteral("HeartbeatDone");
        heartbeat = {key, upDown, macAddress};
    }
    QStringList calls;
    std::vector<timeset::SyncDisplayInfo> syncs;
    QStringList heartbeat;
};

} // namespace enginetest

#pragma once
// Shared pieces of the engine tests: a clock that stands still and records
// what is set, a display that records its calls, an SNTP reply, and scoped
// zone, locale and options settings (the trace: logging/ScopedTrace.h).

#include "TestSupport.h"
#include "logging/ScopedTrace.h"
#include "platform/PlatformFixtures.h"
#include "runtime/RuntimeFixtures.h"
#include "settings/AppState.h"
#include "settings/COptions.h"
#include "settings/OptionStore.h"
#include "timeset/CNISTDisplay.h"
#include "timeset/ShortDateFormat.h"

#include <QDateTime>
#include <QStringList>
#include <QtEndian>

#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <vector>

namespace enginetest
{

// A clock that reads a fixed instant until something sets it, and keeps
// every setting it is asked for, installed for the lifetime of the object.
class ScopedFixedClock : public testsupport::StillClock
{
public:
    using StillClock::StillClock;
    bool SetUtcMs(qint64 ms, int& error) override
    {
        sets.push_back(ms);
        if (refuse != 0) {
            error = refuse;
            return false;
        }
        return StillClock::SetUtcMs(ms, error);
    }
    std::vector<qint64> sets;
    int refuse = 0; // an errno that refuses every setting
};

inline qint64 UtcMs(int year, int month, int day, int hour, int minute, int second, int ms = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second, ms), Qt::UTC)
        .toMSecsSinceEpoch();
}

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
class ScopedDateLocale : public testsupport::ScopedDateLocale
{
public:
    explicit ScopedDateLocale(const char* name) : testsupport::ScopedDateLocale(name)
    {
        timeset::detect_short_date(QStringLiteral("USER"));
    }
    ~ScopedDateLocale()
    {
        rt::SetDateLocaleForTesting(nullptr);
        timeset::detect_short_date(QStringLiteral("USER"));
    }
};

// Restores the shared options record after a test changes it.
class ScopedOptions
{
public:
    ScopedOptions() : m_saved(settings::Options()) {}
    ~ScopedOptions() { settings::Options() = m_saved; }
    settings::COptions* operator->() { return &settings::Options(); }

private:
    settings::COptions m_saved;
};

// The engine tests' fixture: zone UTC, English (US) dates, the default options
// (NIST over the network, thresholds 300 ms and 86400 s, no offset) put back
// after the test, and a clock that stands still where ClockAt puts it.
class EngineFixture : public ::testing::Test
{
protected:
    EngineFixture() { settings::SetDefaults(); }
    void ClockAt(qint64 utcMs)
    {
        clock.reset(); // the old one restores the default clock when it goes
        clock = std::make_unique<ScopedFixedClock>(utcMs);
    }

    ScopedZone zone{"UTC"};
    ScopedDateLocale locale{"en_US"};
    ScopedOptions options;
    std::unique_ptr<ScopedFixedClock> clock;
};

// An SNTP reply of a server (mode 4 unless firstByte says otherwise) that
// sends utcMs as its transmit time (seconds since 1900), to the 1/65536 second.
inline QByteArray SntpPacket(qint64 utcMs, quint8 firstByte = 0x24)
{
    QByteArray packet(48, '\0');
    packet[0] = char(firstByte);
    qToBigEndian(quint32(utcMs / 1000 + 2208988800LL), packet.data() + 40);
    qToBigEndian(quint16(utcMs % 1000 / 1000.0 * 65536.0), packet.data() + 44);
    return packet;
}

class RecordingDisplay : public timeset::CNISTDisplay
{
public:
    float DisplaySync(const timeset::SyncDisplayInfo&) override
    {
        calls << QStringLiteral("DisplaySync");
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
    QStringList heartbeat;
};

} // namespace enginetest

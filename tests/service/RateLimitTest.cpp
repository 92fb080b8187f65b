// The rate limit: which requests of a peer are answered over time, and its
// settings as the registry key gives them.
#include "service/RateLimit.h"
#include "platform/RegistryStore.h"
#include "settings/AppState.h"
#include "settings/COptions.h"

#include "LoopbackSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using service::LimitSettings;
using service::RateLimit;

namespace
{

Q_IPV6ADDR Address(const char* text)
{
    return QHostAddress(QString::fromLatin1(text)).toIPv6Address();
}

TEST(RateLimit, AnswersFollowIntervalBurstAndLeak)
{
    struct Case {
        const char* name;
        LimitSettings settings;
        std::vector<qint64> atMs;
        const char* answered;  // R: answered, -: not
        QStringList from = {}; // the address of each request; none: all from ::1
    };
    const QStringList addresses = QString("::ffff:10.0.0.1 ::ffff:10.0.0.1 ::ffff:10.0.0.2 "
                                          "2001:db8::1 ::ffff:10.0.0.1")
                                      .split(' ');
    const Case cases[] = {
        {"off", {}, {0, 0, 0, 0}, "RRRR"},
        {"burst 3, then 1/s", {true, 0, 3, 4}, {0, 0, 0, 0, 0, 1000, 1500, 2000}, "RRR--R-R"},
        {"every 2nd one leaks", {true, -1, 1, 1}, {0, 100, 200, 300, 500, 1000}, "R-R-RR"},
        {"each address on its own", {true, 12, 1, 4}, {0, 0, 0, 1, 2}, "R-RR-", addresses},
    };
    for (const Case& c : cases) {
        RateLimit limit;
        limit.Configure(c.settings);
        QString answered;
        for (size_t i = 0; i < c.atMs.size(); ++i) {
            const QString from = c.from.value(qsizetype(i), "::1");
            answered += limit.AllowAt(Address(qPrintable(from)), c.atMs[i] * 1000000) ? 'R' : '-';
        }
        EXPECT_EQ(answered, QString::fromLatin1(c.answered)) << c.name;
    }

    // An IPv4 address counts as its mapped form, as the datagram path gives it.
    RateLimit limit;
    limit.Configure({true, 12, 1, 4});
    EXPECT_TRUE(limit.Allow(QHostAddress("127.0.0.1")));
    EXPECT_FALSE(limit.Allow(Address("::ffff:127.0.0.1")));
    // New settings start every address afresh.
    limit.Configure({true, 12, 1, 4});
    EXPECT_TRUE(limit.Allow(Address("::ffff:127.0.0.1")));
}

TEST(RateLimit, SettingsFromTheRegistryKey)
{
    struct Value {
        const char* name;
        quint32 type;
        QByteArray data;
    };
    const auto D = [](const char* name, quint32 n) {
        return Value{name, platform::REG_DWORD, platform::DwordBytes(n)};
    };
    const auto T = [](const char* name, const char* text) {
        return Value{name, platform::REG_SZ, platform::SzBytes(text)};
    };
    struct Case {
        const char* name;
        QList<qint32> expected;    // on, interval, burst, leak
        std::vector<Value> values; // empty: no key at all
        const char* reported = ""; // in the event log, with the key and the outcome
        const char* outcome = "";
    };
    // clang-format off
    const Case cases[] = {
        {"no key", {false, 3, 8, 2}, {}},
        {"no interval", {false, 3, 4, 2}, {D("Burst", 4)}},
        {"interval alone", {true, 1, 8, 2}, {D("Interval", 1)}},
        {"all three, any case", {true, 0, 16, 4}, {D("interval", 0), D("BURST", 16), D("Leak", 4)}},
        {"negative as text", {true, -3, 8, 2}, {T("Interval", " -3 ")}},
        {"negative as a DWORD", {true, -3, 8, 2}, {D("Interval", 0xFFFFFFFDu)}},
        {"bad burst and leak keep their defaults", {true, 2, 8, 2}, {D("Interval", 2), D("Burst", 0), T("Leak", "often")},
         "Leak \"often\" is not a number from 1 to 4", "2 is used"},
        {"a bad interval leaves it off", {false, 3, 2, 2}, {D("Interval", 13), D("Burst", 2)},
         "Interval \"13\" is not a number from -19 to 12", "the limit is off"},
    };
    // clang-format on
    for (const Case& c : cases) {
        testsupport::ScopedHome home;
        settings::Options().setLoggingEvntOn(true);
        settings::Options().setLoggingEvntFileName(home.file("evntfile.txt"));
        for (const Value& v : c.values)
            loopback::SetMachineValue(service::kLimitsKey, v.name, v.type, v.data);
        const LimitSettings s = service::ReadLimits();
        EXPECT_EQ(QList<qint32>({s.on, s.interval, s.burst, s.leak}), c.expected) << c.name;
        const QString events = testsupport::ReadFile(home.file("evntfile.txt"));
        if (*c.reported) {
            EXPECT_TRUE(events.contains(QStringLiteral("Rate limit: %1 in HKLM\\%2; %3")
                                            .arg(c.reported, service::kLimitsKey, c.outcome)))
                << c.name << "\n"
                << events.toStdString();
        }
    }
}

} // namespace

// The rate limit: which requests of a peer are answered over time, and its
// settings as the registry key gives them.
#include "service/RateLimit.h"
#include "platform/RegistryStore.h"
#include "settings/AppState.h"
#include "settings/COptions.h"

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
    struct Request {
        qint64 atMs;
        const char* from;
    };
    struct Case {
        const char* name;
        LimitSettings settings;
        std::vector<Request> requests;
        const char* answered; // R: answered, -: not
    };
    const Case cases[] = {
        {"off", {}, {{0, "::1"}, {0, "::1"}, {0, "::1"}, {0, "::1"}}, "RRRR"},
        {"a burst of 3, then one a second",
         {true, 0, 3, 4},
         {{0, "::1"},
          {0, "::1"},
          {0, "::1"},
          {0, "::1"},
          {0, "::1"},
          {1000, "::1"},
          {1500, "::1"},
          {2000, "::1"}},
         "RRR--R-R"},
        {"every second one over the limit leaks",
         {true, -1, 1, 1},
         {{0, "::1"}, {100, "::1"}, {200, "::1"}, {300, "::1"}, {500, "::1"}, {1000, "::1"}},
         "R-R-RR"},
        {"each address on its own",
         {true, 12, 1, 4},
         {{0, "::ffff:10.0.0.1"},
          {0, "::ffff:10.0.0.1"},
          {0, "::ffff:10.0.0.2"},
          {1, "2001:db8::1"},
          {2, "::ffff:10.0.0.1"}},
         "R-RR-"},
    };
    for (const Case& c : cases) {
        RateLimit limit;
        limit.Configure(c.settings);
        QString answered;
        for (const Request& r : c.requests)
            answered += limit.AllowAt(Address(r.from), r.atMs * 1000000) ? 'R' : '-';
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
    struct Case {
        const char* name;
        std::vector<Value> values; // empty: no key at all
        bool on;
        qint32 interval, burst, leak;
        const char* reported = ""; // in the event log
    };
    using platform::DwordBytes;
    using platform::REG_DWORD;
    using platform::REG_SZ;
    using platform::SzBytes;
    const Case cases[] = {
        {"no key", {}, false, 3, 8, 2},
        {"no interval", {{"Burst", REG_DWORD, DwordBytes(4)}}, false, 3, 4, 2},
        {"interval alone", {{"Interval", REG_DWORD, DwordBytes(1)}}, true, 1, 8, 2},
        {"all three, any case",
         {{"interval", REG_DWORD, DwordBytes(0)},
          {"BURST", REG_DWORD, DwordBytes(16)},
          {"Leak", REG_DWORD, DwordBytes(4)}},
         true,
         0,
         16,
         4},
        {"negative as text", {{"Interval", REG_SZ, SzBytes(" -3 ")}}, true, -3, 8, 2},
        {"negative as a DWORD", {{"Interval", REG_DWORD, DwordBytes(0xFFFFFFFDu)}}, true, -3, 8, 2},
        {"bad burst and leak keep their defaults",
         {{"Interval", REG_DWORD, DwordBytes(2)},
          {"Burst", REG_DWORD, DwordBytes(0)},
          {"Leak", REG_SZ, SzBytes("often")}},
         true,
         2,
         8,
         2,
         "Rate limit: Leak \"often\" is not a number from 1 to 4 in "
         "HKLM\\SOFTWARE\\Nightcall\\Limits; 2 is used"},
        {"a bad interval leaves it off",
         {{"Interval", REG_DWORD, DwordBytes(13)}, {"Burst", REG_DWORD, DwordBytes(2)}},
         false,
         3,
         2,
         2,
         "Rate limit: Interval \"13\" is not a number from -19 to 12 in "
         "HKLM\\SOFTWARE\\Nightcall\\Limits; the limit is off"},
    };
    for (const Case& c : cases) {
        testsupport::ScopedHome home;
        settings::Options().setLoggingEvntOn(true);
        settings::Options().setLoggingEvntFileName(home.file("evntfile.txt"));
        if (!c.values.empty()) {
            platform::HKEY key = 0;
            ASSERT_EQ(platform::Registry().CreateKey(platform::HKEY_LOCAL_MACHINE,
                                                     service::kLimitsKey, key),
                      platform::ERROR_SUCCESS);
            for (const Value& v : c.values)
                platform::Registry().SetValue(key, QString::fromLatin1(v.name), v.type, v.data);
            platform::Registry().CloseKey(key);
        }
        const LimitSettings s = service::ReadLimits();
        EXPECT_EQ(s.on, c.on) << c.name;
        EXPECT_EQ(s.interval, c.interval) << c.name;
        EXPECT_EQ(s.burst, c.burst) << c.name;
        EXPECT_EQ(s.leak, c.leak) << c.name;
        EXPECT_TRUE(testsupport::ReadFile(home.file("evntfile.txt")).contains(c.reported))
            << c.name;
    }
}

} // namespace

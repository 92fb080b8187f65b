// One message from arrival to the clock being set, against a clock that
// stands still or the simulated clock file; the host clock is never touched.
#include "EngineTestSupport.h"
#include "timeset/CNISTtimeset.h"
#include "timeset/SyncStatus.h"
#include "timeset/TimeConversions.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <tuple>

using namespace timeset;
using enginetest::UtcMs;

namespace
{

class Driver : public enginetest::EngineFixture
{
protected:
    // Runs one message through a fresh engine with the zone read as the driver's callers do.
    CNISTtimeset Run(const QByteArray& message)
    {
        CNISTtimeset engine;
        engine.System_get_timezone();
        engine.DataArrived(message, display);
        return engine;
    }

    enginetest::RecordingDisplay display;
};

// A NIST line at a date and time ("yy-mm-dd hh:mm:ss"), with its daylight and
// health codes and its advance in ms.
QByteArray Nist(const char* dateTime, const char* dst = "00", const char* health = "0",
                const char* advance = "50.0")
{
    return QByteArray("60000 ") + dateTime + " " + dst + " 0 " + health + " " + advance +
           " UTC(NIST) *";
}

// What one message leads to: the result code, the trace line that says why
// nothing was set, every setting of the clock in order and the display calls.
TEST_F(Driver, ResultDecidesWhatIsSet)
{
    // Moments of 2026, UTC.
    const auto at = [](int month, int day, int hour, int minute, int second, int ms = 0) {
        return UtcMs(2026, month, day, hour, minute, second, ms);
    };
    const qint64 kNoon = at(12, 4, 12, 0, 0, 100);
    struct Case {
        qint16 format;
        QByteArray message;
        qint16 status;
        QString line = {};             // a trace line, not checked when empty
        std::vector<qint64> sets = {}; // in order
        qint64 clockMs = UtcMs(2026, 12, 4, 12, 0, 0, 100);
        const char* calls = ""; // display calls, not checked when empty
        const char* zone = "UTC";
        const char* entCmd = ""; // set before the message arrives
        bool noZone = false;     // the zone could not be read
        int refuse = 0;          // the errno of a clock that refuses the setting
        float leg = 0;           // the network leg, added to the fraction
    };
    const QByteArray sntp = enginetest::SntpPacket(at(12, 4, 12, 0, 3));
    // clang-format off
    const Case cases[] = {
        // Dates apart: the date only, the time of day kept. A century apart is another date,
        // though the two-digit years agree.
        {0, Nist("26-12-10 10:00:00"), StatusDatesChanged, "", {at(12, 10, 10, 0, 0, 250)}, at(12, 4, 10, 0, 0, 250)},
        {0, Nist("26-12-04 12:00:00"), StatusDatesChanged, "", {at(12, 4, 12, 0, 0)}, UtcMs(2126, 12, 4, 12, 0, 0)},
        // Over midnight: the time on today's date first, then the date. An advance up to 1000 ms
        // is no server error.
        {0, Nist("26-12-05 00:00:01", "00", "0", "1000.0"), StatusSettingMade, "",
            {at(12, 4, 0, 0, 1, 500), at(12, 5, 0, 0, 1, 500)}, at(12, 4, 23, 59, 59)},
        {0, "S+ 26-12-04 12:00:00 200", StatusBelowMinimum, "", {}, kNoon, "DisplayNoChange NISTdone"},
        {0, "F+ 26-12-04 12:00:00 200", StatusBelowMinimum, "", {at(12, 4, 12, 0, 0, 200)}, kNoon, "DisplaySync NISTdone"},
        // A forced four-byte time keeps no corrected time below the minimum:
        // the zero date is never set.
        {3, date_to_byte(rt::MakeDate(2026, 12, 4, 12, 0, 0)), StatusBelowMinimum, "", {}, kNoon,
            "DisplayNoChange NISTdone", "UTC", "F"},
        {0, Nist("26-07-01 12:00:00", "50", "0", "-5.0"), StatusSettingMade, "", {at(7, 1, 12, 0, 0, 500)}, at(7, 1, 11, 59, 0),
            "", "America/New_York"},
        {2, sntp, StatusTimeZoneError, "", {}, kNoon, "", "UTC", "", true},
        {0, Nist("26-12-04 12:00:00", "00", "1"), StatusServerError, "...Error in server"},
        {0, Nist("26-12-04 12:00:00", "00", "0", "1000.5"), StatusServerError, "...Error in server"},
        {2, enginetest::SntpPacket(at(12, 4, 12, 0, 3), 0x23), StatusServerError, "...Error in server"},
        {0, "garbage in", StatusParseError, "...Error in parsing"},
        {1, "Fri Dec 04 12:00:00 2026", StatusConversionError, "..Error in time conversion. No time set"},
        {7, Nist("26-12-04 12:00:00"), StatusUnknownFormat, "..Unknown timeserver format. No time set"},
        {0, Nist("26-12-04 13:00:00"), StatusAboveMaximum, "..Error 4 in time setting. No time set"},
        // A refused setting is reported and the status stays; .700, which a float
        // holds as .69999999, is 700 ms.
        {0, "S+ 26-12-04 12:00:05 700", StatusSettingMade, "Err:70, Desc:Permission denied, Origination: CNISTTimeset API\r\n"
            "ID: System_set_time 70, Msg:Time setting error - check permissions, Resp:0", {at(12, 4, 12, 0, 5, 700)}, kNoon,
            "", "UTC", "", false, EACCES},
        // The network leg carries whole seconds into the minute and the hour, never past midnight.
        {0, Nist("26-12-04 10:20:58"), StatusSettingMade, "", {at(12, 4, 10, 21, 0, 0)}, at(12, 4, 10, 20, 0),
            "", "UTC", "", false, 0, 1.5f},
        {0, Nist("26-12-04 10:59:59"), StatusSettingMade, "", {at(12, 4, 11, 0, 0, 500)}, at(12, 4, 10, 59, 0),
            "", "UTC", "", false, 0, 1.0f},
        {0, Nist("26-12-04 23:59:59"), StatusSettingMade, "Err:6, Desc:Overflow, Origination: CNISTTimeset API\r\n"
            "ID: System_set_time 70, Msg:Time setting error - check permissions, Resp:0", {}, at(12, 4, 23, 59, 0),
            "", "UTC", "", false, 0, 1.0f},
        // A console's two-digit year over midnight: the time, then the date, both in the console's
        // century (inside and just outside the two-digit window); the trace keeps the two-digit form.
        // Without a fraction whole seconds are set, not the clock's milliseconds.
        {0, "F+ 29-12-07 00:00:01 0", StatusSettingMade, "System_set_date to new date: 12/7/29",
            {UtcMs(2029, 12, 6, 0, 0, 1), UtcMs(2029, 12, 7, 0, 0, 1)}, UtcMs(2029, 12, 6, 23, 59, 59, 750)},
        {0, "F+ 30-12-07 00:00:01 0", StatusSettingMade, "System_set_date to new date: 12/7/30",
            {UtcMs(2030, 12, 6, 0, 0, 1), UtcMs(2030, 12, 7, 0, 0, 1)}, UtcMs(2030, 12, 6, 23, 59, 59, 750)},
    };
    // clang-format on
    options->setSetMaxThreshold(600);
    options->setServerTZDiff("9999"); // hours: no 16-bit count of minutes holds it
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message.left(40).constData());
        testsupport::ScopedHome home;
        testsupport::ScopedTrace trace(home.path());
        enginetest::ScopedZone zone(c.zone);
        options->setServerFormat(c.format);
        ClockAt(c.clockMs);
        clock->refuse = c.refuse;
        display.calls.clear();
        CNISTtimeset engine;
        engine.System_get_timezone();
        if (c.noZone)
            engine.setSystemTZbias(-1);
        engine.setEntCmd(c.entCmd);
        engine.setNISTLegTime(c.leg);
        engine.DataArrived(c.message, display);
        EXPECT_EQ(engine.SettingStatus(), c.status);
        EXPECT_EQ(clock->sets, c.sets);
        if (*c.calls) {
            EXPECT_EQ(display.calls.join(' '), c.calls);
        }
        EXPECT_TRUE(trace.Text().contains(c.line + "\r\n")) << c.line.toStdString();
        EXPECT_TRUE(trace.Text().contains("DATA ARRIVED DONE"));
    }
}

// Every ServerFormat and ServerConn against one message of each kind, each
// two seconds ahead: only the message of the chosen way sets the clock.
TEST_F(Driver, RoutesByServerFormatAndServerConn)
{
    const QByteArray messages[] = {
        "S+ 26-12-04 12:00:02 600", // console set string
        Nist("26-12-04 12:00:02"),  // NIST or ACTS line
        "Fri Dec 04 12:00:02 2026", // Daytime text
        enginetest::SntpPacket(UtcMs(2026, 12, 4, 12, 0, 2, 600)),
        date_to_byte(rt::MakeDate(2026, 12, 4, 12, 0, 2)), // four-byte time
    };
    constexpr qint16 S = StatusSettingMade, P = StatusParseError, U = StatusUnknownFormat;
    // UDP (ServerConn 1) routes as TCP does; direct dial (2) reads ACTS whatever the format.
    const struct {
        std::vector<qint16> formats;
        qint16 conn;
        qint16 status[5]; // per message above
    } rows[] = {
        {{0, 5}, 1, {S, S, P, P, P}},
        {{1}, 1, {P, P, S, P, P}},
        {{2}, 1, {P, P, P, S, P}},
        {{3, 4}, 1, {P, P, P, P, S}},
        {{-1, 6, 7, 99}, 1, {U, U, U, U, U}},
        {{-1, 0, 1, 2, 3, 4, 5, 6, 7}, 2, {P, S, P, P, P}},
    };
    for (const auto& row : rows)
        for (const qint16 format : row.formats) {
            options->setServerFormat(format);
            options->setServerConn(row.conn);
            for (int m = 0; m < 5; ++m) {
                SCOPED_TRACE(testing::Message() << "ServerFormat " << format << ", ServerConn "
                                                << row.conn << ", message " << m);
                ClockAt(UtcMs(2026, 12, 4, 12, 0, 0, 100));
                EXPECT_EQ(Run(messages[m]).SettingStatus(), row.status[m]);
                EXPECT_EQ(clock->sets.empty(), row.status[m] != S);
            }
        }
}

// Within the minute an SNTP time is set directly, to the millisecond, once;
// the same millisecond is in sync.
TEST_F(Driver, SntpSetsDirectlyToTheMillisecondWithinTheMinute)
{
    options->setServerFormat(2);
    options->setSetMinThreshold(0);
    const qint64 arrival = UtcMs(2026, 12, 4, 12, 30, 10, 500);
    // Server minus arrival in ms, and the difference in whole seconds and fraction.
    const std::tuple<qint64, qint32, float> cases[] = {
        {0, 0, 0}, {250, 0, 0.25f}, {-250, 0, -0.25f}, {1250, 1, 0.25f}, {-1250, -1, -0.25f}};
    for (const auto& [serverMs, diffSec, diffFrac] : cases) {
        SCOPED_TRACE(serverMs);
        ClockAt(arrival);
        const CNISTtimeset engine = Run(enginetest::SntpPacket(arrival + serverMs));
        EXPECT_EQ(engine.SettingStatus(), serverMs ? StatusSettingMade : StatusInSync);
        EXPECT_EQ(engine.SettingDifferenceSec(), diffSec);
        EXPECT_NEAR(engine.SettingDifferenceFrac(), diffFrac, 1e-4);
        EXPECT_EQ(clock->sets,
                  serverMs ? std::vector<qint64>{arrival + serverMs} : std::vector<qint64>{});
    }
}

TEST_F(Driver, HeartbeatReplies)
{
    const struct {
        QByteArray reply;
        bool isText;
        qint16 status;
        const char* upDown;
        const char* mac;
    } cases[] = {
        {"H+D 00:11:22:33:44:55", true, 10, "D", "00:11:22:33:44:55"},
        {"OK-H 00:11:22:33:44:55", true, 10, "", "00:11:22:33:44:55"},
        {QByteArray("\x01OK-H U\r\n", 9), false, 10, "", ""},
        {"NO", false, 99, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply.constData());
        enginetest::RecordingDisplay shown;
        CNISTtimeset engine;
        engine.HeartbeatOK("key7", c.reply, shown, c.isText);
        EXPECT_EQ(engine.SettingStatus(), c.status);
        EXPECT_EQ(shown.calls, QStringList{"HeartbeatDone"});
        EXPECT_EQ(shown.heartbeat, (QStringList{"key7", c.upDown, c.mac}));
    }
}

} // namespace

// Relay switching against pty relay boards: the commands the board sees,
// the read-back, timed switchings falling back; and malformed commands.
#include "service/RelaySwitching.h"

#include "RelayBoard.h"
#include "TestSupport.h"
#include "logging/ScopedTrace.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using service::RelaySwitching;

namespace
{

class RelaySwitchingTest : public ::testing::Test
{
protected:
    RelaySwitchingTest() : trace(dir.path()) {}

    QString relay(const QString& sData, qint16 nLocalCOM = 0)
    {
        sStatus = "stale";
        sLog = "stale";
        return relays.do_Relay(sData, nLocalCOM, sStatus, sLog);
    }

    QTemporaryDir dir;
    // Without a board COM1 is a device that does not exist.
    testsupport::ScopedEnv noBoard{"NCLMOD_COM1", dir.filePath("none").toLocal8Bit()};
    testsupport::ScopedTrace trace;
    RelaySwitching relays;
    QString sStatus;
    QString sLog;
};

} // namespace

// On a board whose input is on: the input only read; then a silent board;
// then latched switchings at the speeds the board knows, 9600 for others, and
// port 0 for the configured port; then timed ones.
TEST_F(RelaySwitchingTest, SwitchingSetsReadsAndCloses)
{
    e2e::RelayBoard board(4);
    ASSERT_TRUE(board.ok());
    testsupport::ScopedEnv com1("NCLMOD_COM1", board.agentDevice().toLocal8Bit());
    EXPECT_EQ(relay("X+2 whatever anything COM1 9600"), "OK");
    EXPECT_EQ(sStatus, "On");
    EXPECT_EQ(sLog, "Relay: Switch: 2, Port: COM1, Baud: 9600");
    EXPECT_EQ(board.commands(), QStringList({"R"}));
    EXPECT_FALSE(relays.MSComm1.PortOpen());

    e2e::RelayBoard muteBoard(0, true);
    ASSERT_TRUE(muteBoard.ok());
    testsupport::ScopedEnv com3("NCLMOD_COM3", muteBoard.agentDevice().toLocal8Bit());
    EXPECT_EQ(relay("X+0 On Latch COM3 9600"), "Failed.");
    EXPECT_EQ(sStatus, "Off");
    EXPECT_EQ(muteBoard.commands(), QStringList({"S 1", "R"}));

    EXPECT_EQ(relay("X+0 On Latch COM1 9600"), "OK");
    EXPECT_EQ(sStatus, "On");
    EXPECT_EQ(sLog, "Relay: Switch: 0 On Latch, Port: COM1, Baud: 9600");
    EXPECT_FALSE(relays.MSComm1.PortOpen());
    EXPECT_EQ(board.commands(), QStringList({"R", "S 1", "R"}));

    EXPECT_EQ(relay("X+1 On Latch COM1 4800 extra words"), "OK");
    EXPECT_EQ(relays.MSComm1.Settings(), "4800,N,8,1");
    EXPECT_EQ(relay("X+0 Off Latch COM1 2400"), "OK");
    EXPECT_EQ(sStatus, "Off");
    EXPECT_EQ(relays.MSComm1.Settings(), "2400,N,8,1");
    EXPECT_EQ(relay("X+1 On Latch COM1 7200"), "OK");
    EXPECT_EQ(relays.MSComm1.Settings(), "9600,N,8,1");
    EXPECT_EQ(board.commands(), QStringList({"R", "S 1", "R", "S 3", "R", "S 2", "R", "S 2", "R"}));
    EXPECT_EQ(relays.nBoardStatus, 2 + 4);

    testsupport::ScopedEnv com4("NCLMOD_COM4", board.agentDevice().toLocal8Bit());
    EXPECT_EQ(relay("X+0 On Latch COM0 9600", 4), "OK");
    EXPECT_EQ(relays.MSComm1.CommPort(), 4);

    // A timed switching falls back by itself, long ones in chunks of 62 s.
    const struct {
        const char* seconds;
        QList<int> intervals;
    } cases[] = {
        {"1", {800}}, {"62", {61800}}, {"63", {62000, 800}}, {"200", {62000, 62000, 62000, 13800}}};
    for (const auto& c : cases) {
        ASSERT_EQ(relay(QString("X+0 On %1 COM1 9600").arg(c.seconds)), "OK") << c.seconds;
        QList<int> intervals;
        while (relays.tmrRelay.isActive() && intervals.size() < 10) {
            intervals.append(relays.tmrRelay.interval());
            relays.tmrRelay_Timer();
        }
        EXPECT_EQ(intervals, c.intervals) << c.seconds;
        EXPECT_FALSE(relays.MSComm1.PortOpen());
        EXPECT_EQ(relays.nSwitch0State, 0);
    }
}

// Refused before the port is opened: a command that got through would fail
// on the missing board with a text of its own.
TEST_F(RelaySwitchingTest, MalformedCommandsSendNothing)
{
    // One command a line.
    const QStringList cases = QStringLiteral("X+0 On Latch COM1\n"
                                             "X+3 On Latch COM1 9600\nX+-1 On Latch COM1 9600\n"
                                             "X+0 on Latch COM1 9600\nX+0 ON Latch COM1 9600\n"
                                             "X+1 Of Latch COM1 9600\nX+0 On latch COM1 9600\n"
                                             "X+0 On 0 COM1 9600\nX+0 On -5 COM1 9600\n"
                                             "X+0 On soon COM1 9600\nX+0 On 1e12 COM1 9600\n"
                                             "X+0 On Latch COM0 9600\nX+0 On Latch LPT1 9600\n"
                                             "X+0 On Latch COM99999 9600\nX+0  On Latch COM1 9600\n"
                                             "X+0 On Latch COM1 1200\nX+0 On Latch COM1 19200\n"
                                             "X+0 On Latch COM1 fast\nX+2 On Latch COM1 2399\n"
                                             "X+0 On Latch COM-4 9600\nX+")
                                  .split('\n');
    for (const QString& sData : cases) {
        EXPECT_EQ(relay(sData), "") << sData.toStdString();
        EXPECT_EQ(sStatus, "") << sData.toStdString();
        EXPECT_EQ(sLog, "Relay: ") << sData.toStdString();
        EXPECT_FALSE(relays.MSComm1.PortOpen());
    }
    EXPECT_EQ(relay(""), "No command.");
    EXPECT_EQ(sLog, "Relay: ");
    EXPECT_EQ(relays.nSwitch0State, 0);
}

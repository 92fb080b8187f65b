// The polling cycle against loopback peers: which clients get a command,
// the command lines of every letter, the time check's difference, the
// setting decision, ping and wake-up, and the cycle's end.
#include "platform/SystemClock.h"

#include "ContactFixture.h"

#include <QDateTime>
#include <QNetworkDatagram>
#include <QRegularExpression>
#include <QUdpSocket>

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using contact::cClient;
using contacttest::FakePeer;
using loopback::WaitFor;

namespace
{

// A time-check reply whose clock is offsetMs ahead of this process's clock.
FakePeer::Answer TimeReply(qint64 offsetMs)
{
    return [offsetMs](const QString& request) -> QByteArray {
        if (!request.startsWith("T+"))
            return "Unknown";
        const QDateTime t =
            QDateTime::fromMSecsSinceEpoch(platform::Clock().NowUtcMs() + offsetMs, Qt::UTC);
        return "OK-T " + t.toString("yyyy-MM-dd H:mm:ss.zzz").toLatin1();
    };
}

QByteArray Ok(const QString& request)
{
    return "OK-" + request.left(1).toLatin1();
}

// The requests a peer got since the last call, joined by '|', then forgotten.
QString Take(FakePeer& peer)
{
    const QString got = peer.requests.join('|');
    peer.requests.clear();
    return got;
}

class ClientPollingTest : public contacttest::ContactFixture
{
protected:
    void SetUp() override
    {
        ContactFixture::SetUp();
        settings::Options().setClientKeyType(1);
        settings::Options().setControlFuncArgs(QString());
        settings::Options().setSetMinThreshold(500);
    }

    cClient* AddClient(const QString& name, const QString& address, qint16 status,
                       const QString& mac = QString())
    {
        qint16 id = 0;
        cClient* added =
            polling.Clients.Add(id, 1, 0, name, address, "", 0, 0, status, 0, mac, false, name);
        EXPECT_NE(added, nullptr) << name.toStdString();
        return added;
    }

    // Runs a whole cycle with this command letter; true when it ended.
    bool Poll(const QString& letter)
    {
        settings::Options().setControlFunction(letter);
        polling.StartPollingCycle();
        return WaitFor([&] { return settings::Options().ControlMode() == 2; }, 8000);
    }

    contact::ClientPolling& polling = contact.polling;
};

// Also: a client without a key is skipped, and a stop request ends the cycle.
TEST_F(ClientPollingTest, TimeCheckContactsActiveAndPassiveClientsAndSkipsInactiveOnes)
{
    FakePeer ahead("127.0.0.3", quint16(port), TimeReply(5000));
    FakePeer behind("127.0.0.4", quint16(port), TimeReply(-2500));
    FakePeer asleep("127.0.0.5", quint16(port), TimeReply(0));
    AddClient("", "127.0.0.6", cClient::StatusActive)->sKey.clear();
    AddClient("ahead", "127.0.0.3", cClient::StatusActive);
    AddClient("asleep", "127.0.0.5", cClient::StatusInactive);
    AddClient("behind", "127.0.0.4", cClient::StatusPassive);
    ASSERT_TRUE(Poll("T"));

    EXPECT_EQ(Take(ahead), "T+");
    EXPECT_EQ(Take(behind), "T+");
    EXPECT_EQ(asleep.connections, 0);
    // Off by no more than the contact's own delay, which the cycle measures.
    for (const auto& [key, offset] : {std::pair{"ahead", 5.0}, std::pair{"behind", -2.5}}) {
        const cClient* client = polling.Clients.Item(key);
        EXPECT_NEAR(client->sglTimeDiffSec, offset, (client->lContactDelaymsec + 5) / 1000.0);
    }
    EXPECT_EQ(polling.Clients.Item("ahead")->nContactCount, 1);
    EXPECT_EQ(polling.TreeIcons.value("asleep"), "Computer_Skip");
    EXPECT_EQ(polling.cmdManualCaption, "Start");
    EXPECT_FALSE(polling.MouseBusy);
    for (const char* line :
         {"Skipping empty key client, Name: , Addr: 127.0.0.6",
          "Poll: Skipping Inactive client: asleep", "GetRemoteTime: time check of 127.0.0.4"})
        EXPECT_TRUE(Logged(line)) << line;
    EXPECT_TRUE(Trace().contains(QRegularExpression(
        " Sending command \\(T\\) to 127\\.0\\.0\\.3 at \\d{1,2}:\\d\\d:\\d\\d\\.\\d{3}")));
    EXPECT_TRUE(Trace().trimmed().endsWith("...Completed polling of clients."));

    settings::Options().setControlFunction("T");
    polling.StartPollingCycle();
    polling.StopPolling = true;
    ASSERT_TRUE(WaitFor([&] { return settings::Options().ControlMode() == 2; }));
    EXPECT_EQ(ahead.connections, 1);
    EXPECT_FALSE(polling.StopPolling);
}

// Passive clients get neither commands nor settings; a setting goes only where
// the last difference exceeds the threshold (500 ms).
TEST_F(ClientPollingTest, CommandLinesOfEachLetterAndTheSettingThreshold)
{
    settings::Options().setControlFuncArgs("shutdown");
    FakePeer far("127.0.0.3", quint16(port), Ok);
    FakePeer near("127.0.0.4", quint16(port), Ok);
    FakePeer passive("127.0.0.5", quint16(port), Ok);
    AddClient("far", "127.0.0.3", cClient::StatusActive)->sglTimeDiffSec = -0.6f;
    AddClient("near", "127.0.0.4", cClient::StatusActive)->sglTimeDiffSec = -0.5f;
    AddClient("passive", "127.0.0.5", cClient::StatusPassive);
    ASSERT_TRUE(Poll("S"));
    EXPECT_EQ(near.connections, 0);
    EXPECT_TRUE(Take(far).startsWith("S+ ")); // the setting request, with the forced time
    EXPECT_TRUE(Trace().contains("...no need for time setting, sec diff: -0.5"));

    const struct {
        const char* letter;
        const char* expected; // what each active client gets
    } cases[] = {
        {"C", "C+shutdown"}, {"X", "X+shutdown"}, {"H", "H+shutdown"}, {"-", ""}, {"Q", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.letter);
        ASSERT_TRUE(Poll(c.letter));
        EXPECT_EQ(Take(far), c.expected);
        EXPECT_EQ(Take(near), c.expected);
    }
    EXPECT_TRUE(Trace().contains("(no command)"));

    // A forced setting sends the UTC time with half the contact delay added
    // to a reading taken during the cycle.
    polling.Clients.Item("far")->lContactDelaymsec = 40;
    const qint64 before = platform::Clock().NowUtcMs();
    ASSERT_TRUE(Poll("F"));
    const QString forced = Take(far);
    const QRegularExpressionMatch m =
        QRegularExpression("^F\\+ (\\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d) (\\d+)$")
            .match(forced);
    ASSERT_TRUE(m.hasMatch()) << forced.toStdString();
    QDateTime sent = QDateTime::fromString("20" + m.captured(1), "yyyy-MM-dd HH:mm:ss");
    sent.setTimeSpec(Qt::UTC);
    const qint64 sentMs = sent.toMSecsSinceEpoch() + m.captured(2).toLongLong();
    EXPECT_GE(sentMs, before + 20);
    EXPECT_LE(sentMs, platform::Clock().NowUtcMs() + 20);
    EXPECT_TRUE(Trace().contains("Millisecond portion: "));

    EXPECT_EQ(passive.connections, 0);
    EXPECT_EQ(Trace().count("Poll: Skipping Passive client: passive"), int(std::size(cases)) + 2);
}

// An echo needs an ICMP socket: root's raw one, or a datagram one when the
// user's group is in net.ipv4.ping_group_range.
bool IcmpSocketAvailable()
{
    for (int type : {SOCK_DGRAM, SOCK_RAW})
        if (const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP); fd >= 0)
            return ::close(fd) == 0;
    return false;
}

// Also: a wake-up for a client not in the list is traced and the cycle goes on.
TEST_F(ClientPollingTest, PingAndWakeUpThenTheCycleGoesOn)
{
    cClient* here = AddClient("here", "127.0.0.1", cClient::StatusPassive, "00-0C-29-3A-5B-7C");
    ASSERT_TRUE(Poll("P"));
    // Without an ICMP socket the ping fails, and the cycle still goes on.
    const bool pinged = IcmpSocketAvailable();
    EXPECT_EQ(here->nContactCount, pinged ? 1 : 0);
    EXPECT_EQ(Trace().contains("Ping 127.0.0.1: reply in "), pinged);

    QUdpSocket receiver;
    ASSERT_TRUE(receiver.bind(QHostAddress("127.0.0.1"), 0));
    testsupport::ScopedEnv wolPort("NCLMOD_WOL_PORT", QByteArray::number(receiver.localPort()));
    here->nStatus = cClient::StatusActive;
    settings::Options().setControlFuncArgs("127.0.0.1");
    ASSERT_TRUE(Poll("W"));
    ASSERT_TRUE(WaitFor([&] { return receiver.hasPendingDatagrams(); }));
    const QByteArray packet = receiver.receiveDatagram().data();
    EXPECT_EQ(packet, QByteArray(6, char(0xFF)) + QByteArray::fromHex("000C293A5B7C").repeated(16));
    EXPECT_TRUE(Trace().contains("WOL: "));

    polling.SendClientCommand("nobody", "127.0.0.9", "W");
    EXPECT_TRUE(
        Trace().contains("Error sending_command: 5 Desc: Invalid procedure call or argument"));
}

} // namespace

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

class ClientPollingTest : public contacttest::ContactFixture
{
protected:
    void SetUp() override
    {
        ContactFixture::SetUp();
        settings::COptions& options = settings::Options();
        options.setClientKeyType(1);
        options.setControlFuncArgs(QString());
        options.setSetMinThreshold(500);
    }

    void AddClient(const QString& name, const QString& address, qint16 status,
                   const QString& mac = QString())
    {
        qint16 id = 0;
        ASSERT_NE(
            polling.Clients.Add(id, 1, 0, name, address, "", 0, 0, status, 0, mac, false, name),
            nullptr);
    }

    // Runs a whole cycle with this command letter; true when it ended.
    bool Poll(const QString& letter, int timeoutMs = 8000)
    {
        settings::Options().setControlFunction(letter);
        polling.StartPollingCycle();
        return WaitFor([&] { return settings::Options().ControlMode() == 2; }, timeoutMs);
    }

    contact::ClientPolling& polling = contact.polling;
};

TEST_F(ClientPollingTest, TimeCheckContactsActiveAndPassiveClientsAndSkipsInactiveOnes)
{
    FakePeer ahead("127.0.0.3", quint16(port), TimeReply(5000));
    FakePeer behind("127.0.0.4", quint16(port), TimeReply(-2500));
    FakePeer asleep("127.0.0.5", quint16(port), TimeReply(0));
    AddClient("ahead", "127.0.0.3", cClient::StatusActive);
    AddClient("asleep", "127.0.0.5", cClient::StatusInactive);
    AddClient("behind", "127.0.0.4", cClient::StatusPassive);
    ASSERT_TRUE(Poll("T"));

    EXPECT_EQ(ahead.requests, QStringList{"T+"});
    EXPECT_EQ(behind.requests, QStringList{"T+"});
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

    const QString trace = Trace();
    EXPECT_TRUE(trace.contains("Poll: Skipping Inactive client: asleep"));
    EXPECT_TRUE(trace.contains(QRegularExpression(
        " Sending command \\(T\\) to 127\\.0\\.0\\.3 at \\d{1,2}:\\d\\d:\\d\\d\\.\\d{3}")));
    EXPECT_TRUE(trace.contains("GetRemoteTime: time check of 127.0.0.4"));
    EXPECT_TRUE(trace.trimmed().endsWith("...Completed polling of clients."));
}

TEST_F(ClientPollingTest, CommandLinesOfEachLetter)
{
    settings::Options().setControlFuncArgs("shutdown");
    FakePeer peer("127.0.0.3", quint16(port), Ok);
    FakePeer passive("127.0.0.4", quint16(port), Ok);
    AddClient("peer", "127.0.0.3", cClient::StatusActive);
    AddClient("passive", "127.0.0.4", cClient::StatusPassive);
    struct Case {
        QString letter;
        QStringList expected; // lines the active peer gets
    };
    const Case cases[] = {
        {"C", {"C+shutdown"}}, {"X", {"X+shutdown"}}, {"H", {"H+shutdown"}}, {"-", {}}, {"Q", {}}};
    for (const Case& c : cases) {
        peer.requests.clear();
        ASSERT_TRUE(Poll(c.letter)) << c.letter.toStdString();
        EXPECT_EQ(peer.requests, c.expected) << c.letter.toStdString();
    }
    // Passive clients get neither commands nor relay switching.
    EXPECT_EQ(passive.connections, 0);
    EXPECT_EQ(Trace().count("Poll: Skipping Passive client: passive"), int(std::size(cases)));
    EXPECT_TRUE(Trace().contains("(no command)"));
}

TEST_F(ClientPollingTest, ForcedSettingSendsTheUtcTimeWithHalfTheContactDelay)
{
    FakePeer peer("127.0.0.3", quint16(port), Ok);
    AddClient("peer", "127.0.0.3", cClient::StatusActive);
    polling.Clients.Item("peer")->lContactDelaymsec = 40;
    const qint64 before = platform::Clock().NowUtcMs();
    ASSERT_TRUE(Poll("F"));
    ASSERT_EQ(peer.requests.size(), 1);
    const QRegularExpressionMatch m =
        QRegularExpression("^F\\+ (\\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d) (\\d+)$")
            .match(peer.requests[0]);
    ASSERT_TRUE(m.hasMatch()) << peer.requests[0].toStdString();
    QDateTime sent = QDateTime::fromString("20" + m.captured(1), "yyyy-MM-dd HH:mm:ss");
    sent.setTimeSpec(Qt::UTC);
    const qint64 sentMs = sent.toMSecsSinceEpoch() + m.captured(2).toLongLong();
    // Half the delay is added to a reading taken during the cycle.
    EXPECT_GE(sentMs, before + 20);
    EXPECT_LE(sentMs, platform::Clock().NowUtcMs() + 20);
    EXPECT_TRUE(Trace().contains("Millisecond portion: "));
}

TEST_F(ClientPollingTest, SettingOnlyWhereTheLastDifferenceExceedsTheThreshold)
{
    FakePeer near("127.0.0.3", quint16(port), Ok);
    FakePeer far("127.0.0.4", quint16(port), Ok);
    AddClient("near", "127.0.0.3", cClient::StatusActive);
    AddClient("far", "127.0.0.4", cClient::StatusActive);
    polling.Clients.Item("near")->sglTimeDiffSec = -0.5f; // not above 500 ms
    polling.Clients.Item("far")->sglTimeDiffSec = -0.6f;
    ASSERT_TRUE(Poll("S"));
    EXPECT_EQ(near.connections, 0);
    ASSERT_EQ(far.requests.size(), 1);
    EXPECT_TRUE(far.requests[0].startsWith("S+ ")); // the setting request, with the forced time
    EXPECT_TRUE(Trace().contains("...no need for time setting, sec diff: -0.5"));
}

// An echo needs an ICMP socket: root's raw one, or a datagram one when the
// user's group is in net.ipv4.ping_group_range.
bool IcmpSocketAvailable()
{
    for (int type : {SOCK_DGRAM, SOCK_RAW}) {
        const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (fd >= 0) {
            ::close(fd);
            return true;
        }
    }
    return false;
}

TEST_F(ClientPollingTest, PingAndWakeUpThenTheCycleGoesOn)
{
    AddClient("here", "127.0.0.1", cClient::StatusPassive, "00-0C-29-3A-5B-7C");
    ASSERT_TRUE(Poll("P"));
    if (IcmpSocketAvailable()) {
        EXPECT_TRUE(Trace().contains("Ping 127.0.0.1: reply in "));
        EXPECT_EQ(polling.Clients.Item("here")->nContactCount, 1);
    } else {
        // Without one the ping fails, and the cycle still goes on.
        EXPECT_EQ(polling.Clients.Item("here")->nContactCount, 0);
    }

    QUdpSocket receiver;
    ASSERT_TRUE(receiver.bind(QHostAddress("127.0.0.1"), 0));
    testsupport::ScopedEnv wolPort("NCLMOD_WOL_PORT", QByteArray::number(receiver.localPort()));
    polling.Clients.Item("here")->nStatus = cClient::StatusActive;
    settings::Options().setControlFuncArgs("127.0.0.1");
    ASSERT_TRUE(Poll("W"));
    ASSERT_TRUE(WaitFor([&] { return receiver.hasPendingDatagrams(); }));
    const QByteArray packet = receiver.receiveDatagram().data();
    ASSERT_EQ(packet.size(), 102);
    EXPECT_EQ(packet.left(6), QByteArray(6, char(0xFF)));
    EXPECT_EQ(packet.mid(6, 6), QByteArray::fromHex("000C293A5B7C"));
    EXPECT_TRUE(Trace().contains("WOL: "));
}

TEST_F(ClientPollingTest, MissingClientsAndStopRequestsEndTheCycle)
{
    // No such client for a wake-up: the error is traced and the cycle goes on.
    polling.SendClientCommand("nobody", "127.0.0.9", "W");
    EXPECT_TRUE(
        Trace().contains("Error sending_command: 5 Desc: Invalid procedure call or argument"));

    FakePeer peer("127.0.0.3", quint16(port), TimeReply(0));
    AddClient("", "127.0.0.6", cClient::StatusActive);
    polling.Clients.Item(1)->sKey.clear();
    AddClient("peer", "127.0.0.3", cClient::StatusActive);
    ASSERT_TRUE(Poll("T"));
    EXPECT_TRUE(Trace().contains("Skipping empty key client, Name: , Addr: 127.0.0.6"));
    EXPECT_EQ(peer.connections, 1);

    settings::Options().setControlFunction("T");
    polling.StartPollingCycle();
    polling.StopPolling = true;
    ASSERT_TRUE(WaitFor([&] { return settings::Options().ControlMode() == 2; }));
    EXPECT_EQ(peer.connections, 1);
    EXPECT_FALSE(polling.StopPolling);
}

} // namespace

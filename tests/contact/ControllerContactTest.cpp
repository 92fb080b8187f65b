// The outbound contact on loopback, on a clock that stands still: the
// heartbeat exchange and its texts, a missing or silent controller; and the
// polling cycle that drives the same contact: which clients get a command, the
// command lines of every letter, the time check's difference, the setting
// decision, ping and wake-up, and the cycle's end.
#include "contact/ControllerContact.h"
#include "timeset/CNISTtimeset.h"

#include "FakePeer.h"
#include "ListenerFixture.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QRegularExpression>
#include <QTimer>
#include <QUdpSocket>

#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using contact::cClient;
using contacttest::FakePeer;
using testsupport::WaitFor;

namespace
{

// A peer's answer to every request.
FakePeer::Answer Says(const QByteArray& reply)
{
    return [reply](const QString&) { return reply; };
}

// The requests a peer got since the last call, joined by '|', then forgotten.
QString Take(FakePeer& peer)
{
    const QString got = peer.requests.join('|');
    peer.requests.clear();
    return got;
}

// A main window that makes the engine on demand, records what the heartbeat's
// completion hands it and then releases the engine.
class Window : public enginetest::RecordingDisplay
{
public:
    void HeartbeatDone(const QString& key, const QString& upDown, const QString& mac) override
    {
        RecordingDisplay::HeartbeatDone(key, upDown, mac);
        engine.reset();
    }
    timeset::CNISTtimeset& Engine()
    {
        if (!engine)
            engine = std::make_unique<timeset::CNISTtimeset>();
        return *engine;
    }

    std::unique_ptr<timeset::CNISTtimeset> engine;
};

// This agent's listener on 127.0.0.2 and its outbound contact; the controller
// and the polled computers are other loopback addresses on the same port.
class ControllerContactTest : public loopback::ListenerFixture
{
protected:
    ControllerContactTest() : ListenerFixture("127.0.0.2") {}
    void SetUp() override
    {
        ListenerFixture::SetUp();
        settings::COptions& options = settings::Options();
        options.setClientKeyType(1);
        options.setControlFuncArgs(QString());
        options.setSetMinThreshold(500);
        options.setMACaddr(QStringLiteral("00-0C-29-3A-5B-7C"));
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

    enginetest::ScopedOptions savedOptions;
    Window window;
    contact::ControllerContact contact{
        listener, window, [this]() -> timeset::CNISTtimeset& { return window.Engine(); }};
    contact::ClientPolling& polling = contact.polling;
    testsupport::StillClock clock{1773133200123}; // 2026-03-10 09:00:00.123 UTC
};
using ClientPollingTest = ControllerContactTest;

TEST_F(ControllerContactTest, HeartbeatReachesControllerAndItsReplyTheEngine)
{
    // The listener on the same address and port as the outbound socket.
    listener.serv_init(0);
    ASSERT_EQ(listener.tcpServer.Item(0)->State(), platform::SocketControl::sckListening);
    FakePeer controller("127.0.0.1", quint16(port), Says("OK-H U 00-0C-29-3A-5B-7C"));
    settings::Options().setServerFormat(2);
    contact.Heartbeat("127.0.0.1", settings::Options().MACaddr(), "U");
    ASSERT_TRUE(WaitFor([&] { return !window.heartbeat.isEmpty(); }));
    EXPECT_EQ(controller.requests, QStringList{"H+U 00-0C-29-3A-5B-7C"});
    EXPECT_EQ(window.heartbeat, QStringList({"127.0.0.1", "U", "00-0C-29-3A-5B-7C"}));
    EXPECT_FALSE(contact.tmrServer.isActive());
    EXPECT_EQ(contact.tcpClient.State(), 0);
    EXPECT_EQ(settings::Options().ControlMode(), 1);
    EXPECT_EQ(settings::Options().ControlFunction(), "H");
    // A contact switches the time format to its own text over TCP.
    EXPECT_EQ(settings::Options().ServerFormat(), 0);

    const QString at = QString::number(port);
    for (const QString& line : QStringList{
             "---------Starting Heartbeat to 127.0.0.1, MAC: 00-0C-29-3A-5B-7C, U-p/D-wn:U",
             "<NCL MOD connecting to console 127.0.0.1 with Func H", "<   via TCP using port " + at,
             "---------Done with Hearbeat", "Connection took ",
             ">ClientData arrived: _OK-H U 00-0C-29-3A-5B-7C_ from 127.0.0.1 on local port " + at,
             "HEARTBEAT OK Event", "U-p or D-wn: U", "---Single Client Mode (done)---"})
        EXPECT_TRUE(Logged(line)) << line.toStdString();
    // The listener kept listening through the contact.
    EXPECT_EQ(listener.tcpServer.Item(0)->State(), platform::SocketControl::sckListening);
}

// Nobody listening costs only trace lines; a controller that takes the
// contact and says nothing is cut off by the watchdog after two seconds.
TEST_F(ControllerContactTest, SilentControllerIsClosedByTheWatchdogAfterTwoSeconds)
{
    contact.Heartbeat("127.0.0.1", settings::Options().MACaddr(), "U");
    ASSERT_TRUE(WaitFor([&] { return Trace().contains("---Single Client Mode (done)---"); }, 4000));
    for (const char* line :
         {"Client Winsock Error: 10061\r\nConnection is forcefully rejected",
          "Msg:Error connecting", "ID: cmdConnect 123", "]:  0   Default. Closed",
          " Client closed - connection with client failed."})
        EXPECT_TRUE(Logged(QString::fromLatin1(line))) << line;
    EXPECT_EQ(contact.tcpClient.State(), 0);
    const qsizetype unreachable = Trace().size();

    FakePeer controller("127.0.0.1", quint16(port), nullptr);
    QElapsedTimer timer;
    timer.start();
    qint64 referenceMs = -1;
    qint64 firedMs = -1;
    QTimer::singleShot(2000, Qt::PreciseTimer, [&] { referenceMs = timer.elapsed(); });
    QObject::connect(&contact.tmrServer, &QTimer::timeout, [&] { firedMs = timer.elapsed(); });
    contact.Heartbeat("127.0.0.1", settings::Options().MACaddr(), "U");
    const qint64 startedMs = timer.elapsed();
    ASSERT_TRUE(WaitFor([&] { return controller.requests.size() == 1; }));
    ASSERT_TRUE(WaitFor([&] { return Trace().contains("No more tries.   "); }, 6000));
    // Two seconds after the start (the watchdog is a precise timer), and about
    // as late as a precise 2 s timer started beside it.
    ASSERT_TRUE(WaitFor([&] { return referenceMs >= 0; }));
    EXPECT_GE(firedMs, 1900);
    EXPECT_LE(firedMs, referenceMs + startedMs + 200);
    EXPECT_EQ(contact.tcpClient.State(), 0);
    EXPECT_FALSE(contact.tmrServer.isActive());
    const QString trace = Trace().mid(unreachable);
    for (const char* line : {": SERVER TIMEOUT: 0   ", "]:  7   Connected",
                             "TIMEOUT: Closing the connection", " Connection with client failed."})
        EXPECT_TRUE(trace.contains(QString::fromLatin1(line))) << line;
    EXPECT_TRUE(trace.indexOf("---Single Client Mode (done)---") > trace.indexOf("No more tries."));
    EXPECT_TRUE(window.calls.isEmpty());
}

// Also: a client without a key is skipped, and a stop request ends the cycle.
TEST_F(ClientPollingTest, TimeCheckContactsActiveAndPassiveClientsAndSkipsInactiveOnes)
{
    FakePeer ahead("127.0.0.3", quint16(port), Says("OK-T 2026-03-10 9:00:05.123"));
    FakePeer behind("127.0.0.4", quint16(port), Says("OK-T 2026-03-10 8:59:57.623"));
    FakePeer asleep("127.0.0.5", quint16(port), nullptr);
    AddClient("", "127.0.0.6", cClient::StatusActive)->sKey.clear();
    AddClient("ahead", "127.0.0.3", cClient::StatusActive);
    AddClient("asleep", "127.0.0.5", cClient::StatusInactive);
    AddClient("behind", "127.0.0.4", cClient::StatusPassive);
    ASSERT_TRUE(Poll("T"));

    EXPECT_EQ(Take(ahead), "T+");
    EXPECT_EQ(Take(behind), "T+");
    EXPECT_EQ(asleep.connections, 0);
    // The reply is taken as made half-way through the contact, whose delay the cycle measures.
    for (const auto& [key, offsetMs] : {std::pair{"ahead", 5000}, std::pair{"behind", -2500}}) {
        const cClient* client = polling.Clients.Item(key);
        EXPECT_FLOAT_EQ(client->sglTimeDiffSec,
                        float((offsetMs + client->lContactDelaymsec / 2.0) / 1000));
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
    FakePeer far("127.0.0.3", quint16(port), Says("OK"));
    FakePeer near("127.0.0.4", quint16(port), Says("OK"));
    FakePeer passive("127.0.0.5", quint16(port), Says("OK"));
    AddClient("far", "127.0.0.3", cClient::StatusActive)->sglTimeDiffSec = -0.6f;
    AddClient("near", "127.0.0.4", cClient::StatusActive)->sglTimeDiffSec = -0.5f;
    AddClient("passive", "127.0.0.5", cClient::StatusPassive);
    ASSERT_TRUE(Poll("S"));
    EXPECT_EQ(near.connections, 0);
    EXPECT_EQ(Take(far), "S+ 26-03-10 09:00:00 123"); // a forced setting, without a contact delay
    EXPECT_TRUE(Trace().contains("...no need for time setting, sec diff: -0.5"));

    const struct {
        const char* letter;
        const char* expected; // what each active client gets
    } cases[] = {{"C", "C+shutdown"}, {"X", "X+shutdown"}, {"-", ""}, {"Q", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.letter);
        ASSERT_TRUE(Poll(c.letter));
        EXPECT_EQ(Take(far), c.expected);
        EXPECT_EQ(Take(near), c.expected);
    }
    EXPECT_TRUE(Trace().contains("(no command)"));

    // A forced setting adds half the contact delay to the milliseconds.
    polling.Clients.Item("far")->lContactDelaymsec = 40;
    ASSERT_TRUE(Poll("F"));
    EXPECT_EQ(Take(far), "F+ 26-03-10 09:00:00 143");
    EXPECT_TRUE(Trace().contains("Millisecond portion: 143"));

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

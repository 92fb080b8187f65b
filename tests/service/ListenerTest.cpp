// The listener on real loopback sockets: the TCP exchange and the element
// rotation, refused requests, UDP, the close rounds giving up, resets after
// errors, failures to listen, the bind address and the log line texts.
#include "service/Listener.h"
#include "logging/DebugLog.h"
#include "platform/SystemClock.h"
#include "runtime/DateTime.h"
#include "schedule/SimulatedWaitClock.h"
#include "schedule/WaitClock.h"
#include "settings/AppState.h"
#include "settings/COptions.h"

#include "LoopbackSupport.h"
#include "TestSupport.h"

#include <QNetworkDatagram>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

using loopback::WaitFor;
using platform::SocketControl;

namespace
{

class ListenerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        settings::App().ModuleType = QStringLiteral("M");
        port = loopback::FreePort();
        ASSERT_NE(port, 0);
        settings::Options().setTCPPort(port);
        settings::Options().setClientFormat(0);
        settings::Options().setServername(QString());
        listener.SetRequestDataHandler([this](qint16 index, const QByteArray& data) {
            received.push_back({index, data});
        });
    }

    bool Logged(const QString& text) const { return debug.Text().contains(text); }

    testsupport::ScopedHome home;
    testsupport::ScopedEnv bindAddress{"NCLMOD_BIND_ADDRESS", "127.0.0.1"};
    loopback::DebugCapture debug{home.file("DebugFile.txt")};
    qint16 port = 0;
    service::Listener listener;
    std::vector<std::pair<qint16, QByteArray>> received;
};

TEST_F(ListenerTest, TcpExchangeRotatesElementsAndListensAgain)
{
    QStringList status;
    QObject::connect(&listener, &service::Listener::StatusText,
                     [&status](const QString& text) { status << text; });
    listener.serv_init(0);
    ASSERT_EQ(listener.tcpServer.Item(0)->State(), SocketControl::sckListening);

    for (qint16 round = 1; round <= 3; ++round) {
        QTcpSocket peer;
        peer.connectToHost(QHostAddress::LocalHost, quint16(port));
        ASSERT_TRUE(WaitFor([&] {
            const SocketControl* e = listener.tcpServer.Item(round);
            return e && e->State() == SocketControl::sckConnected;
        })) << "round "
            << round;
        EXPECT_EQ(listener.CurrentInstance, round);
        EXPECT_TRUE(listener.tcpServer.Exists(0));
        // From the second connection on the previous element is destroyed.
        if (round >= 2) {
            EXPECT_FALSE(listener.tcpServer.Exists(qint16(round - 1)));
        }

        const QByteArray request = "T+" + QByteArray::number(round);
        peer.write(request);
        ASSERT_TRUE(WaitFor([&] { return received.size() == size_t(round); }));
        EXPECT_EQ(received.back(), std::make_pair(round, request));

        peer.disconnectFromHost();
        ASSERT_TRUE(WaitFor([&] {
            return listener.tcpServer.Item(round)->State() == SocketControl::sckListening;
        })) << "round "
            << round;
    }
    EXPECT_EQ(listener.tcpServer.Count(), 2);
    EXPECT_FALSE(listener.ListenerNeedsReset);

    const QString p = QString::number(port);
    const QString log = debug.Text();
    EXPECT_TRUE(log.contains("Service server listening on TCP port " + p + "\r\n"));
    EXPECT_TRUE(log.contains("<SVC MOD: connection request from server on remote port "));
    EXPECT_TRUE(log.contains(" TCP, NIST  format\r\n"));
    EXPECT_TRUE(log.contains(">SVC MOD: server requests close...\r\n"));
    EXPECT_TRUE(log.contains(">SVC MOD: Resetting port. Index 1\r\n"));
    EXPECT_TRUE(log.contains("Reset_Server: state 2 on port " + p + "\r\n"));
    EXPECT_TRUE(
        log.contains(QRegularExpression(R"(State \[\d\d:\d\d:\d\d\]:  2   Listening\r\n)")));
    EXPECT_TRUE(log.contains(QRegularExpression(R"(Conn Req at: \d{1,2}:\d\d:\d\d\.\d{3}\r\n)")));
    ASSERT_EQ(status.size(), 3);
    EXPECT_TRUE(status[0].endsWith(" Connection request from server..."));
}

TEST_F(ListenerTest, RequestsOfOtherClientFormatsAreOnlyLogged)
{
    struct Case {
        qint16 clientFormat;
        const char* line;
    };
    const Case cases[] = {{2, " UDP, STNP format (ERROR)\r\n"},
                          {3, "Connection rquest from unknown client format!\r\n"}};
    listener.serv_init(0);
    for (const Case& c : cases) {
        settings::Options().setClientFormat(c.clientFormat);
        QTcpSocket peer;
        peer.connectToHost(QHostAddress::LocalHost, quint16(port));
        ASSERT_TRUE(WaitFor([&] { return Logged(c.line); })) << c.clientFormat;
        // Not accepted: the peer is let go and nothing rotates.
        EXPECT_TRUE(WaitFor([&] { return peer.state() == QAbstractSocket::UnconnectedState; }));
        EXPECT_EQ(listener.CurrentInstance, 0);
        EXPECT_EQ(listener.tcpServer.Count(), 1);
        EXPECT_EQ(listener.tcpServer.Item(0)->State(), SocketControl::sckListening);
    }
}

TEST_F(ListenerTest, UdpElementBindsReceivesAndAnswersTheSender)
{
    settings::Options().setClientFormat(2);
    listener.serv_init(0);
    SocketControl* element = listener.tcpServer.Item(0);
    ASSERT_EQ(element->State(), SocketControl::sckOpen);
    EXPECT_TRUE(Logged("Service server listening on UDP port " + QString::number(port) + "\r\n"));

    QUdpSocket peer;
    ASSERT_TRUE(peer.bind(QHostAddress::LocalHost, 0));
    peer.writeDatagram("H+", QHostAddress::LocalHost, quint16(port));
    peer.writeDatagram(QByteArray(48, '\x1b'), QHostAddress::LocalHost, quint16(port));
    ASSERT_TRUE(WaitFor([&] { return received.size() == 2; }));
    EXPECT_EQ(received[0].second, QByteArray("H+"));
    EXPECT_EQ(received[1].second, QByteArray(48, '\x1b'));
    EXPECT_EQ(element->RemoteHostIP(), "127.0.0.1");
    EXPECT_EQ(element->RemotePort(), peer.localPort());

    ASSERT_TRUE(element->SendData(QByteArray("OK-H")));
    ASSERT_TRUE(WaitFor([&] { return peer.hasPendingDatagrams(); }));
    EXPECT_EQ(peer.receiveDatagram().data(), QByteArray("OK-H"));
}

// A raw peer that never reads, so a large reply can never drain.
int ConnectRawPeer(qint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(quint16(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

TEST_F(ListenerTest, ResetGivesUpWhenTheConnectionNeverCloses)
{
    listener.serv_init(0);
    const int peer = ConnectRawPeer(port);
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(WaitFor([&] { return listener.tcpServer.Exists(1); }));
    SocketControl* element = listener.tcpServer.Item(1);
    ASSERT_TRUE(element->SendData(QByteArray(64 * 1024 * 1024, 'x')));
    loopback::Spin(50);

    schedule::SimulatedWaitClock clock(1'000'000, rt::MakeDate(2026, 3, 2, 12, 0, 0));
    schedule::SetWaitClockForTesting(&clock);
    listener.reset_server(1);
    schedule::SetWaitClockForTesting(nullptr);
    ::close(peer);

    EXPECT_TRUE(Logged("reset_server: failed to close connection\r\n"));
    EXPECT_FALSE(Logged("Reset_Server: state"));
    // Five rounds of 100 ms and 2 s pauses.
    EXPECT_EQ(clock.Tick() - 1'000'000, 5 * 2100);
    EXPECT_NE(element->State(), SocketControl::sckListening);
    EXPECT_FALSE(listener.ListenerNeedsReset);
}

TEST_F(ListenerTest, ErrorEventResetsTheElementToListening)
{
    listener.serv_init(0);
    listener.serv_init(0); // already listening: unchanged
    listener.Error(0, 10053, QStringLiteral("Connection is aborted"));
    EXPECT_TRUE(Logged("Server Winsock Error: 10053\r\nConnection is aborted\r\n"));
    EXPECT_EQ(listener.tcpServer.Item(0)->State(), SocketControl::sckListening);
    EXPECT_FALSE(listener.ListenerNeedsReset);

    QTcpSocket peer;
    peer.connectToHost(QHostAddress::LocalHost, quint16(port));
    EXPECT_TRUE(WaitFor([&] { return listener.CurrentInstance == 1; }));
}

TEST_F(ListenerTest, PortHeldByAnotherProgramIsReported)
{
    QTcpServer other; // without port reuse
    ASSERT_TRUE(other.listen(QHostAddress::LocalHost, quint16(port)));
    listener.serv_init(0);
    EXPECT_EQ(listener.tcpServer.Item(0)->State(), SocketControl::sckClosed);
    const QString log = debug.Text();
    EXPECT_TRUE(log.contains("Err:10048, Desc:Address in use")) << log.toStdString();
    EXPECT_TRUE(log.contains("ID: serv_init 25, Msg:Can't init server."));
    EXPECT_FALSE(log.contains("Service server listening"));
}

TEST_F(ListenerTest, ListensOnlyOnTheConfiguredAddress)
{
    testsupport::ScopedEnv other("NCLMOD_BIND_ADDRESS", "127.0.0.2");
    listener.serv_init(0);
    QTcpSocket wrong;
    wrong.connectToHost(QHostAddress("127.0.0.1"), quint16(port));
    EXPECT_FALSE(wrong.waitForConnected(2000));
    QTcpSocket right;
    right.connectToHost(QHostAddress("127.0.0.2"), quint16(port));
    EXPECT_TRUE(WaitFor([&] { return listener.CurrentInstance == 1; }));
}

TEST_F(ListenerTest, StateLineNamesEveryState)
{
    const char* names[] = {" UNKNOWN",
                           " 0   Default. Closed",
                           "1   Open",
                           " 2   Listening",
                           " 3   Connection pending",
                           " 4   Resolving host",
                           " 5   Host resolved",
                           " 6   Connecting",
                           " 7   Connected",
                           " 8   Peer is closing the connection",
                           " 9   Error",
                           " UNKNOWN"};
    for (qint16 state = -1; state <= 10; ++state) {
        EXPECT_EQ(listener.LogState(state), state);
        const QString line = QStringLiteral("]: ") + names[state + 1] + QStringLiteral("\r\n");
        EXPECT_TRUE(debug.Text().endsWith(line)) << state;
    }
}

class FixedClock : public platform::SystemClock
{
public:
    explicit FixedClock(qint64 utcMs) : m_utcMs(utcMs) {}
    qint64 NowUtcMs() const override { return m_utcMs; }
    bool SetUtcMs(qint64, int&) override { return false; }

private:
    qint64 m_utcMs;
};

TEST_F(ListenerTest, ProtocolNamesAndUtcStamp)
{
    const std::pair<qint16, const char*> names[] = {{0, "TCP"}, {1, "TCP"}, {2, "UDP"},
                                                    {3, "TCP"}, {4, "UDP"}, {5, ""}};
    for (const auto& [format, name] : names)
        EXPECT_EQ(service::Listener::ProtocolName(format), name) << format;
    EXPECT_TRUE(Logged("Unknown format!\r\n"));

    // 2026-12-04 09:05:07.045 UTC and 20:55:06.000 UTC.
    const std::pair<qint64, const char*> stamps[] = {{1796375107045, "9:05:07.045"},
                                                     {1796417706000, "20:55:06.000"}};
    for (const auto& [utcMs, text] : stamps) {
        FixedClock clock(utcMs);
        platform::SetClockForTesting(&clock);
        EXPECT_EQ(service::Listener::UtcStamp(), text);
        platform::SetClockForTesting(nullptr);
    }
}

} // namespace

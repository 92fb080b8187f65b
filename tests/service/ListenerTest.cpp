// The listener on real loopback sockets: the TCP exchange and the element
// rotation, requests of other formats refused, overlapping exchanges, the
// close rounds giving up, resets after errors, failures to listen and the
// bind address.
#include "service/Listener.h"
#include "schedule/SimulatedWaitClock.h"
#include "schedule/WaitClock.h"

#include "ListenerFixture.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using platform::SocketControl;
using testsupport::WaitFor;

namespace
{

class ListenerTest : public loopback::ListenerFixture
{
protected:
    void SetUp() override
    {
        ListenerFixture::SetUp();
        listener.SetRequestDataHandler([this](qint16 index, const QByteArray& data) {
            received.push_back({index, data});
        });
    }

    bool InState(qint16 index, int state) const
    {
        const SocketControl* e = listener.tcpServer.Item(index);
        return e && e->State() == state;
    }
    bool Listening() const
    {
        return InState(listener.CurrentInstance, SocketControl::sckListening);
    }
    bool Connected(qint16 index) const { return InState(index, SocketControl::sckConnected); }

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
        ASSERT_TRUE(WaitFor([&] { return Connected(round); })) << "round " << round;
        EXPECT_EQ(listener.CurrentInstance, round);
        EXPECT_TRUE(listener.tcpServer.Exists(0));

        const QByteArray request = "T+" + QByteArray::number(round);
        peer.write(request);
        ASSERT_TRUE(WaitFor([&] { return received.size() == size_t(round); }));
        EXPECT_EQ(received.back(), std::make_pair(round, request));

        peer.disconnectFromHost();
        ASSERT_TRUE(WaitFor([&] { return InState(round, SocketControl::sckListening); }))
            << "round " << round;
    }
    EXPECT_EQ(listener.tcpServer.Count(), 2);
    EXPECT_FALSE(listener.ListenerNeedsReset);

    const QString p = QString::number(port);
    const QString log = Trace();
    for (const QString& line :
         {"Service server listening on TCP port " + p + "\r\n",
          QStringLiteral("<SVC MOD: connection request from server on remote port "),
          QStringLiteral(" TCP, NIST  format\r\n"),
          QStringLiteral(">SVC MOD: server requests close...\r\n"),
          QStringLiteral(">SVC MOD: Resetting port. Index 1\r\n"),
          "Reset_Server: state 2 on port " + p + "\r\n"})
        EXPECT_TRUE(log.contains(line)) << line.toStdString();
    EXPECT_TRUE(
        log.contains(QRegularExpression(R"(State \[\d\d:\d\d:\d\d\]:  2   Listening\r\n)")));
    EXPECT_TRUE(log.contains(QRegularExpression(R"(Conn Req at: \d{1,2}:\d\d:\d\d\.\d{3}\r\n)")));
    EXPECT_FALSE(log.contains("unloaded at the end of its exchange"));
    ASSERT_EQ(status.size(), 3);
    EXPECT_TRUE(status[0].endsWith(" Connection request from server..."));

    // Requests of other client formats are only logged: the peer is let go
    // and nothing rotates.
    struct Case {
        qint16 clientFormat;
        const char* line;
    };
    const Case cases[] = {{2, " UDP, STNP format (ERROR)\r\n"},
                          {3, "Connection rquest from unknown client format!\r\n"}};
    for (const Case& c : cases) {
        settings::Options().setClientFormat(c.clientFormat);
        QTcpSocket peer;
        peer.connectToHost(QHostAddress::LocalHost, quint16(port));
        ASSERT_TRUE(WaitFor([&] { return Logged(c.line); })) << c.clientFormat;
        EXPECT_TRUE(WaitFor([&] { return peer.state() == QAbstractSocket::UnconnectedState; }));
        EXPECT_EQ(listener.CurrentInstance, 3);
        EXPECT_EQ(listener.tcpServer.Count(), 2);
        EXPECT_TRUE(Listening());
    }
}

// A connection that comes while the previous exchange still runs does not
// cut it off: the busy element stays until its peer closes, then goes.
TEST_F(ListenerTest, OverlappingExchangeKeepsItsElementUntilItEnds)
{
    listener.serv_init(0);
    QTcpSocket first;
    first.connectToHost(QHostAddress::LocalHost, quint16(port));
    ASSERT_TRUE(WaitFor([&] { return Connected(1); }));
    QTcpSocket second;
    second.connectToHost(QHostAddress::LocalHost, quint16(port));
    ASSERT_TRUE(WaitFor([&] { return Connected(2); }));
    EXPECT_EQ(listener.CurrentInstance, 2);
    EXPECT_TRUE(Connected(1)) << "the first exchange still has its element";

    // The first console sends only now; both are served on their own elements.
    first.write("H+");
    second.write("T+");
    ASSERT_TRUE(WaitFor([&] { return received.size() == 2; }));
    std::sort(received.begin(), received.end());
    EXPECT_EQ(received, (decltype(received){{1, "H+"}, {2, "T+"}}));

    first.disconnectFromHost();
    ASSERT_TRUE(WaitFor([&] { return !listener.tcpServer.Exists(1); }));
    EXPECT_TRUE(Logged("Element 1 unloaded at the end of its exchange\r\n"));
    EXPECT_TRUE(Connected(2));
    second.disconnectFromHost();
    ASSERT_TRUE(WaitFor([&] { return Listening(); }));
    // From here on one by one again: the listening element goes at once.
    QTcpSocket third;
    third.connectToHost(QHostAddress::LocalHost, quint16(port));
    ASSERT_TRUE(WaitFor([&] { return Connected(3); }));
    EXPECT_FALSE(listener.tcpServer.Exists(2));
    EXPECT_EQ(listener.tcpServer.Count(), 2);
}

TEST_F(ListenerTest, ResetGivesUpWhenTheConnectionNeverCloses)
{
    listener.serv_init(0);
    // A peer that takes one byte and no more, so a large reply can never drain.
    QTcpSocket peer;
    peer.setReadBufferSize(1);
    peer.connectToHost(QHostAddress::LocalHost, quint16(port));
    ASSERT_TRUE(WaitFor([&] { return listener.tcpServer.Exists(1); }));
    SocketControl* element = listener.tcpServer.Item(1);
    ASSERT_TRUE(element->SendData(QByteArray(64 * 1024 * 1024, 'x')));
    testsupport::Spin(50);

    schedule::SimulatedWaitClock clock(1'000'000, rt::MakeDate(2026, 3, 2, 12, 0, 0));
    schedule::SetWaitClockForTesting(&clock);
    listener.reset_server(1);
    schedule::SetWaitClockForTesting(nullptr);

    EXPECT_TRUE(Logged("reset_server: failed to close connection\r\n"));
    EXPECT_FALSE(Logged("Reset_Server: state"));
    // Five rounds of 100 ms and 2 s pauses.
    EXPECT_EQ(clock.Tick() - 1'000'000, 5 * 2100);
    EXPECT_NE(element->State(), SocketControl::sckListening);
    EXPECT_FALSE(listener.ListenerNeedsReset);
}

// An error event resets the element to listening, on the configured address only.
TEST_F(ListenerTest, ErrorEventResetsTheElementToListeningOnItsAddress)
{
    testsupport::ScopedEnv other("NCLMOD_BIND_ADDRESS", "127.0.0.2");
    listener.serv_init(0);
    listener.serv_init(0); // already listening: unchanged
    listener.Error(0, 10053, QStringLiteral("Connection is aborted"));
    EXPECT_TRUE(Logged("Server Winsock Error: 10053\r\nConnection is aborted\r\n"));
    EXPECT_EQ(listener.tcpServer.Item(0)->State(), SocketControl::sckListening);
    EXPECT_FALSE(listener.ListenerNeedsReset);

    QTcpSocket wrong;
    wrong.connectToHost(QHostAddress("127.0.0.1"), quint16(port));
    EXPECT_FALSE(wrong.waitForConnected(2000));
    QTcpSocket right;
    right.connectToHost(QHostAddress("127.0.0.2"), quint16(port));
    EXPECT_TRUE(WaitFor([&] { return listener.CurrentInstance == 1; }));
}

TEST_F(ListenerTest, PortHeldByAnotherProgramIsReported)
{
    QTcpServer other; // without port reuse
    ASSERT_TRUE(other.listen(QHostAddress::LocalHost, quint16(port)));
    QStringList said;
    QObject::connect(
        &listener, &service::Listener::PortUnavailableAtStart,
        [&](qint32 number, const QString& text) { said << QString::number(number) + " " + text; });
    listener.serv_init(0);
    EXPECT_EQ(said, QStringList("10048 port " + QString::number(port) +
                                " is already in use by another program"));
    EXPECT_EQ(listener.tcpServer.Item(0)->State(), SocketControl::sckClosed);
    const QString log = Trace();
    EXPECT_TRUE(log.contains("Err:10048, Desc:Address in use")) << log.toStdString();
    EXPECT_TRUE(log.contains("ID: serv_init 25, Msg:Can't init server."));
    EXPECT_FALSE(log.contains("Service server listening"));
}

} // namespace

// The outbound contact on loopback: the heartbeat exchange and its texts, a
// missing or silent controller.
#include "ContactFixture.h"

#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

using contacttest::FakePeer;
using loopback::WaitFor;

namespace
{

class ControllerContactTest : public contacttest::ContactFixture
{
protected:
    void SetUp() override
    {
        ContactFixture::SetUp();
        settings::COptions& options = settings::Options();
        options.setClientKeyType(0);
        options.setServername(QStringLiteral("127.0.0.1"));
        options.setMACaddr(QStringLiteral("00-0C-29-3A-5B-7C"));
        options.setServerFormat(2);
    }
    enginetest::ScopedOptions savedOptions;
};

QByteArray EchoHeartbeat(const QString& request)
{
    return "OK-H " + request.mid(2).toLatin1();
}

TEST_F(ControllerContactTest, HeartbeatReachesControllerAndItsReplyTheEngine)
{
    // The listener on the same address and port as the outbound socket.
    listener.serv_init(0);
    ASSERT_EQ(listener.tcpServer.Item(0)->State(), platform::SocketControl::sckListening);
    FakePeer controller("127.0.0.1", quint16(port), EchoHeartbeat);
    ASSERT_TRUE(controller.listening());

    QElapsedTimer exchange;
    exchange.start();
    contact.Heartbeat("127.0.0.1", settings::Options().MACaddr(), "U");
    ASSERT_TRUE(WaitFor([&] { return !window.done.isEmpty(); }));
    const qint64 exchangeMs = exchange.elapsed();
    EXPECT_EQ(controller.requests, QStringList{"H+U 00-0C-29-3A-5B-7C"});
    EXPECT_EQ(window.done, QStringList{"127.0.0.1|U|00-0C-29-3A-5B-7C"});
    // The leg time is part of the exchange this test timed around it.
    EXPECT_GE(window.legTime, 0.0f);
    EXPECT_LE(window.legTime, exchangeMs / 1000.0f);
    EXPECT_FALSE(contact.tmrServer.isActive());
    EXPECT_EQ(contact.tcpClient.State(), 0);
    EXPECT_EQ(settings::Options().ControlMode(), 1);
    EXPECT_EQ(settings::Options().ControlFunction(), "H");
    // A contact switches the time format to its own text over TCP.
    EXPECT_EQ(settings::Options().ServerFormat(), 0);

    const QString trace = Trace();
    for (const char* line :
         {"---------Starting Heartbeat to 127.0.0.1, MAC: 00-0C-29-3A-5B-7C, U-p/D-wn:U",
          "<NCL MOD connecting to console 127.0.0.1 with Func H",
          "<   via TCP using port " /* + port */, "---------Done with Hearbeat", "Connection took ",
          ">ClientData arrived: _OK-H U 00-0C-29-3A-5B-7C_ from 127.0.0.1 on "
          "local port ",
          "HEARTBEAT OK Event", "U-p or D-wn: U", "---Single Client Mode (done)---"})
        EXPECT_TRUE(trace.contains(QString::fromLatin1(line))) << line;
    EXPECT_TRUE(trace.contains("on local port " + QString::number(port)));
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
    QElapsedTimer clock;
    clock.start();
    qint64 referenceMs = -1;
    qint64 firedMs = -1;
    QTimer::singleShot(2000, Qt::PreciseTimer, [&] { referenceMs = clock.elapsed(); });
    QObject::connect(&contact.tmrServer, &QTimer::timeout, [&] { firedMs = clock.elapsed(); });
    contact.Heartbeat("127.0.0.1", settings::Options().MACaddr(), "U");
    const qint64 startedMs = clock.elapsed();
    ASSERT_TRUE(WaitFor([&] { return controller.requests.size() == 1; }));
    ASSERT_TRUE(WaitFor([&] { return Trace().contains("No more tries.   "); }, 6000));
    // Two seconds after the start (the watchdog is a precise timer), and about
    // as late as a precise 2 s timer started beside it.
    ASSERT_TRUE(WaitFor([&] { return referenceMs >= 0; }));
    EXPECT_GE(firedMs, 1900);
    EXPECT_LE(firedMs, referenceMs + startedMs + 200);
    EXPECT_EQ(contact.tcpClient.State(), 0);
    EXPECT_FALSE(contact.tmrServer.isActive());
    ASSERT_TRUE(WaitFor([&] { return controller.openConnections() == 0; }));
    const QString trace = Trace().mid(unreachable);
    for (const char* line : {": SERVER TIMEOUT: 0   ", "]:  7   Connected",
                             "TIMEOUT: Closing the connection", " Connection with client failed."})
        EXPECT_TRUE(trace.contains(QString::fromLatin1(line))) << line;
    EXPECT_TRUE(trace.indexOf("---Single Client Mode (done)---") > trace.indexOf("No more tries."));
    EXPECT_TRUE(window.done.isEmpty());
}

} // namespace

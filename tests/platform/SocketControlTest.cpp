// The socket control's contract where the listener tests do not reach it:
// operations refused in the wrong state, an outbound connection from the
// listener's own port, data gathered until GetData, and the lasting listener
// under its views.
#include "platform/SocketControl.h"
#include "platform/ListeningPort.h"
#include "runtime/CurrentError.h"

#include "EventWait.h"
#include "TestSupport.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

using platform::SocketControl;
using testsupport::WaitFor;

namespace
{

TEST(SocketControl, ConnectsOutFromTheListenersPortWhichOutlivesItsViews)
{
    testsupport::ScopedEnv bind("NCLMOD_BIND_ADDRESS", "127.0.0.1");
    QObject owner;
    auto* first = new SocketControl(&owner);
    first->setLocalPort(0);
    ASSERT_TRUE(first->Listen());
    const quint16 port = quint16(first->LocalPort());
    ASSERT_GT(port, 0);

    QTcpServer console;
    ASSERT_TRUE(console.listen(QHostAddress::LocalHost, 0));
    SocketControl outbound;
    // Closed, it refuses what needs another state, and stays closed.
    const auto errorOf = [](bool done) {
        const qint32 number = done ? 0 : rt::Err().number;
        rt::ClearError();
        return number;
    };
    rt::ClearError();
    EXPECT_EQ(errorOf(outbound.SendData(QStringLiteral("x"))), 40006);
    EXPECT_EQ(errorOf(outbound.Accept(123456)), 10022);
    EXPECT_EQ(errorOf(outbound.Bind()), 40020); // a TCP socket
    EXPECT_EQ(outbound.State(), SocketControl::sckClosed);
    bool connected = false;
    QObject::connect(&outbound, &SocketControl::ConnectEvent, [&] { connected = true; });
    outbound.setRemoteHost(QStringLiteral("127.0.0.1"));
    outbound.setRemotePort(console.serverPort());
    outbound.setLocalPort(port);
    ASSERT_TRUE(outbound.Connect());
    ASSERT_TRUE(WaitFor([&] { return connected && console.hasPendingConnections(); }));
    EXPECT_EQ(outbound.State(), SocketControl::sckConnected);
    QTcpSocket* seen = console.nextPendingConnection();
    EXPECT_EQ(seen->peerPort(), port);
    EXPECT_EQ(first->State(), SocketControl::sckListening);

    // What arrives is gathered until GetData takes it all.
    seen->write("OK-H ");
    seen->write("00:11:22");
    seen->flush();
    QByteArray all;
    ASSERT_TRUE(WaitFor([&] {
        all += outbound.GetData();
        return all.size() == 13;
    }));
    EXPECT_EQ(all, QByteArray("OK-H 00:11:22"));

    // The peer closing is the Close event and state 8 until Close().
    bool closed = false;
    QObject::connect(&outbound, &SocketControl::CloseEvent, [&] { closed = true; });
    seen->disconnectFromHost();
    ASSERT_TRUE(WaitFor([&] { return closed; }));
    EXPECT_EQ(outbound.State(), SocketControl::sckClosing);
    outbound.Close();
    EXPECT_EQ(outbound.State(), SocketControl::sckClosed);

    // The kernel listener outlives its views: a connection that comes while no
    // view listens waits and is offered to the next one; nobody else may bind
    // the port; closing the lasting listener frees it.
    first->Close();
    EXPECT_EQ(first->State(), SocketControl::sckClosed);
    delete first;

    QTcpSocket peer;
    peer.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(peer.waitForConnected(2000)) << "the port stayed open";
    peer.write("H+");
    testsupport::Spin(100);
    EXPECT_EQ(peer.state(), QAbstractSocket::ConnectedState);

    QTcpServer other;
    EXPECT_FALSE(other.listen(QHostAddress::LocalHost, port)) << "the port is not shared";

    auto* second = new SocketControl(&owner);
    SocketControl accepting;
    QObject::connect(second, &SocketControl::ConnectionRequest,
                     [&](qint32 id) { accepting.Accept(id); });
    second->setLocalPort(port);
    ASSERT_TRUE(second->Listen());
    ASSERT_TRUE(WaitFor([&] { return accepting.State() == SocketControl::sckConnected; }));
    QByteArray got;
    EXPECT_TRUE(WaitFor([&] {
        got += accepting.GetData();
        return got == "H+";
    })) << got.toStdString();
    EXPECT_EQ(accepting.RemotePort(), peer.localPort());

    EXPECT_TRUE(platform::ListeningPort::Close(QHostAddress::LocalHost, port));
    EXPECT_EQ(second->State(), SocketControl::sckClosed);
    EXPECT_FALSE(platform::ListeningPort::Close(QHostAddress::LocalHost, port));
    EXPECT_TRUE(WaitFor([&] { return QTcpServer().listen(QHostAddress::LocalHost, port); }));
}

} // namespace

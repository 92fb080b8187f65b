// Bad input: a thousand peers that connect and drop at once, and a thousand
// garbage datagrams. The listener keeps listening, gives back every file
// descriptor and still answers.
#include "service/Listener.h"
#include "settings/AppState.h"
#include "settings/COptions.h"

#include "LoopbackSupport.h"
#include "TestSupport.h"

#include <QRandomGenerator>
#include <QTcpSocket>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using loopback::WaitFor;
using platform::SocketControl;

namespace
{

class ListenerFlood : public ::testing::Test
{
protected:
    void SetUp() override
    {
        settings::App().ModuleType = QStringLiteral("M");
        port = loopback::FreePort();
        ASSERT_NE(port, 0);
        settings::Options().setTCPPort(port);
        listener.SetRequestDataHandler(
            [this](qint16, const QByteArray& data) { received.push_back(data); });
    }

    testsupport::ScopedHome home;
    testsupport::ScopedEnv bindAddress{"NCLMOD_BIND_ADDRESS", "127.0.0.1"};
    qint16 port = 0;
    service::Listener listener;
    std::vector<QByteArray> received;
};

bool Listening(const service::Listener& l)
{
    const SocketControl* e = l.tcpServer.Item(l.CurrentInstance);
    return e && e->State() == SocketControl::sckListening;
}

// One peer that connects, waits to be accepted, sends and closes.
bool Exchange(service::Listener& l, qint16 port, std::vector<QByteArray>& received)
{
    const size_t before = received.size();
    QTcpSocket peer;
    peer.connectToHost(QHostAddress::LocalHost, quint16(port));
    if (!peer.waitForConnected(2000))
        return false;
    peer.write("H+");
    const bool answered = WaitFor([&] { return received.size() == before + 1; });
    peer.disconnectFromHost();
    return answered && WaitFor([&] { return Listening(l); });
}

TEST_F(ListenerFlood, ConnectAndDropPeers)
{
    settings::Options().setClientFormat(0);
    listener.serv_init(0);
    // Steady state first: element 0 and one rotating element listen.
    ASSERT_TRUE(Exchange(listener, port, received));
    loopback::Spin(50);
    const int fdsBefore = loopback::OpenFdCount();

    constexpr int kPeers = 1000;
    constexpr int kBatch = 50;
    for (int done = 0; done < kPeers; done += kBatch) {
        std::vector<std::unique_ptr<QTcpSocket>> peers;
        for (int i = 0; i < kBatch; ++i) {
            peers.push_back(std::make_unique<QTcpSocket>());
            peers.back()->connectToHost(QHostAddress::LocalHost, quint16(port));
        }
        for (auto& peer : peers)
            peer->waitForConnected(2000);
        for (auto& peer : peers)
            peer->abort();
        loopback::Spin(5);
    }

    ASSERT_TRUE(WaitFor([&] { return Listening(listener); }));
    // The flood reached the listener: many peers got a connection request and an
    // element of their own. (Peers queued on an element that the rotation
    // destroys are reset by the kernel, so not all of them.)
    EXPECT_GT(listener.CurrentInstance, kPeers / 3);
    EXPECT_TRUE(Exchange(listener, port, received)) << "the listener still answers";
    EXPECT_TRUE(WaitFor([&] { return loopback::OpenFdCount() <= fdsBefore; }))
        << loopback::OpenFdCount() << " open, " << fdsBefore << " before";
    EXPECT_LE(listener.tcpServer.Count(), 2);
}

TEST_F(ListenerFlood, GarbageDatagrams)
{
    settings::Options().setClientFormat(2);
    listener.serv_init(0);
    const int fdsBefore = loopback::OpenFdCount();

    QUdpSocket peer;
    ASSERT_TRUE(peer.bind(QHostAddress::LocalHost, 0));
    constexpr int kDatagrams = 1000;
    for (int i = 0; i < kDatagrams; ++i) {
        QByteArray garbage(int(QRandomGenerator::global()->bounded(0, 1400)), '\0');
        for (char& c : garbage)
            c = char(QRandomGenerator::global()->bounded(256));
        peer.writeDatagram(garbage, QHostAddress::LocalHost, quint16(port));
        if (i % 100 == 99)
            loopback::Spin(2); // within the socket's receive buffer
    }
    ASSERT_TRUE(WaitFor([&] { return received.size() >= size_t(kDatagrams) * 9 / 10; }));
    loopback::Spin(50);

    const size_t before = received.size();
    peer.writeDatagram("H+", QHostAddress::LocalHost, quint16(port));
    ASSERT_TRUE(WaitFor([&] { return received.size() == before + 1; }));
    EXPECT_EQ(received.back(), QByteArray("H+"));
    EXPECT_EQ(listener.tcpServer.Item(0)->State(), SocketControl::sckOpen);
    EXPECT_EQ(loopback::OpenFdCount(), fdsBefore + 1); // the peer's own socket
}

} // namespace

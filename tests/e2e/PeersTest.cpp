// Many peers at once against the real agent: consoles and time clients that
// connect together, heartbeats through a stream of new connections, the idle
// limit, the cap of connections per peer address, and a second agent or an
// unusable address at start.
#include "AgentProcess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <unistd.h>
#include <vector>

using e2e::AgentProcess;

namespace
{

using Sockets = std::vector<std::unique_ptr<QTcpSocket>>;

// A console from one of the loopback source addresses 127.0.0.x.
std::unique_ptr<QTcpSocket> Connect(quint16 port, int source)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->bind(QHostAddress(QStringLiteral("127.0.0.%1").arg(source)));
    socket->connectToHost(QHostAddress::LocalHost, port);
    return socket;
}

bool AllIn(const Sockets& sockets, QAbstractSocket::SocketState state)
{
    return std::all_of(sockets.begin(), sockets.end(),
                       [state](const auto& s) { return s->state() == state; });
}

// n consoles connect together, by default from 8 source addresses so that
// none passes the cap per peer, then send the request; returns how many
// replies begin as expected.
int AnsweredTogether(quint16 port, int n, const QByteArray& request, const QByteArray& reply,
                     int firstSource = 10, int sources = 8)
{
    Sockets consoles;
    for (int i = 0; i < n; ++i)
        consoles.push_back(Connect(port, firstSource + i % sources));
    if (!AgentProcess::waitFor([&] { return AllIn(consoles, QAbstractSocket::ConnectedState); },
                               10000))
        return 0;
    for (auto& console : consoles)
        console->write(request);
    std::vector<QByteArray> replies(consoles.size());
    const auto count = [&] {
        int answered = 0;
        for (size_t i = 0; i < consoles.size(); ++i) {
            replies[i] += consoles[i]->readAll();
            answered += replies[i].startsWith(reply);
        }
        return answered;
    };
    AgentProcess::waitFor([&] { return count() == n; }, 20000);
    return count();
}

// Both roles over TCP: the module answers "H+" with its MAC address, the time
// server any text. Many consoles connect together, and a peer that opens a
// connection every 10 ms and drops it 100 ms later does not keep consoles
// from their answers, and leave no descriptor open. The module then shows the
// idle limit and the cap per peer address.
TEST(PeersE2E, ManyConsolesAStreamOfConnectionsIdleOnesAndOnePeersCap)
{
    const struct {
        const char* role;
        QByteArray request;
        QByteArray reply;
    } roles[] = {{"NCLsrvc", "time?", "Server: "}, {"NCLmod", "H+", "OK-H 00:0C:29:AB:CD:EF"}};
    for (const auto& r : roles) {
        SCOPED_TRACE(r.role);
        AgentProcess agent;
        agent.environment().insert("NCLMOD_TEST_IDLE_LIMIT_MS", "5000");
        agent.writeFile("debug.txt", "");
        ASSERT_TRUE(agent.startServing(0, "MACaddr,00:0C:29:AB:CD:EF\n", {"debug"}, r.role));
        const int fds = agent.openFds();
        const long rss = agent.rssKb();
        EXPECT_EQ(AnsweredTogether(agent.port(), 100, r.request, r.reply), 100);
        int answered = 0;
        for (int batch = 0; batch < 20; ++batch)
            answered += AnsweredTogether(agent.port(), 50, r.request, r.reply);
        EXPECT_EQ(answered, 1000);

        QTimer flood;
        int opened = 0;
        QObject::connect(&flood, &QTimer::timeout, [&] {
            QTimer::singleShot(100, Connect(agent.port(), 2).release(), &QObject::deleteLater);
            ++opened;
        });
        flood.start(10);
        answered = 0;
        for (int i = 0; i < 50; ++i)
            answered += AnsweredTogether(agent.port(), 1, r.request, r.reply, 1);
        flood.stop();
        EXPECT_EQ(answered, 50);
        EXPECT_GE(opened, 50);
        // Every connection has gone again, and nothing of it is kept.
        EXPECT_TRUE(AgentProcess::waitFor([&] { return agent.openFds() <= fds; }, 5000))
            << agent.openFds() << " open, " << fds << " before";
        EXPECT_LT(agent.rssKb(), rss + 8 * 1024);
        if (r.request != "H+")
            continue;
        // Silent connections are closed after the idle limit; 32 open
        // connections from one address are the most it gets, while other
        // addresses are served. The consoles before came from other
        // addresses, so none of them counts.
        QElapsedTimer since;
        since.start();
        Sockets silent;
        for (int i = 0; i < 32; ++i)
            silent.push_back(Connect(agent.port(), 4));
        ASSERT_TRUE(
            AgentProcess::waitFor([&] { return AllIn(silent, QAbstractSocket::ConnectedState); }));
        ASSERT_TRUE(agent.waitForTrace(" TCP, NIST  format\r\n", 2000));
        const auto over = Connect(agent.port(), 4);
        EXPECT_TRUE(AgentProcess::waitFor(
            [&] { return over->state() == QAbstractSocket::UnconnectedState; }, 1000))
            << "the 33rd connection is closed at once";
        EXPECT_TRUE(agent.waitForTrace(
            "Connection from 127.0.0.4 closed: 32 connections from it are open\r\n", 1000));
        EXPECT_EQ(AnsweredTogether(agent.port(), 1, "H+", "OK-H ", 5), 1)
            << "another address is served";
        EXPECT_TRUE(AllIn(silent, QAbstractSocket::ConnectedState));

        ASSERT_TRUE(AgentProcess::waitFor(
            [&] { return AllIn(silent, QAbstractSocket::UnconnectedState); }, 10000));
        EXPECT_GE(since.elapsed(), 4750); // a coarse timer may fire 5 % early
        EXPECT_TRUE(
            agent.waitForTrace("Idle connection closed: nothing received for 5 s. Index ", 0));
        EXPECT_EQ(AnsweredTogether(agent.port(), 1, "H+", "OK-H ", 4), 1);
    }
}

// The port cannot be had at start: one line on standard error and an event.
// Held by another agent, the second one ends; an address that is not this
// computer's leaves the agent running its other duties.
TEST(PeersE2E, PortThatCannotBeOpenedAtStartIsSaidOnce)
{
    for (const int clientFormat : {0, 2}) {
        SCOPED_TRACE(clientFormat);
        AgentProcess first;
        ASSERT_TRUE(first.startServing(clientFormat));
        AgentProcess second;
        second.startServing(clientFormat,
                            "LoggingEvntOn,True\nLoggingEvntFileName," +
                                second.file("evntfile.txt") + "\n",
                            {}, "NCLmod", first.port());
        EXPECT_EQ(second.waitForExit(10000), 1);
        const QString line =
            QStringLiteral("port %1 is already in use by another program").arg(first.port());
        EXPECT_EQ(second.standardError(), "NCLmod: " + line + "\n");
        EXPECT_FALSE(second.standardOutput().contains(" role (")) << "no start line";
        EXPECT_TRUE(second.readFile("evntfile.txt").contains("Error   " + line));
        EXPECT_TRUE(first.answers());
    }

    // As root the privileged port is tried as nobody, with no capabilities.
    bool notRun = false;
    const struct {
        const char* bindAddress;
        int port;
        QString line;
    } kept[] = {{"192.0.2.1", 29999,
                 "port 29999 cannot be opened: 192.0.2.1 (NCLMOD_BIND_ADDRESS) is not an address "
                 "of this computer"},
                {"127.0.0.1", 1001, "port 1001 needs root or CAP_NET_BIND_SERVICE"}};
    for (const auto& k : kept) {
        SCOPED_TRACE(k.port);
        AgentProcess agent;
        agent.writeFile("REVavidod.ini", QStringLiteral("TCPPort,%1\n").arg(k.port).toLatin1());
        agent.environment().insert("NCLMOD_BIND_ADDRESS", k.bindAddress);
        if (k.port < 1024) {
            notRun = ::geteuid() != 0;
            if (notRun)
                continue;
            // The agent only runs from a data folder of its own user.
            ASSERT_EQ(::chown(QFile::encodeName(agent.home()).constData(), 65534, 65534), 0);
            agent.wrapper() =
                QStringList{"setpriv",        "--reuid=65534",   "--regid=65534",
                            "--clear-groups", "--inh-caps=-all", "--bounding-set=-all"};
        }
        ASSERT_TRUE(agent.start());
        EXPECT_TRUE(AgentProcess::waitFor([&] {
            return agent.standardError() == "NCLmod: " + k.line + "\n";
        })) << agent.standardError().toStdString();
        AgentProcess::waitFor([] { return false; }, 1000);
        EXPECT_TRUE(agent.running()) << "the agent keeps its other duties";
        EXPECT_EQ(agent.terminate(), 0);
    }
    if (notRun)
        GTEST_SKIP() << "the privileged port was not tried: that needs root to become nobody";
}

} // namespace

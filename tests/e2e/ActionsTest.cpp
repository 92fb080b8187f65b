// Remote actions, Wake-on-LAN and relay switching end to end: the real agent
// on loopback, a recording power control, a UDP listener standing in for the
// computer to wake, and a pty relay board.
#include "AgentProcess.h"
#include "RelayBoard.h"

#include <QDeadlineTimer>
#include <QNetworkDatagram>
#include <QTcpSocket>
#include <QUdpSocket>

#include <gtest/gtest.h>

using e2e::AgentProcess;

// An exit request reaches the recording power control; a command line starts
// a program; a command with control codes or of 5000 bytes still gets "OK-C"
// and leaves the agent serving; a wake request sends the magic packet, a malformed one only
// its trace line. A file comes back in blocks, each followed by "OK-C" in the
// same reply. Relays switch on a pty relay board.
TEST(ActionsE2E, ExitCommandLinesWakeOnLanAFileAndRelays)
{
    e2e::RelayBoard board;
    QUdpSocket wol;
    AgentProcess agent;
    ASSERT_TRUE(board.ok());
    ASSERT_TRUE(wol.bind(QHostAddress("127.0.0.1"), 0));
    agent.writeFile("debug.txt", "");
    agent.environment().insert("NCLMOD_COM1", board.agentDevice());
    agent.environment().insert("NCLMOD_WOL_PORT", QString::number(wol.localPort()));
    ASSERT_TRUE(agent.startServing(0, {}, {"debug"}));
    // One request on its own TCP connection; everything received until the
    // reply is complete: a relay status, or "OK-C" after a block of the size.
    const auto Exchange = [&](const QByteArray& request, qsizetype blockSize = 0) -> QByteArray {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress("127.0.0.1"), agent.port());
        if (!socket.waitForConnected(5000))
            return {};
        socket.write(request);
        QByteArray got;
        QDeadlineTimer deadline(5000);
        while (!got.startsWith("OK-X ") && !(got.size() >= blockSize + 4 && got.endsWith("OK-C")) &&
               !deadline.hasExpired()) {
            if (socket.waitForReadyRead(50))
                got += socket.readAll();
        }
        // Nothing may follow the reply.
        if (socket.waitForReadyRead(100))
            got += socket.readAll();
        socket.disconnectFromHost();
        return got;
    };
    const auto Traced = [&](const QString& text) { return agent.waitForTrace(text, 3000); };

    EXPECT_EQ(Exchange("C+Windows Shutdown (forced)"), "OK-C");
    EXPECT_TRUE(AgentProcess::waitFor(
        [&] { return agent.readFile("power.log") == "flags=5 action=halt forced\n"; }));

    const QString made = agent.file("made by console");
    EXPECT_EQ(Exchange(("C+sh -c 'echo started > \"$0\"' '" + made + "'").toLatin1()), "OK-C");
    EXPECT_TRUE(
        AgentProcess::waitFor([&] { return agent.readFile("made by console") == "started\n"; }));
    EXPECT_TRUE(agent.printed("Run: sh -c"));
    for (const QByteArray& request :
         {QByteArray("C+Windows\x01\x02"), "C+" + QByteArray(5000, 'A')})
        EXPECT_EQ(Exchange(request), "OK-C") << request.left(40).constData();

    EXPECT_EQ(Exchange("C+WOL-127.0.0.1-127.0.0.1-00-0C-29-3A-5B-7C"), "OK-C");
    ASSERT_TRUE(AgentProcess::waitFor([&] { return wol.hasPendingDatagrams(); }));
    EXPECT_EQ(wol.receiveDatagram().data(),
              QByteArray(6, char(0xFF)) + QByteArray::fromHex("000C293A5B7C").repeated(16));
    EXPECT_TRUE(Traced("WOL: Magic packet sent MAC addr: 00-0C-29-3A-5B-7C"));
    for (const QByteArray& bad : {QByteArray("C+WOL-127.0.0.1-127.0.0.1-00-0C-29-3A-5B"),
                                  QByteArray("C+WOL-127.0.0.1-127.0.0.1-00-0C-29-3A-5B-7CZ"),
                                  QByteArray("C+WOL-127.0.0.1-nowhere-00-0C-29-3A-5B-7C")})
        EXPECT_EQ(Exchange(bad), "OK-C") << bad.constData();
    EXPECT_TRUE(Traced("Too few ARGS for WOL: 7"));
    EXPECT_TRUE(Traced("WOL Error: Invalid local address: nowhere"));
    AgentProcess::waitFor([] { return false; }, 200);
    EXPECT_FALSE(wol.hasPendingDatagrams());

    QByteArray content;
    for (int i = 0; i < 10000; ++i)
        content.append(char(i * 7 % 251));
    agent.writeFile("big.bin", content);
    QByteArray whole;
    const QList<qsizetype> blocks = {4096, 4096, 1808};
    for (int i = 0; i < blocks.size(); ++i) {
        const QByteArray request = i == 0 ? ("C+ncl_getfile " + agent.file("big.bin")).toLatin1()
                                          : "C+ncl_getfile." + QByteArray::number(i);
        const QByteArray reply = Exchange(request, blocks[i]);
        ASSERT_EQ(reply.size(), blocks[i] + 4) << i;
        whole += reply.chopped(4);
    }
    EXPECT_EQ(whole, content);
    // The third block ended the file: the next request only clears the flag.
    EXPECT_EQ(Exchange("C+ncl_getfile.3"), "OK-C");

    // A latched switching sets the relay and reads it back; a timed one falls
    // back by itself and holds the port meanwhile.
    EXPECT_EQ(Exchange("X+0 On Latch COM1 2400"), "OK-X On");
    EXPECT_EQ(Exchange("X+1 On 2 COM1 7200"), "OK-X On");
    // The timed switching holds the port.
    EXPECT_EQ(Exchange("X+0 Off Latch COM1 4800"), "OK-X ");
    EXPECT_TRUE(agent.printed("Response: Could not open port: COM1"));
    ASSERT_TRUE(board.waitForCommands(6, 4000));
    EXPECT_EQ(board.commands(), QStringList({"S 1", "R", "S 3", "R", "S 1", "R"}));
    EXPECT_TRUE(Traced("Relay timer expired, sw: 1, current state: On"));
    EXPECT_EQ(agent.terminate(), 0);
}

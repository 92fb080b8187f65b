// Remote actions, Wake-on-LAN and relay switching end to end: the real agent
// on loopback, a recording power control, a UDP listener standing in for the
// computer to wake, and a pty relay board.
#include "AgentProcess.h"
#include "RelayBoard.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkDatagram>
#include <QProcess>
#include <QTcpSocket>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using e2e::AgentProcess;

namespace
{

class ActionsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(board.ok());
        ASSERT_TRUE(wol.bind(QHostAddress("127.0.0.1"), 0));
        agent.writeFile("debug.txt", "");
        auto& env = agent.environment();
        env.insert("NCLMOD_COM1", board.agentDevice());
        env.insert("NCLMOD_COM5", agent.file("no-such-tty"));
        env.insert("NCLMOD_WOL_PORT", QString::number(wol.localPort()));
        ASSERT_TRUE(agent.startServing(0, {}, {"debug"}));
    }
    void TearDown() override { EXPECT_EQ(agent.terminate(), 0); }

    // One request on its own TCP connection; everything received until the
    // reply is complete: a heartbeat, a relay status, or "OK-C" after a block
    // of the size.
    QByteArray Exchange(const QByteArray& request, qsizetype blockSize = 0)
    {
        const auto complete = [blockSize](const QByteArray& got) {
            return got.startsWith("OK-H") || got.startsWith("OK-X ") ||
                   (got.size() >= blockSize + 4 && got.endsWith("OK-C"));
        };
        QTcpSocket socket;
        socket.connectToHost(QHostAddress("127.0.0.1"), agent.port());
        if (!socket.waitForConnected(5000))
            return {};
        socket.write(request);
        QByteArray got;
        QDeadlineTimer deadline(5000);
        while (!complete(got) && !deadline.hasExpired()) {
            if (socket.waitForReadyRead(50))
                got += socket.readAll();
        }
        // Nothing may follow the reply.
        if (socket.waitForReadyRead(100))
            got += socket.readAll();
        socket.disconnectFromHost();
        return got;
    }

    bool Traced(const QString& text) { return agent.waitForTrace(text, 3000); }
    QStringList PowerLines() const
    {
        return agent.readFile("power.log").split('\n', Qt::SkipEmptyParts);
    }
    QString MakeFile(const QString& name, qsizetype size) const
    {
        QByteArray content;
        for (qsizetype i = 0; i < size; ++i)
            content.append(char(i * 7 % 251));
        agent.writeFile(name, content);
        return agent.file(name);
    }
    // The speed the agent's end of the pty runs at now. The agent opens its
    // port exclusively, so only root can look at it from outside; for other
    // users the check passes.
    bool PortRunsAt(const QString& speed) const
    {
        if (::geteuid() != 0)
            return true;
        QProcess stty;
        stty.start("stty", {"-F", board.agentDevice(), "speed"});
        stty.waitForFinished(3000);
        return QString::fromLatin1(stty.readAllStandardOutput()).trimmed() == speed;
    }

    e2e::RelayBoard board;
    QUdpSocket wol;
    AgentProcess agent;
};

} // namespace

// Every combination of exit words reaches the power control with its flags;
// a command line starts a program; one that cannot run, and malformed or
// oversized commands, still get "OK-C" and leave the agent serving; a wake
// request sends the magic packet, and a malformed one only its trace line.
TEST_F(ActionsTest, ExitWordsCommandLinesAndWakeOnLan)
{
    const QStringList words = {"Shutdown", "Reboot", "(forced)", "Power-off"};
    const QStringList actions = {"logoff",   "halt",     "reboot",   "reboot",   "logoff", "halt",
                                 "reboot",   "reboot",   "poweroff", "poweroff", "reboot", "reboot",
                                 "poweroff", "poweroff", "reboot",   "reboot"};
    QStringList expected;
    for (int flags = 0; flags < 16; ++flags) {
        QString command = flags == 0 ? "C+Windows Logoff" : "C+Windows";
        for (int bit = 0; bit < 4; ++bit)
            if (flags & (1 << bit))
                command += " " + words[bit];
        EXPECT_EQ(Exchange(command.toLatin1()), "OK-C") << command.toStdString();
        expected << QString("flags=%1 action=%2%3")
                        .arg(flags)
                        .arg(actions[flags], flags & 4 ? " forced" : "");
    }
    ASSERT_TRUE(AgentProcess::waitFor([&] { return PowerLines().size() == 16; }));
    EXPECT_EQ(PowerLines(), expected);
    EXPECT_TRUE(Traced("Exit_Windows, Flags: 5"));
    EXPECT_TRUE(agent.printed("Windows Shutdown (forced)"));

    const QString made = agent.file("made by console");
    EXPECT_EQ(Exchange(("C+sh -c 'echo started > \"$0\"' '" + made + "'").toLatin1()), "OK-C");
    EXPECT_TRUE(
        AgentProcess::waitFor([&] { return agent.readFile("made by console") == "started\n"; }));
    EXPECT_TRUE(agent.printed("Run: sh -c"));
    EXPECT_EQ(Exchange("C+/nonexistent/tool --now"), "OK-C");
    EXPECT_TRUE(Traced("Could not run: /nonexistent/tool --now"));
    for (const QByteArray& request :
         {QByteArray("C+"), QByteArray("C+ "), QByteArray("C+ncl_getfile.notanumber"),
          QByteArray("C+ncl_getfile.99999999999"), QByteArray("C+ncl"), QByteArray("C+nclput x"),
          QByteArray("C+WOL"), QByteArray("C+Windows\x01\x02"), QByteArray("C+echo 'unclosed"),
          "C+" + QByteArray(5000, 'A')})
        EXPECT_EQ(Exchange(request), "OK-C") << request.left(40).constData();
    EXPECT_TRUE(agent.running());

    EXPECT_EQ(Exchange("C+WOL-127.0.0.1-127.0.0.1-00-0C-29-3A-5B-7C"), "OK-C");
    ASSERT_TRUE(AgentProcess::waitFor([&] { return wol.hasPendingDatagrams(); }));
    EXPECT_EQ(wol.receiveDatagram().data(),
              QByteArray(6, char(0xFF)) + QByteArray::fromHex("000C293A5B7C").repeated(16));
    EXPECT_TRUE(Traced("WOL: Magic packet sent MAC addr: 00-0C-29-3A-5B-7C"));

    for (const QByteArray& bad :
         {QByteArray("C+WOL-127.0.0.1-127.0.0.1-00-0C-29-3A-5B"),
          QByteArray("C+WOL-127.0.0.1-127.0.0.1-00-0C-29-3A-5B-7CZ"),
          QByteArray("C+WOL-999.1.1.1-127.0.0.1-00-0C-29-3A-5B-7C"),
          QByteArray("C+WOL-127.0.0.1-nowhere-00-0C-29-3A-5B-7C"), QByteArray("C+WOL---------")})
        EXPECT_EQ(Exchange(bad), "OK-C") << bad.constData();
    EXPECT_TRUE(Traced("Too few ARGS for WOL: 7"));
    EXPECT_TRUE(Traced("WOL Error: Invalid local address: nowhere"));
    AgentProcess::waitFor([] { return false; }, 200);
    EXPECT_FALSE(wol.hasPendingDatagrams());
    EXPECT_TRUE(agent.answers());
}

// A file comes back in blocks, each followed by "OK-C" in the same reply. A
// FIFO without a writer, a device that never ends and a symlink are answered
// like a missing file, and the agent goes on answering heartbeats at once.
TEST_F(ActionsTest, FilesComeBackInBlocksAndOnlyRegularOnesAreRead)
{
    const QString big = MakeFile("big.bin", 10000);
    QByteArray whole;
    const QList<qsizetype> blocks = {4096, 4096, 1808};
    for (int i = 0; i < blocks.size(); ++i) {
        const QByteArray request =
            i == 0 ? ("C+ncl_getfile " + big).toLatin1() : "C+ncl_getfile." + QByteArray::number(i);
        const QByteArray reply = Exchange(request, blocks[i]);
        ASSERT_EQ(reply.size(), blocks[i] + 4) << i;
        whole += reply.chopped(4);
    }
    EXPECT_EQ(whole, agent.readFile("big.bin").toLatin1());
    // The third block ended the file: the next request only clears the flag.
    EXPECT_EQ(Exchange("C+ncl_getfile.3"), "OK-C");
    EXPECT_TRUE(Traced("Done ncl_getfile"));
    // A file of one whole block, twice: the flag is clear again after each.
    const QString exact = MakeFile("exact.bin", 4096);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(Exchange(("C+ncl_getfile " + exact).toLatin1(), 4096).size(), 4100);
        EXPECT_EQ(Exchange("C+ncl_getfile.1"), "OK-C");
    }

    const QString fifo = agent.file("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(MakeFile("target.bin", 100), agent.file("link")));
    const auto heartbeatMs = [&] {
        QElapsedTimer took;
        took.start();
        return Exchange("H+").startsWith("OK-H") ? took.elapsed() : -1;
    };
    // The 100 ms bound stretches with what a heartbeat costs on this machine now.
    const qint64 bound = qMax<qint64>(100, 3 * heartbeatMs());
    for (const QString& name :
         {agent.file("missing.txt"), fifo, QStringLiteral("/dev/zero"), agent.file("link")}) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(Exchange(("C+ncl_getfile " + name).toLatin1()), "OK-C");
        EXPECT_EQ(Exchange("C+ncl_getfile.1000000"), "OK-C");
        const qint64 took = heartbeatMs();
        EXPECT_GE(took, 0);
        EXPECT_LE(took, bound);
    }
    EXPECT_EQ(agent.readFile("DebugFile.txt").count("ReadInData error"), 8);
}

// Malformed relay commands and a missing port send nothing to the board; a
// latched switching sets the relay and reads it back, a timed one falls back
// by itself and holds the port meanwhile.
TEST_F(ActionsTest, RelaySwitching)
{
    EXPECT_EQ(Exchange("X+0 On Latch COM5 9600"), "OK-X ");
    EXPECT_TRUE(agent.printed("Response: Could not open port: COM5"));
    const char* malformed[] = {
        "X+0 On Latch COM1",          "X+7 On Latch COM1 9600",
        "X+0 Maybe Latch COM1 9600",  "X+0 On Forever COM1 9600",
        "X+0 On 0 COM1 9600",         "X+0 On Latch USB1 9600",
        "X+0 On Latch COM1 300",      "X+0 On Latch COM1 115200",
        "X+0 on latch com1 9600",     "X+",
        "X+0 On Latch COM99999 9600",
        "X+0 On Latch COM0 9600", // port 0 stands for X10ComPort, which is 0 here
    };
    for (const char* command : malformed)
        EXPECT_EQ(Exchange(command), "OK-X ") << command;
    AgentProcess::waitFor([] { return false; }, 300);
    EXPECT_TRUE(board.commands().isEmpty());
    EXPECT_EQ(Exchange("X+0 On Latch COM1 2400"), "OK-X On");
    EXPECT_EQ(board.commands(), QStringList({"S 1", "R"}));
    EXPECT_TRUE(agent.printed("Relay: Switch: 0 On Latch, Port: COM1, Baud: 2400"));

    board.clearCommands();
    EXPECT_EQ(Exchange("X+1 On 2 COM1 7200"), "OK-X On");
    EXPECT_TRUE(PortRunsAt("9600"));
    // The timed switching holds the port.
    EXPECT_EQ(Exchange("X+0 Off Latch COM1 4800"), "OK-X ");
    EXPECT_TRUE(agent.printed("Response: Could not open port: COM1"));
    ASSERT_TRUE(board.waitForCommands(4, 4000));
    EXPECT_EQ(board.commands(), QStringList({"S 3", "R", "S 1", "R"}));
    EXPECT_TRUE(Traced("Relay timer expired, sw: 1, current state: On"));

    // The port is free again; a 4800 switching really runs at 4800.
    board.clearCommands();
    EXPECT_EQ(Exchange("X+0 Off 1 COM1 4800"), "OK-X Off");
    EXPECT_TRUE(PortRunsAt("4800"));
    ASSERT_TRUE(board.waitForCommands(4, 3000));
    EXPECT_EQ(board.commands(), QStringList({"S 0", "R", "S 1", "R"}));
}

// The console protocol end to end: the real agent, nclconsole and real SNTP
// clients (chronyd -Q, sntp) on loopback, with the agent's clock simulated.
#include "AgentProcess.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkDatagram>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QThread>
#include <QTimeZone>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <cmath>

using e2e::AgentProcess;
using e2e::FreePort;

namespace
{

struct Agent {
    mutable AgentProcess process;
    quint16 port = 0;

    // Starts an agent on a fresh port (port 0) or the given one.
    bool Start(int clientFormat, const QString& name = "NCLmod", quint16 wanted = 0)
    {
        port = wanted ? wanted : FreePort();
        process.writeFile("REVavidod.ini", QStringLiteral("TCPPort,%1\nClientFormat,%2\n"
                                                          "MACaddr,00:0C:29:AB:CD:EF\n")
                                               .arg(port)
                                               .arg(clientFormat)
                                               .toLatin1());
        process.environment().insert("NCLMOD_BIND_ADDRESS", "127.0.0.1");
        process.environment().insert("TZ", "America/New_York");
        return port != 0 && process.start({}, name) &&
               process.waitFor([&] { return Console(ReadyProbe(clientFormat)).exitCode == 0; },
                               10000);
    }

    // A request every role and transport answers.
    static QStringList ReadyProbe(int clientFormat)
    {
        return clientFormat == 2 ? QStringList{"--timeout", "200", "sntp"}
                                 : QStringList{"--timeout", "200", "raw", "H+"};
    }

    // True once the agent's standard output holds text.
    bool Printed(const QString& text) const
    {
        return AgentProcess::waitFor([&] { return process.standardOutput().contains(text); }, 3000);
    }

    e2e::ToolResult Console(QStringList arguments) const
    {
        arguments = QStringList{"--port", QString::number(port)} + arguments;
        return e2e::RunTool("nclconsole", arguments, process.environment());
    }

    void SetOffset(qint64 ms) const { process.writeFile("simclock", QByteArray::number(ms)); }
    qint64 Offset() const { return process.readFile("simclock").trimmed().toLongLong(); }

    // A set or force through nclconsole, with the clock file watched while it
    // runs. The agent sets its clock to the console's time of sending at some
    // moment before the file changes, so its offset afterwards lies between
    // minus that delay and zero (each end one whole millisecond wider).
    struct Setting {
        e2e::ToolResult result;
        qint64 offset = 0;
        qint64 delayMs = -1; // from the time in the request to the file's change
    };
    Setting TimedSetting(const QStringList& args) const
    {
        const QString before = process.readFile("simclock");
        QProcess console;
        console.setProcessEnvironment(process.environment());
        console.start(e2e::Executable("nclconsole"),
                      QStringList{"--port", QString::number(port), "--verbose"} + args);
        qint64 changedAt = -1;
        QElapsedTimer waited;
        waited.start();
        while (changedAt < 0 && waited.elapsed() < 5000) {
            if (process.readFile("simclock") != before)
                changedAt = QDateTime::currentMSecsSinceEpoch();
            else
                QThread::usleep(200);
        }
        Setting s;
        if (console.waitForFinished(5000) && console.exitStatus() == QProcess::NormalExit)
            s.result.exitCode = console.exitCode();
        s.result.out = QString::fromLatin1(console.readAllStandardOutput());
        s.result.err = QString::fromLatin1(console.readAllStandardError());
        s.offset = Offset();
        const QRegularExpressionMatch m =
            QRegularExpression(R"(sent \d+ bytes: [SF]\+ (\S+ \S+) (\d+))").match(s.result.err);
        if (m.hasMatch() && changedAt >= 0) {
            QDateTime sent = QDateTime::fromString(m.captured(1), "yyyy-MM-dd hh:mm:ss");
            sent.setTimeZone(QTimeZone::utc());
            s.delayMs = changedAt - (sent.toMSecsSinceEpoch() + m.captured(2).toInt());
        }
        return s;
    }

    // Open descriptors and resident memory (kB) of the agent.
    int Fds() const
    {
        return QDir("/proc/" + Pid() + "/fd").entryList(QDir::NoDotAndDotDot).size();
    }
    long RssKb() const
    {
        const QString status = ReadProc("status");
        const QRegularExpressionMatch m = QRegularExpression(R"(VmRSS:\s+(\d+))").match(status);
        return m.hasMatch() ? m.captured(1).toLong() : -1;
    }
    QString Pid() const
    {
        // The agent is the process whose environment names this data folder.
        const QByteArray home = "NCLMOD_HOME=" + process.home().toLatin1();
        for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
            QFile env("/proc/" + pid + "/environ");
            if (pid.toInt() > 0 && env.open(QIODevice::ReadOnly) &&
                env.readAll().split('\0').contains(home))
                return pid;
        }
        return QString();
    }
    QString ReadProc(const QString& name) const
    {
        QFile f("/proc/" + Pid() + "/" + name);
        return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()) : QString();
    }
};

bool Matches(const QString& pattern, const QString& text)
{
    return QRegularExpression(pattern).match(text).hasMatch();
}

// "offset: -12.013 ms, round trip: 0.210 ms" of nclconsole's SNTP output.
// An SNTP offset can be wrong by at most half the round trip; the agent's
// timestamps, whole milliseconds, add up to one more.
testing::AssertionResult SntpOffsetNear(const QString& out, double expectedMs)
{
    const QRegularExpressionMatch m =
        QRegularExpression(R"(offset: (-?[\d.]+) ms, round trip: ([\d.]+) ms)").match(out);
    if (!m.hasMatch())
        return testing::AssertionFailure() << "no SNTP offset in: " << out.toStdString();
    const double offset = m.captured(1).toDouble();
    const double bound = m.captured(2).toDouble() / 2.0 + 1.0;
    if (std::fabs(offset - expectedMs) <= bound)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "offset " << offset << " ms is not within " << bound
                                       << " ms of " << expectedMs << " ms";
}

TEST(ConsoleE2E, TcpRequestFormsWithExactReplies)
{
    Agent agent;
    ASSERT_TRUE(agent.Start(0));
    struct Case {
        QStringList args;
        int exitCode;
        QString pattern;
    };
    const Case cases[] = {
        {{"heartbeat"}, 0, "^OK-H 00:0C:29:AB:CD:EF\n$"},
        {{"time"}, 0, R"(^OK-T \d{4}-\d\d-\d\d \d{1,2}:\d\d:\d\d\.\d{3}\n$)"},
        {{"command", "notepad"}, 0, "^OK-C\n$"},
        {{"relay", "1ON"}, 0, "^OK-X \n$"},
        {{"raw", "Q+"}, 0, "^Unknown\n$"},
        {{"--timeout", "500", "raw", "T"}, 1, "^$"},
        {{"--timeout", "500", "raw", "H"}, 1, "^$"},
    };
    for (const Case& c : cases) {
        const e2e::ToolResult r = agent.Console(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args.join(' ').toStdString();
        EXPECT_TRUE(Matches(c.pattern, r.out)) << r.out.toStdString();
    }
    // The status label of a foreground run, one block per request.
    EXPECT_TRUE(agent.Printed("Request from 127.0.0.1\n\nUnknown command\n\nResponse: Error\n\n"));
    EXPECT_TRUE(agent.Printed("Request from 127.0.0.1\n\nCheck Heartbeat\n\nResponse: OK\n\n"));
}

testing::AssertionResult SetToTheConsolesTime(const Agent::Setting& s)
{
    if (s.delayMs < 0)
        return testing::AssertionFailure()
               << "the clock was not set or the request not echoed: " << s.result.err.toStdString();
    if (s.offset <= 1 && s.offset >= -s.delayMs - 1)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "offset " << s.offset << " ms after a setting "
                                       << s.delayMs << " ms after the console's time";
}

TEST(ConsoleE2E, SetAndForceMoveTheClockToTheConsolesTime)
{
    for (int clientFormat : {0, 2}) {
        SCOPED_TRACE(clientFormat);
        Agent agent;
        ASSERT_TRUE(agent.Start(clientFormat));
        const QStringList transport = clientFormat == 2 ? QStringList{"--udp"} : QStringList{};

        agent.SetOffset(7000);
        const Agent::Setting set = agent.TimedSetting(transport + QStringList{"set"});
        EXPECT_EQ(set.result.exitCode, 0);
        // TCP answers with the agent's time before the setting, UDP with an SNTP reply.
        if (clientFormat == 0) {
            EXPECT_TRUE(
                Matches(R"(^OK-S \d\d-\d\d-\d\d \d\d:\d\d:\d\d\.\d{0,3}\n$)", set.result.out))
                << set.result.out.toStdString();
        } else {
            EXPECT_TRUE(SntpOffsetNear(set.result.out, 7000.0));
        }
        EXPECT_TRUE(SetToTheConsolesTime(set));

        agent.SetOffset(-4000);
        const Agent::Setting force = agent.TimedSetting(transport + QStringList{"force"});
        EXPECT_EQ(force.result.exitCode, 0);
        if (clientFormat == 0) {
            EXPECT_TRUE(Matches(R"(^OK-F \d\d-\d\d-\d\d \d\d:\d\d:\d\d\n$)", force.result.out))
                << force.result.out.toStdString();
        }
        EXPECT_TRUE(SetToTheConsolesTime(force));
    }
}

TEST(ConsoleE2E, UdpRequestFormsAndShortDatagrams)
{
    Agent agent;
    ASSERT_TRUE(agent.Start(2));
    agent.SetOffset(2500);
    EXPECT_EQ(agent.Console({"--udp", "heartbeat"}).out, "OK-H\n");
    EXPECT_EQ(agent.Console({"--udp", "command", "x"}).out, "OK-C\n");
    EXPECT_EQ(agent.Console({"--udp", "relay", "x"}).out, "OK-X\n");
    const e2e::ToolResult time = agent.Console({"--udp", "time"});
    EXPECT_TRUE(time.out.startsWith("SNTP reply: first byte 85 (mode 5), stratum 1, poll 4, "
                                    "precision -18, reference TDWN\n"))
        << time.out.toStdString();
    EXPECT_TRUE(SntpOffsetNear(time.out, 2500.0));
    // Any other first byte is a plain SNTP request.
    const e2e::ToolResult sntp = agent.Console({"sntp"});
    EXPECT_TRUE(sntp.out.startsWith("SNTP reply: first byte 36 (mode 4)"))
        << sntp.out.toStdString();

    // 0, 1, 2 and 47 bytes: no reply; the agent goes on serving.
    for (const QString& raw : {QString(), QString("T"), QString("TT"), QString(47, 'T')})
        EXPECT_EQ(agent.Console({"--udp", "--timeout", "300", "raw", raw}).exitCode, 1)
            << raw.size();
    EXPECT_EQ(agent.Console({"--udp", "heartbeat"}).out, "OK-H\n");
    EXPECT_TRUE(
        agent.Printed("Request from 127.0.0.1\n\nCheck client time SNTP\n\nResponse: OK\n\n"));
}

TEST(ConsoleE2E, TimeServerRoleAnswersTheTimeOnly)
{
    Agent tcp;
    ASSERT_TRUE(tcp.Start(0, "NCLsrvc"));
    for (const QStringList& args :
         {QStringList{"command", "shutdown"}, QStringList{"raw", "anything"},
          QStringList{"raw", "10.0.0.1+x"}}) {
        const e2e::ToolResult r = tcp.Console(args);
        EXPECT_TRUE(Matches(R"(^Server: \d\d-\d\d-\d\d \d\d:\d\d:\d\d\n$)", r.out))
            << r.out.toStdString();
    }
    EXPECT_FALSE(tcp.process.standardOutput().contains("Request from"));

    Agent udp;
    ASSERT_TRUE(udp.Start(2, "NCLsrvc"));
    udp.SetOffset(-1500);
    const e2e::ToolResult r = udp.Console({"sntp"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(SntpOffsetNear(r.out, -1500.0));
}

TEST(ConsoleE2E, ChronydMeasuresTheSimulatedOffset)
{
    for (const QString& role : {QString("NCLsrvc"), QString("NCLmod")}) {
        SCOPED_TRACE(role.toStdString());
        Agent agent;
        ASSERT_TRUE(agent.Start(2, role));
        agent.SetOffset(3250);
        // -Q measures and prints, never sets the clock; a private config on the agent's port.
        const QString conf = agent.process.file("chrony.conf");
        agent.process.writeFile("chrony.conf",
                                QStringLiteral("server 127.0.0.1 port %1 iburst\ncmdport 0\n"
                                               "pidfile %2/chronyd.pid\n")
                                    .arg(agent.port)
                                    .arg(agent.process.home())
                                    .toLatin1());
        QProcess chronyd;
        chronyd.setProcessChannelMode(QProcess::MergedChannels);
        chronyd.start("chronyd", {"-Q", "-u", "root", "-t", "30", "-f", conf});
        ASSERT_TRUE(chronyd.waitForStarted(5000)) << "chronyd is not installed";
        ASSERT_TRUE(chronyd.waitForFinished(40000));
        const QString out = QString::fromLocal8Bit(chronyd.readAll());
        const QRegularExpressionMatch m =
            QRegularExpression(R"(System clock wrong by (-?[\d.]+) seconds)").match(out);
        ASSERT_TRUE(m.hasMatch()) << out.toStdString();
        // chronyd reports how far its clock is behind the server's.
        EXPECT_NEAR(m.captured(1).toDouble() * 1000.0, 3250.0, 2.0) << out.toStdString();
        EXPECT_EQ(agent.Offset(), 3250); // no client moved the agent's clock
    }
}

TEST(ConsoleE2E, SntpClientOnPort123)
{
    QUdpSocket probe;
    if (!probe.bind(QHostAddress::LocalHost, 123))
        GTEST_SKIP() << "127.0.0.1:123 is taken or may not be bound here: "
                     << probe.errorString().toStdString();
    probe.close();
    Agent agent;
    ASSERT_TRUE(agent.Start(2, "NCLsrvc", 123));
    agent.SetOffset(-2750);
    QProcess sntp; // without -s/-S it only reports
    sntp.setProcessChannelMode(QProcess::MergedChannels);
    sntp.start("sntp", {"-p", "4", "-g", "100", "127.0.0.1"});
    ASSERT_TRUE(sntp.waitForStarted(5000)) << "sntp is not installed";
    ASSERT_TRUE(sntp.waitForFinished(20000));
    const QString out = QString::fromLocal8Bit(sntp.readAll());
    // "... (+0000) -2.750123 +/- 0.000321 127.0.0.1 s1 no-leap": the offset and
    // sntp's own error bound, widened by the agent's whole milliseconds.
    const QRegularExpressionMatch m =
        QRegularExpression(R"(\) ([+-][\d.]+) \+/- ([\d.]+) )").match(out);
    ASSERT_TRUE(m.hasMatch()) << out.toStdString();
    EXPECT_NEAR(m.captured(1).toDouble() * 1000.0, -2750.0, m.captured(2).toDouble() * 1000.0 + 1.0)
        << out.toStdString();
}

TEST(ConsoleE2E, BadInputLeavesTheAgentServingWithItsResources)
{
    Agent tcp;
    ASSERT_TRUE(tcp.Start(0));
    const int fds = tcp.Fds();
    const long rss = tcp.RssKb();
    {
        QTcpSocket idle; // connects and sends nothing
        idle.connectToHost(QHostAddress::LocalHost, tcp.port);
        ASSERT_TRUE(idle.waitForConnected(2000));
        for (const QByteArray& data :
             {QByteArray(1 << 20, 'A'), QByteArray("\x00\xff\x80\x01", 4)}) {
            QTcpSocket peer;
            peer.connectToHost(QHostAddress::LocalHost, tcp.port);
            ASSERT_TRUE(peer.waitForConnected(2000));
            peer.write(data);
            peer.waitForBytesWritten(5000);
            EXPECT_FALSE(peer.waitForReadyRead(500)); // no "+": no reply
        }
    }
    EXPECT_EQ(tcp.Console({"heartbeat"}).out, "OK-H 00:0C:29:AB:CD:EF\n");
    EXPECT_TRUE(AgentProcess::waitFor([&] { return tcp.Fds() <= fds; }, 5000))
        << tcp.Fds() << " vs " << fds;
    EXPECT_LT(tcp.RssKb(), rss + 8 * 1024);

    // 100,000 SNTP requests in a burst at the time server.
    Agent server;
    ASSERT_TRUE(server.Start(2, "NCLsrvc"));
    ASSERT_EQ(server.Console({"sntp"}).exitCode, 0);
    const int serverFds = server.Fds();
    const long serverRss = server.RssKb();
    QUdpSocket client;
    ASSERT_TRUE(client.bind(QHostAddress::LocalHost, 0));
    QByteArray request(48, '\0');
    request[0] = 0x23;
    int answered = 0;
    for (int i = 0; i < 100000; ++i) {
        client.writeDatagram(request, QHostAddress::LocalHost, server.port);
        while (client.hasPendingDatagrams())
            answered += client.receiveDatagram().data().size() == 48;
        if (i % 64 == 63)
            QThread::usleep(200); // the loopback queue holds only so many
    }
    AgentProcess::waitFor(
        [&] {
            while (client.hasPendingDatagrams())
                answered += client.receiveDatagram().data().size() == 48;
            return answered == 100000;
        },
        5000);
    // The loopback queues drop some of a burst; what arrives is answered.
    EXPECT_GT(answered, 50000);
    EXPECT_EQ(server.Console({"sntp"}).exitCode, 0);
    EXPECT_LE(server.Fds(), serverFds);
    EXPECT_LT(server.RssKb(), serverRss + 8 * 1024);
}

} // namespace

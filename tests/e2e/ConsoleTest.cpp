// The console protocol end to end: the real agent, nclconsole and real SNTP
// clients (chronyd -Q, sntp) on loopback, with the agent's clock simulated.
#include "AgentProcess.h"

#include <QDateTime>
#include <QFileInfo>
#include <QNetworkDatagram>
#include <QRegularExpression>
#include <QTimeZone>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <cmath>

using e2e::AgentProcess;

namespace
{

// A set or force through nclconsole; returns the console's reply. The agent
// sets its clock to the console's time of sending, echoed as "S+ date time ms",
// and rewrites the clock file as it does, so its offset afterwards lies
// between minus the file's age at that moment and zero: one whole
// millisecond wider at each end, and one tick of the file system's coarse
// timestamps (10 ms at most) wider below.
QString SetsToTheConsolesTime(const AgentProcess& agent, const QString& command)
{
    const testsupport::ToolResult r = agent.console({"--verbose", command});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QRegularExpressionMatch m =
        QRegularExpression(R"([SF]\+ (\S+ \d\d:\d\d:\d\d) (\d+))").match(r.err);
    if (!m.hasMatch()) {
        ADD_FAILURE() << "the request was not echoed: " << r.err.toStdString();
        return r.out;
    }
    QDateTime sent = QDateTime::fromString(m.captured(1), "yyyy-MM-dd hh:mm:ss");
    sent.setTimeZone(QTimeZone::utc());
    const qint64 delayMs = QFileInfo(agent.file("simclock")).lastModified().toMSecsSinceEpoch() -
                           (sent.toMSecsSinceEpoch() + m.captured(2).toInt());
    const qint64 offset = agent.clockOffset();
    EXPECT_TRUE(offset <= 1 && offset >= -delayMs - 11)
        << "offset " << offset << " ms after a setting " << delayMs
        << " ms after the console's time";
    return r.out;
}

// Starts a console agent on a fresh port (or the wanted one) in New York time.
bool StartAgent(AgentProcess& agent, int clientFormat, const QString& role = "NCLmod",
                quint16 wanted = 0)
{
    agent.environment().insert("TZ", "America/New_York");
    return agent.startServing(clientFormat, "MACaddr,00:0C:29:AB:CD:EF\n", {}, role, wanted);
}

// Sends `count` SNTP requests from one address, never more than `window`
// unanswered, and counts the 48-byte answers until the agent falls silent.
int AnsweredOf(const AgentProcess& agent, int count, int window, int silenceMs)
{
    QUdpSocket client;
    client.bind(QHostAddress::LocalHost, 0);
    QByteArray request(48, '\0');
    request[0] = 0x23;
    int sent = 0;
    int answered = 0;
    while (answered < count) {
        for (; sent < count && sent - answered < window; ++sent)
            client.writeDatagram(request, QHostAddress::LocalHost, agent.port());
        if (!client.waitForReadyRead(silenceMs))
            break;
        while (client.hasPendingDatagrams())
            answered += client.receiveDatagram().data().size() == 48;
    }
    return answered;
}

testing::AssertionResult Matches(const QString& pattern, const QString& text)
{
    if (QRegularExpression(pattern).match(text).hasMatch())
        return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << '"' << text.toStdString() << "\" does not match " << pattern.toStdString();
}

// An offset measured over SNTP is wrong by at most half the round trip, one
// more millisecond for the agent's whole ones, and the rounding of the printed
// figures. nclconsole prints "offset: -12.013 ms, round trip: 0.210 ms" for
// sntp and "Offset : +2.500 seconds" and "Round trip : 0.001 seconds" for
// status.
testing::AssertionResult OffsetNear(const QString& out, double expectedMs)
{
    QRegularExpressionMatch m =
        QRegularExpression(R"(offset: (-?[\d.]+) ms, round trip: ([\d.]+) ms)").match(out);
    double scale = 1.0;
    double slack = 1.0;
    if (!m.hasMatch()) {
        m = QRegularExpression(
                R"(Offset\s+: ([+-][\d.]+) seconds.*\nRound trip\s+: ([\d.]+) seconds)")
                .match(out);
        scale = 1000.0;
        slack = 2.0;
    }
    if (!m.hasMatch())
        return testing::AssertionFailure() << "no offset in: " << out.toStdString();
    const double offset = m.captured(1).toDouble() * scale;
    const double bound = m.captured(2).toDouble() * scale / 2.0 + slack;
    if (std::fabs(offset - expectedMs) <= bound)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "offset " << offset << " ms is not within " << bound
                                       << " ms of " << expectedMs << " ms";
}

// The rate limit of the registry key, read at start: of 20 requests from one
// address only what the burst left after the start-up probe and one leak
// are answered (without the key every one is: see the burst of the time
// server below).
TEST(ConsoleE2E, RateLimitFromTheRegistryAtStart)
{
    AgentProcess agent;
    const QString key = "HKLM\\SOFTWARE\\Nightcall\\Limits";
    for (const auto& [name, value] : {std::pair{"Interval", "12"}, {"Burst", "3"}, {"Leak", "4"}})
        ASSERT_EQ(
            agent.nclreg({"add", key, "/v", name, "/t", "REG_DWORD", "/d", value, "/f"}).exitCode,
            0);
    ASSERT_TRUE(StartAgent(agent, 2, "NCLsrvc"));
    const int answered = AnsweredOf(agent, 20, 20, 500);
    EXPECT_GE(answered, 1);
    EXPECT_LE(answered, 3);
}

// Over TCP: the module's request forms, its status label and settings, and a
// time server that answers every request with the time, which only raw
// takes as a reply.
TEST(ConsoleE2E, ModuleAndTimeServerOverTcp)
{
    AgentProcess agent;
    ASSERT_TRUE(StartAgent(agent, 0));
    const struct {
        QStringList args;
        int exitCode;
        QString pattern;
    } cases[] = {
        {{"--port", "32768", "heartbeat"}, 2, "^$"},
        // Datagrams to a TCP agent: nothing answers, and the console says what to check.
        {{"--udp", "--timeout", "300", "heartbeat"}, 1, "^$"},
        {{"status"},
         0,
         R"(^Agent           : 127\.0\.0\.1:\d+ TCP\nAgent time      : .* UTC\n)"
         R"(Offset          : [+-]\d+\.\d{3} seconds \(agent (ahead of|behind|level with) this computer\)\n)"
         R"(Round trip      : \d+\.\d{3} seconds\nMAC address     : 00:0C:29:AB:CD:EF\n$)"},
    };
    for (const auto& c : cases) {
        const testsupport::ToolResult r = agent.console(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args.join(' ').toStdString();
        EXPECT_TRUE(Matches(c.pattern, r.out));
    }
    EXPECT_TRUE(agent.console({"--udp", "--timeout", "300", "heartbeat"})
                    .err.contains("is the agent on TCP (ClientFormat 0)? is the port right?"));
    // The status label of a foreground run, one block per request.
    EXPECT_TRUE(agent.printed("Request from 127.0.0.1\n\nCheck Heartbeat\n\nResponse: OK\n\n"));

    // Set answers with the agent's time before the setting, force without milliseconds.
    agent.setClockOffset(7000);
    EXPECT_TRUE(Matches(R"(^OK-S \d\d-\d\d-\d\d \d\d:\d\d:\d\d\.\d{0,3}\n$)",
                        SetsToTheConsolesTime(agent, "set")));
    agent.setClockOffset(-4000);
    EXPECT_TRUE(Matches(R"(^OK-F \d\d-\d\d-\d\d \d\d:\d\d:\d\d\n$)",
                        SetsToTheConsolesTime(agent, "force")));
    agent.setClockOffset(2500);
    EXPECT_TRUE(OffsetNear(agent.console({"status"}).out, 2500.0));

    AgentProcess server;
    ASSERT_TRUE(StartAgent(server, 0, "NCLsrvc"));
    for (const QStringList& args :
         {QStringList{"command", "shutdown"}, QStringList{"raw", "10.0.0.1+x"}}) {
        const testsupport::ToolResult r = server.console(args);
        EXPECT_TRUE(Matches(R"(^Server: \d\d-\d\d-\d\d \d\d:\d\d:\d\d\n$)", r.out));
        EXPECT_EQ(r.exitCode, args[0] == "raw" ? 0 : 1);
        EXPECT_EQ(r.err.contains("a time server rather than the agent's module role?"),
                  args[0] != "raw");
    }
}

// Over UDP: a module takes set and force from datagrams and answers SNTP
// requests; a time server is an SNTP server for nclconsole, chronyd and sntp
// (on port 123 when that port can be had), and a burst of 100,000 requests
// costs it no resources.
TEST(ConsoleE2E, ModuleAndTimeServerOverUdp)
{
    AgentProcess agent;
    agent.environment().insert("TZ", "America/New_York");
    ASSERT_TRUE(agent.startServing(2, "MACaddr,00:0C:29:AB:CD:EF\nServerFormat,2\n"));
    // A set or force is an SNTP request whose first byte is the letter, answered
    // with an SNTP reply before the engine sees it.
    agent.setClockOffset(7000);
    for (const char* command : {"set", "force"}) {
        const testsupport::ToolResult sent = agent.console({"--udp", "--verbose", command});
        EXPECT_EQ(sent.exitCode, 0) << command;
        EXPECT_TRUE(OffsetNear(sent.out, 7000.0)) << command;
        EXPECT_TRUE(sent.err.contains(QStringLiteral("sent 48 bytes: %1, an SNTP request with "
                                                     "transmit time ")
                                          .arg(QChar(command[0]).toUpper())))
            << sent.err.toStdString();
    }

    agent.setClockOffset(2500);
    const testsupport::ToolResult time = agent.console({"--udp", "time"});
    EXPECT_TRUE(time.out.startsWith("SNTP reply: first byte 85 (mode 5), stratum 1, poll 4, "
                                    "precision -18, reference TDWN\n"))
        << time.out.toStdString();
    EXPECT_TRUE(OffsetNear(time.out, 2500.0));
    const testsupport::ToolResult status = agent.console({"--udp", "status"});
    EXPECT_TRUE(OffsetNear(status.out, 2500.0));
    EXPECT_TRUE(status.out.contains("MAC address     : (a UDP heartbeat carries none)\n"));
    EXPECT_EQ(agent.clockOffset(), 2500); // no client moved the agent's clock
    const testsupport::ToolResult tcp = agent.console({"--timeout", "300", "heartbeat"});
    EXPECT_EQ(tcp.exitCode, 1);
    EXPECT_TRUE(tcp.err.contains("is the agent on UDP (ClientFormat 2)? is the port right?"))
        << tcp.err.toStdString();

    QUdpSocket probe;
    const bool on123 = probe.bind(QHostAddress::LocalHost, 123);
    const QString why = probe.errorString();
    probe.close();
    AgentProcess server;
    ASSERT_TRUE(StartAgent(server, 2, "NCLsrvc", on123 ? 123 : 0));
    // The one start line of a serving agent, printed once.
    EXPECT_TRUE(server.printed(QStringLiteral("NCLmod 1.0.0: time-server role (serves time to "
                                              "clients), UDP port %1 on 127.0.0.1, data folder "
                                              "%2, simulated clock (%3)\n")
                                   .arg(server.port())
                                   .arg(server.home(), server.file("simclock"))));
    EXPECT_EQ(server.standardOutput().count("NCLmod 1.0.0: "), 1);
    server.setClockOffset(-2750);
    const testsupport::ToolResult r = server.console({"sntp"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.startsWith("SNTP reply: first byte 36 (mode 4)")) << r.out.toStdString();
    EXPECT_TRUE(OffsetNear(r.out, -2750.0));
    // chronyd -Q measures the agent's offset over SNTP and prints how far its
    // clock is behind, never setting one; its private config aims at the agent.
    server.writeFile("chrony.conf", QStringLiteral("server 127.0.0.1 port %1 iburst\ncmdport 0\n"
                                                   "pidfile %2/chronyd.pid\n")
                                        .arg(server.port())
                                        .arg(server.home())
                                        .toLatin1());
    const testsupport::ToolResult chronyd = testsupport::Run(
        "chronyd", {"-Q", "-u", "root", "-t", "30", "-f", server.file("chrony.conf")},
        server.environment(), 40000);
    const QString measured = chronyd.out + chronyd.err;
    const QRegularExpression wrongBy(R"(System clock wrong by (-?[\d.]+) seconds)");
    EXPECT_NEAR(wrongBy.match(measured).captured(1).toDouble() * 1000.0, -2750.0, 2.0)
        << measured.toStdString();
    if (on123) {
        // Without -s or -S, sntp only reports.
        const testsupport::ToolResult sntp = testsupport::Run(
            "sntp", {"-p", "4", "-g", "100", "127.0.0.1"}, server.environment(), 20000);
        const QString out = sntp.out + sntp.err;
        // sntp marks its requests unsynchronised (0xE3) and the reply keeps
        // those leap bits (0xE4), which sntp takes for a server out of sync:
        // it was answered, and refuses the answer.
        EXPECT_TRUE(out.contains("127.0.0.1: Response dropped: leap not in sync"))
            << out.toStdString();
    }

    const int fds = server.openFds();
    const long rss = server.rssKb();
    // Never more than 64 unanswered, so that no socket queue overflows on the
    // way: every one of them must be answered.
    EXPECT_EQ(AnsweredOf(server, 100000, 64, 2000), 100000);
    EXPECT_EQ(server.console({"sntp"}).exitCode, 0);
    EXPECT_LE(server.openFds(), fds);
    EXPECT_LT(server.rssKb(), rss + 8 * 1024);
    if (!on123)
        GTEST_SKIP() << "127.0.0.1:123 could not be bound, the sntp client was not run: "
                     << why.toStdString();
}

} // namespace

// Every setting recorded, end to end: the real agent takes console set
// requests and writes the event-log file, syslog datagrams to a private
// rsyslogd and the printed report.
#include "AgentProcess.h"
#include "TestSupport.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <QUdpSocket>

#include <gtest/gtest.h>

using e2e::AgentProcess;

namespace
{

// The events of a setting 9 s behind, above the 5 s limit, one 7 s ahead,
// and one 3 s ahead on a clock the agent may not set.
struct Event {
    int priority;
    QString text;
};
const Event kEvents[] = {
    {102, "Info    Setting done - time changed: 9 seconds."},
    {100, "Warning Time difference of 9 seconds exceeds limit of 5 seconds."},
    {102, "Info    Setting done - time changed: -7 seconds."},
    {102, "Info    Setting done - time changed: -3 seconds."},
    {100, "Warning Setting refused - the clock was not changed: Permission denied (error 70)"},
};

QStringList EventLines(const AgentProcess& agent)
{
    return agent.readFile("evntfile.txt").split("\r\n", Qt::SkipEmptyParts).mid(3);
}

// Puts the agent's clock off by ms, asks the console to set it, and waits
// until the event log has the given number of lines.
bool SetFrom(const AgentProcess& agent, qint64 offsetMs, int eventLines)
{
    agent.setClockOffset(offsetMs);
    return agent.console({"set"}).exitCode == 0 &&
           AgentProcess::waitFor([&] { return EventLines(agent).size() >= eventLines; }, 5000);
}

// rsyslogd as a child on a loopback port, with a private configuration in
// the agent's data folder; what it receives goes to received.log there.
struct Rsyslog {
    explicit Rsyslog(const AgentProcess& agent) : agent(agent) {}
    ~Rsyslog() { testsupport::StopProcess(process); }
    bool Start(const QString& binary)
    {
        agent.writeFile(
            "rsyslog.conf",
            QStringLiteral(
                "global(workDirectory=\"%1\")\nmodule(load=\"imudp\")\n"
                "input(type=\"imudp\" address=\"127.0.0.1\" port=\"%2\")\n"
                "template(name=\"raw\" type=\"string\" string=\"%pri%|%rawmsg%\\n\")\n"
                "*.* action(type=\"omfile\" file=\"%1/received.log\" template=\"raw\")\n")
                .arg(agent.home())
                .arg(port)
                .toLatin1());
        process.start(binary,
                      {"-n", "-f", agent.file("rsyslog.conf"), "-i", agent.file("rsyslogd.pid")});
        // Ready once a probe datagram reaches its file.
        QUdpSocket sender;
        return process.waitForStarted(5000) &&
               AgentProcess::waitFor(
                   [&] {
                       sender.writeDatagram("<14>probe", QHostAddress::LocalHost, port);
                       QThread::msleep(50);
                       return Received().contains("probe");
                   },
                   10000);
    }
    QString Received() const { return agent.readFile("received.log"); }

    const AgentProcess& agent;
    QProcess process;
    const quint16 port = e2e::FreePort();
};

// Printed instead of filed: the settings reach the event-log file and a real
// rsyslogd with their priorities, the drift between them the settings store,
// and the report lands as a PDF at the end. A clock the agent may not set
// keeps the setting's report line and its "Setting done" event, and the
// refusal is a warning and a line on standard error (the journal, under a
// service manager).
TEST(RecordsE2E, SettingsReachTheEventLogRsyslogAndThePrintedReport)
{
    const QString rsyslogd = QStandardPaths::findExecutable("rsyslogd", {"/usr/sbin", "/sbin"});
    const QString pdftotext = QStandardPaths::findExecutable("pdftotext");
    if (rsyslogd.isEmpty() || pdftotext.isEmpty())
        GTEST_SKIP() << "rsyslogd (rsyslog) or pdftotext (poppler-utils) is not installed";
    AgentProcess agent;
    Rsyslog rsyslog(agent);
    ASSERT_TRUE(rsyslog.Start(rsyslogd)) << rsyslog.process.readAllStandardError().toStdString();
    // Everything logged, the sync log to the printer and syslog to the collector.
    agent.environment().insert("TZ", "UTC");
    agent.environment().insert("NCLMOD_PRINTER", "pdf:" + agent.file("report.pdf"));
    // Only this console: no start-up warning about everyone in the event log.
    agent.nclreg({"add", "HKLM\\SOFTWARE\\Nightcall\\Security", "/v", "ConsoleAllow", "/t",
                  "REG_SZ", "/d", "127.0.0.1", "/f"});
    ASSERT_TRUE(
        agent.startServing(0, QStringLiteral("LoggingOn,True\nLoggingFileOn,True\n"
                                             "LoggingMode,2\nLoggingFileName,%1\n"
                                             "LoggingEvntOn,True\nLoggingEvntFileName,%2\n"
                                             "LoggingNTEvntOn,False\n"
                                             "LoggingSyslogOn,True\nLoggingSyslogServ,%3\n"
                                             "LoggingMaxSecOn,True\nLoggingMaxSec,5\n"
                                             "SyncWarning,False\n")
                                  .arg(agent.file("logfile.txt"), agent.file("evntfile.txt"),
                                       "127.0.0.1:" + QString::number(rsyslog.port))));
    ASSERT_TRUE(SetFrom(agent, -9000, 2)); // behind: 9 s, above the 5 s limit
    // Settings are stamped in whole seconds; within one the drift is not derived.
    QThread::msleep(1100);
    ASSERT_TRUE(SetFrom(agent, 7000, 3)); // ahead: -7 s
    EXPECT_FALSE(QFile::exists(agent.file("logfile.txt"))) << "the printer mode writes no file";

    // What the agent wrote is its user's alone.
    for (const char* name : {"registry.db", "evntfile.txt"})
        EXPECT_EQ(QFileInfo(agent.file(name)).permissions() & 0x0077, 0) << name;
    // The drift between the two settings, -7 s over the time between them, is
    // negative; the settings store keeps its whole part for the console.
    const testsupport::ToolResult stored = agent.nclreg(
        {"query", "HKU\\.DEFAULT\\Software\\VB and VBA Program Settings\\NCLmod\\Options", "/v",
         "AutoPrevAccuracy"});
    const double drift = stored.out.section("REG_SZ", 1).trimmed().toDouble();
    EXPECT_LT(drift, 0.0) << stored.out.toStdString();

    agent.setClockOffset(3000);
    QFile::setPermissions(agent.file("simclock"), QFileDevice::ReadOwner);
    ASSERT_TRUE(SetFrom(agent, 3000, 5)) << agent.readFile("evntfile.txt").toStdString();
    const QStringList lines = EventLines(agent);
    ASSERT_EQ(lines.size(), 5) << agent.readFile("evntfile.txt").toStdString();
    ASSERT_TRUE(
        AgentProcess::waitFor([&] { return rsyslog.Received().count("NCLmod:") >= 5; }, 5000))
        << rsyslog.Received().toStdString();
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(lines[i].mid(17), "  " + kEvents[i].text);
        const QString line =
            QStringLiteral("%1|<%1> NCLmod: %2\n").arg(kEvents[i].priority).arg(kEvents[i].text);
        EXPECT_EQ(rsyslog.Received().count(line), 1) << rsyslog.Received().toStdString();
    }
    EXPECT_EQ(agent.clockOffset(), 3000);
    EXPECT_TRUE(AgentProcess::waitFor(
        [&] {
            return agent.standardError().contains(
                "NCLmod: clock setting refused, the clock was not changed: Permission denied "
                "(error 70); setting the clock needs root or CAP_SYS_TIME\n");
        },
        3000))
        << agent.standardError().toStdString();
    EXPECT_EQ(agent.terminate(), 0);

    const testsupport::ToolResult converted = testsupport::Run(
        pdftotext, {"-layout", agent.file("report.pdf"), "-"}, agent.environment());
    QStringList report;
    for (const QString& line : converted.out.split('\n'))
        if (!line.simplified().isEmpty())
            report.append(line.simplified());
    ASSERT_EQ(report.size(), 7) << report.join('\n').toStdString();
    const QString stamp = R"(^\d\d-\d\d-\d\d \d\d:\d\d:\d\d )";
    for (const auto& [row, difference] : {std::pair{3, "9"}, {4, "-7"}, {5, "-3"}})
        EXPECT_TRUE(report[row].contains(QRegularExpression(stamp + difference + R"( \S+ 0$)")))
            << report[row].toStdString();
    EXPECT_NEAR(report[4].section(' ', 3, 3).toDouble(), drift, 1.0) << report[4].toStdString();
    EXPECT_EQ(report[6], "<End of Report> Page 1");
}

} // namespace

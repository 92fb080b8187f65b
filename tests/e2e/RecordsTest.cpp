// Every setting recorded, end to end: the real agent takes console set
// requests and writes the sync log, the event-log file, syslog datagrams (to
// a listener in the test and to a private rsyslogd) and the printed report.
#include "AgentProcess.h"
#include "TestSupport.h"
#include "schedule/colHistSettings.h"
#include "settings/AppState.h"
#include "settings/COptions.h"

#include <QDateTime>
#include <QFileInfo>
#include <QNetworkDatagram>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QUdpSocket>

#include <gtest/gtest.h>

using e2e::AgentProcess;

namespace
{

// The events of a setting 9 s behind, above the 5 s limit, then one 7 s ahead.
struct Event {
    int priority;
    QString text;
};
const Event kEvents[] = {
    {102, "Info    Setting done - time changed: 9 seconds."},
    {100, "Warning Time difference of 9 seconds exceeds limit of 5 seconds."},
    {102, "Info    Setting done - time changed: -7 seconds."},
};

QString SyslogLine(const Event& event)
{
    return QStringLiteral("<%1> NCLmod: %2").arg(event.priority).arg(event.text);
}

// Starts an agent that logs everything, syslog to a collector on this port.
bool StartRecording(AgentProcess& agent, quint16 syslogPort, int loggingMode = 1)
{
    agent.environment().insert("TZ", "UTC");
    agent.environment().insert("NCLMOD_PRINTER", "pdf:" + agent.file("report.pdf"));
    // Only this console: no start-up warning about everyone in the event log.
    agent.nclreg({"add", "HKLM\\SOFTWARE\\Nightcall\\Security", "/v", "ConsoleAllow", "/t",
                  "REG_SZ", "/d", "127.0.0.1", "/f"});
    return agent.startServing(0, QStringLiteral("LoggingOn,True\nLoggingFileOn,True\n"
                                                "LoggingMode,%1\nLoggingFileName,%2\n"
                                                "LoggingEvntOn,True\nLoggingEvntFileName,%3\n"
                                                "LoggingNTEvntOn,False\n"
                                                "LoggingSyslogOn,True\nLoggingSyslogServ,%4\n"
                                                "LoggingMaxSecOn,True\nLoggingMaxSec,5\n"
                                                "SyncWarning,False\n")
                                     .arg(loggingMode)
                                     .arg(agent.file("logfile.txt"), agent.file("evntfile.txt"),
                                          "127.0.0.1:" + QString::number(syslogPort)));
}

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

TEST(RecordsE2E, SettingsReachTheSyncLogTheEventLogAndSyslog)
{
    QUdpSocket collector; // a syslog collector in the test
    ASSERT_TRUE(collector.bind(QHostAddress::LocalHost, 0));
    AgentProcess agent;
    ASSERT_TRUE(StartRecording(agent, collector.localPort()));

    const QDateTime before = QDateTime::currentDateTimeUtc();
    ASSERT_TRUE(SetFrom(agent, -9000, 2)); // behind: 9 s, above the 5 s limit
    // Settings are stamped in whole seconds; within one the drift is not derived.
    QThread::msleep(1100);
    ASSERT_TRUE(SetFrom(agent, 7000, 3)); // ahead: -7 s
    const QDateTime after = QDateTime::currentDateTimeUtc();

    // The event log: header, one line per setting and the limit warning.
    const QString events = agent.readFile("evntfile.txt");
    EXPECT_TRUE(events.startsWith("Event Log")) << events.toStdString();
    EXPECT_TRUE(events.contains("\r\nDate     Time      Type    Action\r\n"));
    const QStringList lines = EventLines(agent);
    ASSERT_EQ(lines.size(), 3) << events.toStdString();
    // Syslog: the same events with their priorities.
    QStringList received;
    AgentProcess::waitFor([&] {
        while (collector.hasPendingDatagrams())
            received.append(QString::fromLatin1(collector.receiveDatagram().data()));
        return received.size() >= 3;
    });
    ASSERT_EQ(received.size(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(lines[i].mid(17), "  " + kEvents[i].text);
        EXPECT_EQ(received[i], SyslogLine(kEvents[i]));
    }

    // What the agent wrote is its user's alone.
    for (const char* name : {"registry.db", "logfile.txt", "evntfile.txt"})
        EXPECT_EQ(QFileInfo(agent.file(name)).permissions() & 0x0077, 0) << name;

    // The sync log read back by the history reader.
    settings::Options().setSyncDataPoints(100);
    schedule::colHistSettings& history = schedule::HistSettings();
    history.ReadInFile(3, agent.file("logfile.txt"), "<all>");
    ASSERT_EQ(history.Count(), 2) << agent.readFile("logfile.txt").toStdString();
    const float expected[] = {9, -7};
    for (qint32 i = 1; i <= 2; ++i) {
        const schedule::CHistSetting& s = *history.Item(i);
        const QDateTime stamp =
            QDateTime(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC)
                .addMSecs(qint64((s.SetDate() + s.SetTime()) * 86400000.0 + 0.5));
        EXPECT_GE(stamp, before.addSecs(-2)) << i;
        EXPECT_LE(stamp, after.addSecs(2)) << i;
        EXPECT_NEAR(s.SetDiff(), expected[i - 1], 1.0) << i;
        EXPECT_EQ(s.SetStatus(), 0) << i;
        EXPECT_EQ(s.SetServer(), "") << "the server column is for direct dial";
    }
    // The drift between the two settings, -7 s over the time between them, is
    // negative; the settings store keeps its whole part for the console.
    const float drift = history.Item(2)->SetAccuracy();
    EXPECT_LT(drift, 0.0f);
    const e2e::ToolResult stored = agent.nclreg(
        {"query", "HKU\\.DEFAULT\\Software\\VB and VBA Program Settings\\NCLmod\\Options", "/v",
         "AutoPrevAccuracy"});
    EXPECT_NEAR(stored.out.section("REG_SZ", 1).trimmed().toDouble(), drift, 1.0)
        << stored.out.toStdString();

    // A clock the agent may not set: the setting keeps its sync-log line and
    // its "Setting done" event, and the refusal is a warning and a line on
    // standard error (the journal, under a service manager).
    agent.setClockOffset(3000);
    QFile::setPermissions(agent.file("simclock"), QFileDevice::ReadOwner);
    ASSERT_TRUE(SetFrom(agent, 3000, 5)) << agent.readFile("evntfile.txt").toStdString();
    const QStringList refused = EventLines(agent);
    EXPECT_EQ(refused[3].mid(17), "  Info    Setting done - time changed: -3 seconds.");
    EXPECT_EQ(refused[4].mid(17), "  Warning Setting refused - the clock was not changed: "
                                  "Permission denied (error 70)");
    EXPECT_EQ(agent.clockOffset(), 3000);
    EXPECT_EQ(agent.readFile("logfile.txt").count("\r\n"), 3 + 3);
    EXPECT_TRUE(AgentProcess::waitFor(
        [&] {
            return agent.standardError().contains(
                "NCLmod: clock setting refused, the clock was not changed: Permission denied "
                "(error 70); setting the clock needs root or CAP_SYS_TIME\n");
        },
        3000))
        << agent.standardError().toStdString();
    EXPECT_EQ(agent.terminate(), 0);
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

// Printed instead of filed (mode 2): the report lands as a PDF at the end, and
// a real rsyslogd receives the events with their priorities.
TEST(RecordsE2E, RsyslogAndThePrintedReport)
{
    const QString rsyslogd = QStandardPaths::findExecutable("rsyslogd", {"/usr/sbin", "/sbin"});
    const QString pdftotext = QStandardPaths::findExecutable("pdftotext");
    if (rsyslogd.isEmpty() || pdftotext.isEmpty())
        GTEST_SKIP() << "rsyslogd (rsyslog) or pdftotext (poppler-utils) is not installed";
    AgentProcess agent;
    Rsyslog rsyslog(agent);
    ASSERT_TRUE(rsyslog.Start(rsyslogd)) << rsyslog.process.readAllStandardError().toStdString();
    ASSERT_TRUE(StartRecording(agent, rsyslog.port, 2));
    ASSERT_TRUE(SetFrom(agent, -9000, 2));
    ASSERT_TRUE(SetFrom(agent, 7000, 3));
    EXPECT_FALSE(QFile::exists(agent.file("logfile.txt"))) << "mode 2 writes no file";
    ASSERT_TRUE(
        AgentProcess::waitFor([&] { return rsyslog.Received().count("NCLmod:") >= 3; }, 5000))
        << rsyslog.Received().toStdString();
    for (const Event& event : kEvents)
        EXPECT_TRUE(rsyslog.Received().contains(QString::number(event.priority) + "|" +
                                                SyslogLine(event) + "\n"))
            << rsyslog.Received().toStdString();
    EXPECT_EQ(agent.terminate(), 0);

    QProcess convert;
    convert.start(pdftotext, {"-layout", agent.file("report.pdf"), "-"});
    ASSERT_TRUE(convert.waitForFinished(10000));
    QStringList lines;
    for (const QString& line : QString::fromUtf8(convert.readAllStandardOutput()).split('\n'))
        if (!line.simplified().isEmpty())
            lines.append(line.simplified());
    ASSERT_EQ(lines.size(), 6) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines[0].startsWith("Synchronization Log Created: "));
    EXPECT_EQ(lines[1], "Date Time Difference Accuracy Status Server");
    EXPECT_EQ(lines[2], "----- ---- ---------- -------- ------ ------");
    EXPECT_TRUE(lines[3].contains(QRegularExpression(R"(^\d\d-\d\d-\d\d \d\d:\d\d:\d\d 9 \S+ 0$)")))
        << lines[3].toStdString();
    EXPECT_TRUE(
        lines[4].contains(QRegularExpression(R"(^\d\d-\d\d-\d\d \d\d:\d\d:\d\d -7 \S+ 0$)")))
        << lines[4].toStdString();
    EXPECT_EQ(lines[5], "<End of Report> Page 1");
}

} // namespace

// Every setting recorded, end to end: the real agent takes console set
// requests and writes the sync log, the event-log file, syslog datagrams (to
// a listener in the test and to a private rsyslogd) and the printed report.
#include "AgentProcess.h"
#include "schedule/colHistSettings.h"
#include "settings/AppState.h"
#include "settings/COptions.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QNetworkDatagram>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QUdpSocket>

#include <gtest/gtest.h>

using e2e::AgentProcess;
using e2e::FreePort;

namespace
{

class RecordingAgent
{
public:
    // Starts an agent that logs everything; the syslog collector is "host:port".
    bool Start(const QString& syslogServer, int loggingMode = 1)
    {
        port = FreePort();
        const QString ini =
            QStringLiteral("TCPPort,%1\n"
                           "LoggingOn,True\nLoggingFileOn,True\nLoggingMode,%2\n"
                           "LoggingFileName,%3\n"
                           "LoggingEvntOn,True\nLoggingEvntFileName,%4\n"
                           "LoggingNTEvntOn,False\n"
                           "LoggingSyslogOn,True\nLoggingSyslogServ,%5\n"
                           "LoggingMaxSecOn,True\nLoggingMaxSec,5\n"
                           "SyncWarning,False\n")
                .arg(port)
                .arg(loggingMode)
                .arg(process.file("logfile.txt"), process.file("evntfile.txt"), syslogServer);
        process.writeFile("REVavidod.ini", ini.toLatin1());
        process.environment().insert("NCLMOD_BIND_ADDRESS", "127.0.0.1");
        process.environment().insert("TZ", "UTC");
        process.environment().insert("NCLMOD_PRINTER", "pdf:" + process.file("report.pdf"));
        return port != 0 && process.start() && process.waitFor([&] {
            return Console({"--timeout", "200", "raw", "H+"}).exitCode == 0;
        });
    }

    e2e::ToolResult Console(QStringList arguments) const
    {
        arguments = QStringList{"--port", QString::number(port)} + arguments;
        return e2e::RunTool("nclconsole", arguments, process.environment());
    }

    // Puts the agent's clock off by ms, asks the console to set it, and waits
    // until the setting is in the event log.
    bool SetFrom(qint64 offsetMs, int eventLines)
    {
        process.writeFile("simclock", QByteArray::number(offsetMs));
        if (Console({"set"}).exitCode != 0)
            return false;
        return AgentProcess::waitFor([&] { return EventLines().size() >= eventLines; }, 5000);
    }

    QStringList EventLines() const
    {
        return process.readFile("evntfile.txt").split("\r\n", Qt::SkipEmptyParts).mid(3);
    }

    mutable AgentProcess process;
    quint16 port = 0;
};

// A syslog collector in the test.
class Listener
{
public:
    Listener() { socket.bind(QHostAddress::LocalHost, 0); }
    QString address() const { return "127.0.0.1:" + QString::number(socket.localPort()); }
    QStringList Received(int count)
    {
        QStringList out;
        AgentProcess::waitFor([&] {
            while (socket.hasPendingDatagrams())
                out.append(QString::fromLatin1(socket.receiveDatagram().data()));
            return out.size() >= count;
        });
        return out;
    }
    QUdpSocket socket;
};

TEST(RecordsE2E, SettingsReachTheSyncLogTheEventLogAndSyslog)
{
    Listener collector;
    RecordingAgent agent;
    ASSERT_TRUE(agent.Start(collector.address()));

    const QDateTime before = QDateTime::currentDateTimeUtc();
    ASSERT_TRUE(agent.SetFrom(-9000, 2)); // behind: 9 s, above the 5 s limit
    ASSERT_TRUE(agent.SetFrom(7000, 3));  // ahead: -7 s
    const QDateTime after = QDateTime::currentDateTimeUtc();

    // The event log: header, one line per setting and the limit warning.
    const QString events = agent.process.readFile("evntfile.txt");
    EXPECT_TRUE(events.startsWith("Event Log")) << events.toStdString();
    EXPECT_TRUE(events.contains("\r\nDate     Time      Type    Action\r\n"));
    const QStringList lines = agent.EventLines();
    ASSERT_EQ(lines.size(), 3) << events.toStdString();
    EXPECT_EQ(lines[0].mid(17).toStdString(), "  Info    Setting done - time changed: 9 seconds.");
    EXPECT_EQ(lines[1].mid(17).toStdString(),
              "  Warning Time difference of 9 seconds exceeds limit of 5 seconds.");
    EXPECT_EQ(lines[2].mid(17).toStdString(), "  Info    Setting done - time changed: -7 seconds.");

    // Syslog: the same events with their priorities.
    EXPECT_EQ(collector.Received(3),
              (QStringList{"<102> NCLmod: Info    Setting done - time changed: 9 seconds.",
                           "<100> NCLmod: Warning Time difference of 9 seconds exceeds limit "
                           "of 5 seconds.",
                           "<102> NCLmod: Info    Setting done - time changed: -7 seconds."}));

    // The sync log read back by the history reader.
    settings::Options().setSyncDataPoints(100);
    schedule::colHistSettings& history = schedule::HistSettings();
    history.ReadInFile(3, agent.process.file("logfile.txt"), "<all>");
    ASSERT_EQ(history.Count(), 2) << agent.process.readFile("logfile.txt").toStdString();
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
    // The drift between the two settings: -7 s over the seconds between them.
    const double elapsedDays = (history.Item(2)->SetTime() - history.Item(1)->SetTime());
    if (elapsedDays > 0) {
        EXPECT_LT(history.Item(2)->SetAccuracy(), 0.0f);
    }
    // Its whole part is what the console finds in the settings store.
    const e2e::ToolResult stored = agent.process.nclreg(
        {"query", "HKU\\.DEFAULT\\Software\\VB and VBA Program Settings\\NCLmod\\Options", "/v",
         "AutoPrevAccuracy"});
    EXPECT_TRUE(stored.out.contains(QString::number(qint64(history.Item(2)->SetAccuracy()))))
        << stored.out.toStdString() << " vs " << history.Item(2)->SetAccuracy();
    EXPECT_EQ(agent.process.terminate(), 0);
}

// rsyslogd as a child on a loopback port with a private configuration.
class Rsyslog
{
public:
    bool Start()
    {
        const QString binary = QStandardPaths::findExecutable("rsyslogd", {"/usr/sbin", "/sbin"});
        if (binary.isEmpty())
            return false;
        QUdpSocket probe;
        probe.bind(QHostAddress::LocalHost, 0);
        port = probe.localPort();
        probe.close();
        const QString conf =
            QStringLiteral(
                "global(workDirectory=\"%1\")\n"
                "module(load=\"imudp\")\n"
                "input(type=\"imudp\" address=\"127.0.0.1\" port=\"%2\")\n"
                "template(name=\"raw\" type=\"string\" string=\"%pri%|%rawmsg%\\n\")\n"
                "*.* action(type=\"omfile\" file=\"%1/received.log\" template=\"raw\")\n")
                .arg(dir.path())
                .arg(port);
        QFile file(dir.path() + "/rsyslog.conf");
        if (!file.open(QIODevice::WriteOnly) || file.write(conf.toLatin1()) < 0)
            return false;
        file.close();
        process.start(
            binary, {"-n", "-f", dir.path() + "/rsyslog.conf", "-i", dir.path() + "/rsyslogd.pid"});
        // Ready once a probe datagram reaches its file.
        QUdpSocket probeSender;
        return process.waitForStarted(5000) &&
               AgentProcess::waitFor(
                   [&] {
                       probeSender.writeDatagram("<14>probe", QHostAddress::LocalHost, port);
                       QThread::msleep(50);
                       return Received().contains("probe");
                   },
                   10000);
    }
    ~Rsyslog()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(5000)) {
                process.kill();
                process.waitForFinished(5000);
            }
        }
    }
    QString Received() const
    {
        QFile file(dir.path() + "/received.log");
        return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
    }
    QTemporaryDir dir;
    QProcess process;
    quint16 port = 0;
};

TEST(RecordsE2E, RsyslogReceivesTheEventsWithTheirPriorities)
{
    Rsyslog rsyslog;
    if (QStandardPaths::findExecutable("rsyslogd", {"/usr/sbin", "/sbin"}).isEmpty())
        GTEST_SKIP() << "rsyslogd is not installed";
    ASSERT_TRUE(rsyslog.Start()) << rsyslog.process.readAllStandardError().toStdString();

    RecordingAgent agent;
    ASSERT_TRUE(agent.Start("127.0.0.1:" + QString::number(rsyslog.port)));
    ASSERT_TRUE(agent.SetFrom(-9000, 2));
    ASSERT_TRUE(
        AgentProcess::waitFor([&] { return rsyslog.Received().count("NCLmod:") >= 2; }, 5000))
        << rsyslog.Received().toStdString();
    const QString received = rsyslog.Received();
    EXPECT_TRUE(
        received.contains("102|<102> NCLmod: Info    Setting done - time changed: 9 seconds.\n"))
        << received.toStdString();
    EXPECT_TRUE(received.contains("100|<100> NCLmod: Warning Time difference of 9 seconds "
                                  "exceeds limit of 5 seconds.\n"));
    EXPECT_EQ(agent.process.terminate(), 0);
}

TEST(RecordsE2E, PrintedReportLandsAsAPdfAtTheEnd)
{
    const QString pdftotext = QStandardPaths::findExecutable("pdftotext");
    if (pdftotext.isEmpty())
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    Listener collector;
    RecordingAgent agent;
    ASSERT_TRUE(agent.Start(collector.address(), 2));
    ASSERT_TRUE(agent.SetFrom(-9000, 2));
    ASSERT_TRUE(agent.SetFrom(7000, 3));
    EXPECT_FALSE(QFile::exists(agent.process.file("logfile.txt"))) << "mode 2 writes no file";
    EXPECT_EQ(agent.process.terminate(), 0);

    QProcess convert;
    convert.start(pdftotext, {"-layout", agent.process.file("report.pdf"), "-"});
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

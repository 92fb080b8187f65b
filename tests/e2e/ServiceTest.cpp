// The agent as a service, with the real executable in a temporary data folder:
// driven through the agent's own service operations and through nclsc.
#include "AgentProcess.h"

#include "host/ServiceRegistration.h"
#include "host/modStartStopSvc.h"
#include "platform/ServiceChannel.h"
#include "platform/ServiceRuntime.h"
#include "settings/OptionStore.h"

#include "TestSupport.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

using e2e::AgentProcess;
using namespace host;

namespace
{

const QString kSettingsKey =
    QStringLiteral(".DEFAULT\\Software\\VB and VBA Program Settings\\NCLmod\\Settings");

class ServiceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Services are launched detached; as their subreaper this test reaps them.
        prctl(PR_SET_CHILD_SUBREAPER, 1);
        agent.writeFile("REVavidod.ini", "TCPPort, 0\nServerName, 127.0.0.1\n");
        agent.writeFile("debug.txt", "");
        agent.environment().insert("NCLMOD_BIND_ADDRESS", "127.0.0.1");
        // The agent's own operations run in this process, on the agent's data folder;
        // what they launch inherits this environment.
        const QByteArray home = agent.home().toLocal8Bit();
        const std::pair<const char*, QByteArray> variables[] = {
            {"NCLMOD_HOME", home},
            {"NCLMOD_SIMCLOCK", home + "/simclock"},
            {"NCLMOD_POWER", "record:" + home + "/power.log"},
            {"NCLMOD_BIND_ADDRESS", "127.0.0.1"},
            {"QT_QPA_PLATFORM", "offscreen"}};
        for (const auto& [name, value] : variables)
            env.push_back(std::make_unique<testsupport::ScopedEnv>(name, value));
    }
    void TearDown() override
    {
        for (const qint64 pid : pids) {
            if (!Gone(pid))
                ::kill(pid_t(pid), SIGKILL);
            waitpid(pid_t(pid), nullptr, 0);
        }
    }
    e2e::ToolResult nclsc(const QStringList& arguments)
    {
        return e2e::RunTool("nclsc", arguments, agent.environment(), 20000);
    }
    // The running service's pid, remembered for the reaping at the end.
    qint64 ServicePid()
    {
        platform::ServiceRuntimeRecord record;
        if (!platform::ReadServiceRuntime("Nightcall", record))
            return 0;
        if (std::find(pids.begin(), pids.end(), record.process.pid) == pids.end())
            pids.push_back(record.process.pid);
        return record.process.pid;
    }
    static bool Gone(qint64 pid)
    {
        const char state = platform::ProcessStateLetter(pid);
        return state == 0 || state == 'Z';
    }
    // Stops the service through nclsc and waits until its process is gone.
    bool StopService(qint64 pid)
    {
        return nclsc({"stop", "Nightcall"}).exitCode == 0 &&
               AgentProcess::waitFor([&] { return Gone(pid); }, 5000);
    }
    QString trace() const { return agent.readFile("DebugFileSvc.txt"); }
    static QString Ok() { return settings::GetSetting("NCLmod", "Settings", "OK", "<none>"); }
    bool Create(const QString& name)
    {
        return nclsc({"create", name, "binPath=", e2e::Executable("NCLmod")}).exitCode == 0;
    }
    // nclsc's output names the state, e.g. "STATE              : 4  RUNNING".
    testing::AssertionResult InState(const e2e::ToolResult& result, const QString& state)
    {
        if (result.out.contains(QRegularExpression("STATE\\s+: " + state)))
            return testing::AssertionSuccess();
        return testing::AssertionFailure() << "not " << state.toStdString() << ": "
                                           << result.out.toStdString() << result.err.toStdString();
    }
    testing::AssertionResult InState(const QString& state)
    {
        return InState(nclsc({"query", "Nightcall"}), state);
    }
    // nclsc ends with the exit code and says every text on standard error.
    testing::AssertionResult Refused(const QStringList& arguments, int exitCode,
                                     const QStringList& texts = {})
    {
        const e2e::ToolResult result = nclsc(arguments);
        bool refused = result.exitCode == exitCode;
        for (const QString& text : texts)
            refused = refused && result.err.contains(text);
        if (refused)
            return testing::AssertionSuccess();
        return testing::AssertionFailure() << result.exitCode << ": " << result.err.toStdString();
    }

    AgentProcess agent;
    std::vector<std::unique_ptr<testsupport::ScopedEnv>> env;
    std::vector<qint64> pids;
};

// One life of the service, driven by the agent's own service operations and
// by nclsc side by side: each answers for the state, the control codes and
// its failures. A second service on the same data folder is refused, by the
// manager and by the agent itself, and garbage, oversized and silent clients
// on the control socket are ignored while the first one runs.
TEST_F(ServiceTest, OneLifeThroughTheAgentsOperationsAndNclsc)
{
    EXPECT_TRUE(Refused({"query", "Nightcall"}, 1,
                        {"1060", "The specified service does not exist as an installed service."}));
    ASSERT_TRUE(RegisterService(kServiceName, "INSTALL", e2e::Executable("NCLmod")));
    EXPECT_TRUE(
        Refused({"create", "Nightcall", "binPath=", e2e::Executable("NCLmod")}, 1, {"1073"}));

    qint16 index = 3;
    ASSERT_EQ(ServiceStart("", kServiceName, index), "OK");
    EXPECT_EQ(index, 0);
    qint64 pid = ServicePid();
    ASSERT_GT(pid, 0);
    EXPECT_EQ(ServiceStatus("", kServiceName, index), "Running");
    EXPECT_EQ(StatusColor(index), kColorGreen);
    EXPECT_EQ(ServiceStart("", kServiceName, index), "Failed to Start");
    EXPECT_TRUE(
        Refused({"start", "Nightcall"}, 1, {"An instance of the service is already running."}));
    ASSERT_TRUE(agent.waitForTrace("Main service loop----------"));

    // Options changed: acknowledged with the code and a date; the option is
    // read again. nclsc prints what the service wrote back.
    settings::SaveSetting("NCLmod", "Options", "LoggingMaxSec", "77");
    ASSERT_TRUE(svc_call_func("OPTIONS_CHANGED", "NCLmod", kSettingsKey));
    EXPECT_TRUE(QRegularExpression("^128-\\d+\\D\\d+\\D\\d+").match(Ok()).hasMatch())
        << Ok().toStdString();
    EXPECT_TRUE(trace().contains("Options changed, getting new options"));
    EXPECT_TRUE(trace().contains("Name: _LoggingMaxSec_  Value:_77_"));
    e2e::ToolResult result = nclsc({"control", "Nightcall", "128"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(Ok().startsWith("128-"));
    EXPECT_TRUE(result.out.contains("        RESULT             : " + Ok() + "\n"))
        << result.out.toStdString();

    ASSERT_TRUE(svc_call_func("STATUS", "NCLmod", kSettingsKey));
    QString text, color;
    EXPECT_TRUE(ReadStatusValue(kSettingsKey, 0x80000003u, "setstattext", text));
    EXPECT_EQ(text, "Options Changed");
    EXPECT_TRUE(ReadStatusValue(kSettingsKey, 0x80000003u, "setstatcolor", color));
    EXPECT_TRUE(QRegularExpression("^\\d+$").match(color).hasMatch()) << color.toStdString();
    result = nclsc({"control", "Nightcall", "140"});
    EXPECT_TRUE(result.out.contains("RESULT             : 140-")) << result.out.toStdString();
    EXPECT_TRUE(result.out.contains("STATUS TEXT        : Options Changed\n"));

    // Codes without a handler are acknowledged and traced as unknown; nclsc
    // refuses codes outside the user range.
    ASSERT_TRUE(svc_call_func("START", "NCLmod", kSettingsKey));
    EXPECT_TRUE(Ok().startsWith("144-"));
    platform::ServiceRuntimeRecord record;
    ASSERT_TRUE(platform::ReadServiceRuntime("Nightcall", record));
    platform::ServiceReply reply;
    ASSERT_EQ(platform::SendServiceControl(record.socketName, 127, reply), 0u);
    ASSERT_TRUE(agent.waitForTrace("Svc Control event  127 received"));
    EXPECT_TRUE(Ok().startsWith("127-"));
    for (const int code : {144, 127})
        EXPECT_TRUE(trace().contains(QRegularExpression(
            QStringLiteral("Svc Control event  %1 received\r\n[^\r\n]{16} <---Unknown code(\r\n|$)")
                .arg(code))))
            << code;
    EXPECT_FALSE(SendAndWait(256, kSettingsKey, kServiceName));
    EXPECT_EQ(Ok(), "");
    EXPECT_FALSE(trace().contains("Svc Control event  256"));
    EXPECT_TRUE(Refused({"control", "Nightcall", "256"}, 2));
    EXPECT_TRUE(Refused({"control", "Nightcall", "127"}, 1, {"The parameter is incorrect."}));

    // Pause is only a state; continue runs the start work again.
    EXPECT_EQ(ServicePause("", kServiceName, index), "OK");
    EXPECT_EQ(ServiceStatus("", kServiceName, index), "Paused");
    EXPECT_EQ(StatusColor(index), kColorLightYellow);
    EXPECT_TRUE(InState("7  PAUSED"));
    EXPECT_EQ(ServiceContinue("", kServiceName, index), "OK");
    EXPECT_EQ(ServiceStatus("", kServiceName, index), "Running");
    const auto loops = [&](int count) {
        return AgentProcess::waitFor(
            [&] { return trace().count("Main service loop----------") == count; });
    };
    EXPECT_TRUE(loops(2));
    EXPECT_TRUE(InState(nclsc({"pause", "Nightcall"}), "7  PAUSED"));
    EXPECT_TRUE(InState(nclsc({"continue", "Nightcall"}), "4  RUNNING"));
    EXPECT_TRUE(loops(3));

    // A second service from the same data folder.
    ASSERT_TRUE(Create("Second"));
    EXPECT_TRUE(Refused({"start", "Second"}, 1,
                        {"1056", "Second cannot start: the service Nightcall already runs from "
                                 "the data folder " +
                                     agent.home()}));
    // Started by someone else than the manager, the second one gives up by itself.
    agent.environment().insert("NCLMOD_SERVICE_NAME", "Second");
    ASSERT_TRUE(agent.start());
    EXPECT_EQ(agent.waitForExit(), 1);
    EXPECT_TRUE(agent.standardError().contains("another service is already running"));
    agent.environment().remove("NCLMOD_SERVICE_NAME");
    EXPECT_EQ(nclsc({"delete", "Second"}).exitCode, 0);
    EXPECT_TRUE(Refused({"query", "Second"}, 1));

    const auto send = [&](const QByteArray& bytes) {
        QLocalSocket socket;
        socket.connectToServer(record.socketName);
        QByteArray received;
        QEventLoop loop;
        QObject::connect(&socket, &QLocalSocket::readyRead, [&] { received += socket.readAll(); });
        QObject::connect(&socket, &QLocalSocket::disconnected, &loop, &QEventLoop::quit);
        QTimer::singleShot(3000, &loop, &QEventLoop::quit);
        socket.write(bytes);
        loop.exec();
        return received;
    };
    EXPECT_EQ(send("\x01\xff garbage\n"), "ERR 87\n");
    EXPECT_EQ(send(QByteArray(200000, 'A')), "");
    // A client that connects and never sends, while another one is served.
    QLocalSocket silent;
    silent.connectToServer(record.socketName);
    EXPECT_EQ(nclsc({"control", "Nightcall", "140"}).exitCode, 0);
    EXPECT_TRUE(AgentProcess::waitFor(
        [&] { return silent.state() == QLocalSocket::UnconnectedState; }, 5000));
    EXPECT_TRUE(InState("4  RUNNING"));
    EXPECT_EQ(ServicePid(), pid);

    // Stop ends the process within a second and leaves the options marked
    // changed; so does SIGTERM. After SIGKILL the process lingers as a zombie
    // whose last word was "running". Each way the service is reported
    // stopped, refuses controls and starts again.
    for (const int signal : {0, SIGTERM, SIGKILL}) {
        SCOPED_TRACE(signal);
        settings::SaveSetting("NCLmod", "Options", "Changed", "False");
        QElapsedTimer stopping;
        stopping.start();
        if (signal == 0) {
            EXPECT_EQ(ServiceStop("", kServiceName, index), "OK");
            EXPECT_EQ(index, 2);
        } else {
            ::kill(pid_t(pid), signal);
        }
        ASSERT_TRUE(AgentProcess::waitFor([&] { return Gone(pid); }, 5000));
        if (signal == 0) {
            EXPECT_LT(stopping.elapsed(), 1000);
            EXPECT_EQ(ServiceStatus("", kServiceName, index), "Stopped");
            EXPECT_EQ(StatusColor(index), kColorLightRed);
            int status = -1;
            ASSERT_EQ(waitpid(pid_t(pid), &status, 0), pid);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            EXPECT_EQ(ServicePause("", kServiceName, index), "Failed to Pause");
            EXPECT_EQ(StatusColor(index), kColorGrey);
            EXPECT_FALSE(svc_call_func("STATUS", "NCLmod", kSettingsKey));
        }
        if (signal != SIGKILL) {
            EXPECT_EQ(settings::GetSetting("NCLmod", "Options", "Changed"), "True");
        }
        EXPECT_TRUE(InState("1  STOPPED"));
        EXPECT_TRUE(Refused({"control", "Nightcall", "140"}, 1));
        EXPECT_TRUE(
            Refused({"stop", "Nightcall"}, 1, {"1062", "The service has not been started."}));

        QFile::remove(agent.file("DebugFileSvc.txt"));
        result = nclsc({"start", "Nightcall"});
        ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
        EXPECT_TRUE(InState(result, "4  RUNNING"));
        EXPECT_NE(ServicePid(), pid);
        pid = ServicePid();
        ASSERT_TRUE(agent.waitForTrace("Main service loop----------"));
    }
    result = nclsc({"stop", "Nightcall"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(InState(result, "3  STOP_PENDING"));
    ASSERT_TRUE(AgentProcess::waitFor([&] { return Gone(pid); }, 2000));

    for (const QStringList& usage : {QStringList{}, QStringList{"frobnicate", "Nightcall"},
                                     QStringList{"query"}, QStringList{"create", "Other"}})
        EXPECT_TRUE(Refused(usage, 2)) << usage.join(' ').toStdString();
    result = nclsc({"--help"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(result.out.contains("nclsc control NAME CODE"));
    ASSERT_TRUE(RegisterService(kServiceName, "REMOVE", e2e::Executable("NCLmod")));
    EXPECT_EQ(ServiceStatus("", kServiceName, index), "Could not open Service");
    EXPECT_EQ(ServiceStateColor(kServiceName), kColorGrey);
    EXPECT_TRUE(Refused({"query", "Nightcall"}, 1));
}

// A port or transport changed in the store moves a running service within
// 2 s of control 128, and control 148 after it leaves only the new port
// serving; the other re-read options hold as fast. One service goes through
// every pair of transports.
TEST_F(ServiceTest, ChangedOptionsApplyWithinTwoSeconds)
{
    const auto heartbeat = [&](quint16 port, int format) {
        QStringList args{"--port", QString::number(port), "--timeout", "300", "heartbeat"};
        return e2e::RunTool("nclconsole", format == 2 ? QStringList{"--udp"} + args : args,
                            agent.environment());
    };
    const auto silent = [&](quint16 port, int format) {
        if (format == 2)
            return heartbeat(port, format).exitCode == 1;
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        return !socket.waitForConnected(300) &&
               socket.error() == QAbstractSocket::ConnectionRefusedError;
    };
    const QString transport[] = {"TCP", "", "UDP"};
    const int formats[] = {2, 2, 0, 0, 2};
    quint16 oldPort = e2e::FreePort();
    // The first start takes the first-run file.
    agent.writeFile("REVavidod.ini",
                    QStringLiteral("TCPPort,%1\nClientFormat,2\nMACaddr,00:00:00:00:00:00\n")
                        .arg(oldPort)
                        .toLatin1());
    ASSERT_TRUE(Create("Nightcall"));
    ASSERT_EQ(nclsc({"start", "Nightcall"}).exitCode, 0);
    const qint64 pid = ServicePid();
    ASSERT_TRUE(AgentProcess::waitFor([&] { return heartbeat(oldPort, 2).exitCode == 0; }));
    for (int step = 1; step < 5; ++step) {
        const int oldFormat = formats[step - 1];
        const int newFormat = formats[step];
        SCOPED_TRACE(
            QStringLiteral("ClientFormat %1 to %2").arg(oldFormat).arg(newFormat).toStdString());
        const quint16 newPort = e2e::FreePort();
        const QString mac = "00:00:00:00:00:0" + QString::number(step);
        for (const auto& [name, value] :
             {std::pair<QString, QString>{"TCPPort", QString::number(newPort)},
              {"MACaddr", mac},
              {"ClientFormat", QString::number(newFormat)},
              {"ServerFormat", "2"}})
            ASSERT_TRUE(settings::SaveSetting("NCLmod", "Options", name, value));
        // A UDP heartbeat carries no MAC address.
        const auto answers = [&] {
            return heartbeat(newPort, newFormat).out ==
                   (newFormat == 2 ? "OK-H\n" : "OK-H " + mac + "\n");
        };
        for (const char* code : {"128", "148"}) {
            SCOPED_TRACE(code);
            QElapsedTimer since;
            since.start();
            ASSERT_EQ(nclsc({"control", "Nightcall", code}).exitCode, 0);
            EXPECT_TRUE(
                AgentProcess::waitFor([&] { return answers() && silent(oldPort, oldFormat); },
                                      std::max(1, 2000 - int(since.elapsed()))));
            // Several exchanges, so that more than one element serves the port.
            for (int i = 0; i < 3; ++i)
                EXPECT_TRUE(answers());
            EXPECT_TRUE(silent(oldPort, oldFormat));
        }
        if (newFormat == 2) {
            // The options read again hold ServerFormat 2 (the start-up
            // heartbeat had switched it to text): a UDP force carries the
            // console's time in an SNTP request and moves the clock to it.
            agent.setClockOffset(-4000);
            const e2e::ToolResult force =
                e2e::RunTool("nclconsole", {"--udp", "--port", QString::number(newPort), "force"},
                             agent.environment());
            EXPECT_EQ(force.exitCode, 0) << force.err.toStdString();
            EXPECT_TRUE(
                AgentProcess::waitFor([&] { return std::abs(agent.clockOffset()) < 1000; }, 3000))
                << agent.clockOffset();
        }
        // The service's output (the journal under systemd) says where it went.
        const QString moved =
            QStringLiteral("NCLmod: options changed: now %1 port %2 (was %3 port %4)\n")
                .arg(transport[newFormat])
                .arg(newPort)
                .arg(transport[oldFormat])
                .arg(oldPort);
        EXPECT_TRUE(agent.readFile("ServiceOutput.txt").contains(moved))
            << agent.readFile("ServiceOutput.txt").toStdString();
        oldPort = newPort;
    }
    ASSERT_TRUE(StopService(pid));
}

// What another user tries against a root service, as that user (setpriv):
// take the service lock before the service starts, bind its control socket
// first, control it, and flood its control socket with connections.
TEST_F(ServiceTest, AnotherUserCannotLockBindOrControlTheService)
{
    const QString python = "/usr/bin/python3";
    const QString setpriv = QStandardPaths::findExecutable("setpriv");
    if (::geteuid() != 0 || setpriv.isEmpty() || !QFile::exists(python))
        GTEST_SKIP() << "needs root, setpriv and " << python.toStdString()
                     << ": another user's attempts were not tried";
    const QString lock = platform::ServiceLockPath();
    ASSERT_TRUE(lock.startsWith("/run/nclmod/")) << lock.toStdString();
    const QStringList nobody{"--reuid=65534", "--regid=65534", "--clear-groups"};
    // The script goes in on standard input: that user may not read the source tree.
    QFile script(QStringLiteral(NCL_SOURCE_DIR) + "/tests/e2e/intruder.py");
    ASSERT_TRUE(script.open(QIODevice::ReadOnly));
    const QByteArray intruder = script.readAll();
    const auto intrude = [&](int connections) {
        QProcess process;
        process.start(setpriv, nobody + QStringList{python, "-", lock,
                                                    platform::ServiceSocketName("Nightcall"),
                                                    QString::number(connections)});
        process.write(intruder);
        process.closeWriteChannel();
        process.waitForFinished(120000);
        return QString::fromLatin1(process.readAllStandardOutput()).trimmed();
    };
    // Before the service runs: neither the lock nor the socket can be taken.
    EXPECT_EQ(intrude(0), "lock EACCES bind EACCES control EACCES refused 0");

    ASSERT_TRUE(Create("Nightcall"));
    ASSERT_EQ(nclsc({"start", "Nightcall"}).exitCode, 0);
    const qint64 pid = ServicePid();
    ASSERT_GT(pid, 0);
    const long before = e2e::RssKb(pid);
    EXPECT_EQ(intrude(10000), "lock EACCES bind EACCES control EACCES refused 10000");
    const long after = e2e::RssKb(pid);
    std::printf("service RSS: %ld kB before, %ld kB after 10000 refused connections\n", before,
                after);
    EXPECT_LE(after - before, 1024) << before << " kB before, " << after << " kB after";

    // The service tool of that user cannot stop it either.
    QProcess tool;
    tool.setProcessEnvironment(agent.environment());
    tool.start(setpriv, nobody + QStringList{e2e::Executable("nclsc"), "stop", "Nightcall"});
    ASSERT_TRUE(tool.waitForFinished(20000));
    EXPECT_NE(tool.exitCode(), 0);
    EXPECT_TRUE(InState("4  RUNNING"));
    EXPECT_EQ(ServicePid(), pid);
    EXPECT_TRUE(StopService(pid));
}

// The production unit: systemd accepts it, and the agent started with its
// environment is the "Nightcall" service and ends cleanly on SIGTERM.
TEST_F(ServiceTest, SystemdUnitRunsTheAgentAsTheService)
{
    QFile unit(QStringLiteral(NCL_SOURCE_DIR) + "/packaging/nightcall.service");
    ASSERT_TRUE(unit.open(QIODevice::ReadOnly));
    QString text = QString::fromUtf8(unit.readAll());
    for (const QString& line : text.split('\n')) {
        const QRegularExpressionMatch match =
            QRegularExpression("^Environment=(\\w+)=(.*)$").match(line);
        if (match.hasMatch() && match.captured(1) != "NCLMOD_HOME")
            agent.environment().insert(match.captured(1), match.captured(2));
    }
    ASSERT_TRUE(Create("Nightcall"));
    ASSERT_TRUE(agent.start());
    EXPECT_TRUE(AgentProcess::waitFor([&] { return InState("4  RUNNING"); }));
    EXPECT_EQ(agent.terminate(), 0); // a clean exit: Restart=on-failure leaves it down

    const QString analyze = QStandardPaths::findExecutable("systemd-analyze");
    if (analyze.isEmpty())
        GTEST_SKIP() << "systemd-analyze is not installed: the unit file was not verified";
    agent.writeFile("nightcall.service",
                    text.replace("/usr/sbin/NCLmod", e2e::Executable("NCLmod")).toUtf8());
    // The manual pages it names come with the package, not with the build; the
    // hardening stays: systemd rates the unit's exposure at most 3.0 of 10.
    for (const QStringList& check : {QStringList{"verify", "--man=no"},
                                     QStringList{"security", "--offline=yes", "--threshold=30"}}) {
        QProcess analysis;
        analysis.setProcessChannelMode(QProcess::MergedChannels);
        analysis.start(analyze, check + QStringList{agent.file("nightcall.service")});
        ASSERT_TRUE(analysis.waitForFinished(60000));
        EXPECT_EQ(analysis.exitCode(), 0) << analysis.readAll().toStdString();
    }
}

} // namespace

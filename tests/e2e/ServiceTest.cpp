// The agent as a service, with the real executable in a temporary data folder:
// driven through nclsc as an operator drives it, as systemd runs it, and
// attacked by another user.
#include "AgentProcess.h"

#include "host/modStartStopSvc.h"
#include "platform/ServiceRuntime.h"
#include "settings/OptionStore.h"

#include "TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

using e2e::AgentProcess;
using testing::ContainsRegex;

namespace
{

class ServiceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Services are launched detached; as their subreaper this test reaps them.
        prctl(PR_SET_CHILD_SUBREAPER, 1);
        agent.writeFile("REVavidod.ini", QStringLiteral("TCPPort,%1\nClientFormat,2\nMACaddr,"
                                                        "00:00:00:00:00:00\nServerName,127.0.0.1\n")
                                             .arg(port)
                                             .toLatin1());
        agent.writeFile("debug.txt", "");
        agent.environment().insert("NCLMOD_BIND_ADDRESS", "127.0.0.1");
    }
    void TearDown() override
    {
        for (const qint64 pid : pids) {
            if (!Gone(pid))
                ::kill(pid_t(pid), SIGKILL);
            waitpid(pid_t(pid), nullptr, 0);
        }
    }
    testsupport::ToolResult nclsc(const QStringList& arguments)
    {
        return testsupport::Run(e2e::Executable("nclsc"), arguments, agent.environment(), 20000);
    }
    static bool Gone(qint64 pid)
    {
        const char state = platform::ProcessStateLetter(pid);
        return state == 0 || state == 'Z';
    }
    // The state nclsc printed, e.g. "4  RUNNING".
    static QString State(const testsupport::ToolResult& result)
    {
        return QRegularExpression("STATE\\s+: (\\d+  \\w+)").match(result.out).captured(1);
    }
    QString State() { return State(nclsc({"query", "Nightcall"})); }
    // nclsc's exit code and standard error, as "1: [SC] StartService FAILED 1056: ...".
    std::string Said(const QStringList& arguments)
    {
        const testsupport::ToolResult result = nclsc(arguments);
        return (QString::number(result.exitCode) + ": " + result.err).toStdString();
    }

    AgentProcess agent;
    // The service's records and settings are read here from the agent's folder.
    testsupport::ScopedEnv home{"NCLMOD_HOME", agent.home().toLocal8Bit()};
    std::vector<qint64> pids;
    quint16 port = e2e::FreePort();
};

// One life of the service: registered and started with nclsc, run as
// systemd runs it (and the unit verified by systemd), answering the control codes, moving its port
// when the options change, refusing a second service on its data folder and another user, stopped
// within a second.
TEST_F(ServiceTest, OneLifeThroughNclscSystemdAndAnotherUser)
{
    const QStringList create{"create", "Nightcall", "binPath=", e2e::Executable("NCLmod")};
    ASSERT_EQ(nclsc(create).exitCode, 0);
    EXPECT_EQ(Said(create),
              "1: [SC] CreateService FAILED 1073:\n\nThe specified service already exists.\n");

    // Another user (as root, through setpriv) can take neither the service
    // lock nor its control socket, before the service runs or while it does.
    const QString setpriv = QStandardPaths::findExecutable("setpriv");
    // That user may not run the python3 of this user's PATH.
    const QString python = "/usr/bin/python3";
    const bool intruders = ::geteuid() == 0 && !setpriv.isEmpty() && QFile::exists(python);
    if (!intruders)
        std::printf("needs root, setpriv and %s: another user's attempts were not tried\n",
                    qPrintable(python));
    const QStringList nobody{"--reuid=65534", "--regid=65534", "--clear-groups"};
    // The script goes in on standard input: that user may not read the source tree.
    const QByteArray script =
        testsupport::ReadFile(NCL_SOURCE_DIR "/tests/e2e/intruder.py").toLatin1();
    const auto intrude = [&](int connections) {
        const QStringList args{python, "-", platform::ServiceLockPath(),
                               platform::ServiceSocketName("Nightcall"),
                               QString::number(connections)};
        return testsupport::Run(setpriv, nobody + args, agent.environment(), 120000, script)
            .out.trimmed();
    };
    if (intruders) {
        EXPECT_TRUE(platform::ServiceLockPath().startsWith("/run/nclmod/"));
        EXPECT_EQ(intrude(0), "lock EACCES bind EACCES control EACCES refused 0");
    }

    // As the production unit runs it: the unit's environment makes the agent
    // the service, and SIGTERM is a clean stop that marks the options changed
    // (a clean exit: Restart=on-failure leaves it down).
    QString unit = testsupport::ReadFile(NCL_SOURCE_DIR "/packaging/nightcall.service");
    ASSERT_TRUE(unit.contains("Environment="));
    for (const QString& line : unit.split('\n')) {
        if (line.startsWith("Environment=") && !line.startsWith("Environment=NCLMOD_HOME="))
            agent.environment().insert(line.section('=', 1, 1), line.section('=', 2));
    }
    ASSERT_TRUE(agent.start());
    EXPECT_TRUE(AgentProcess::waitFor([&] { return State() == "4  RUNNING"; }));
    settings::SaveSetting("NCLmod", "Options", "Changed", "False");
    EXPECT_EQ(agent.terminate(), 0);
    EXPECT_EQ(settings::GetSetting("NCLmod", "Options", "Changed"), "True");
    EXPECT_EQ(State(), "1  STOPPED");
    agent.environment().remove("NCLMOD_SERVICE_NAME");
    // systemd accepts the unit, and its hardening stays: systemd rates its
    // exposure at most 3.0 of 10. (The manual pages it names come with the
    // package, not with the build.)
    const QString analyze = QStandardPaths::findExecutable("systemd-analyze");
    if (analyze.isEmpty())
        std::printf("systemd-analyze is not installed: the unit file was not verified\n");
    agent.writeFile("nightcall.service",
                    unit.replace("/usr/sbin/NCLmod", e2e::Executable("NCLmod")).toUtf8());
    for (const QStringList& check : {QStringList{"verify", "--man=no"},
                                     QStringList{"security", "--offline=yes", "--threshold=30"}}) {
        const testsupport::ToolResult r =
            testsupport::Run(analyze, check + QStringList{agent.file("nightcall.service")},
                             agent.environment(), 60000);
        EXPECT_TRUE(analyze.isEmpty() || r.exitCode == 0) << (r.out + r.err).toStdString();
    }

    // Started again by the manager.
    QFile::remove(agent.file("DebugFileSvc.txt"));
    EXPECT_EQ(State(nclsc({"start", "Nightcall"})), "4  RUNNING");
    platform::ServiceRuntimeRecord record;
    ASSERT_TRUE(platform::ReadServiceRuntime("Nightcall", record));
    const qint64 pid = record.process.pid;
    pids.push_back(pid);
    ASSERT_TRUE(agent.waitForTrace("Main service loop----------"));
    // The agent's own start operation (the interactive copy's) finds it running.
    qint16 index = 0;
    EXPECT_EQ(host::ServiceStart("", host::kServiceName, index), "Failed to Start");

    // The service writes its acknowledgement with the code and a date, and
    // nclsc prints it; the status request adds the status text and colour.
    EXPECT_THAT(nclsc({"control", "Nightcall", "128"}).out.toStdString(),
                ContainsRegex("\n        RESULT             : 128-[0-9]+[^0-9][0-9]+[^0-9][0-9]+"));
    EXPECT_THAT(nclsc({"control", "Nightcall", "140"}).out.toStdString(),
                ContainsRegex("\n        RESULT             : 140-[^\n]+\n"
                              "        STATUS TEXT        : Options Changed\n"
                              "        STATUS COLOR       : [0-9]+\n"));

    // Pause is only a state; continue runs the start work again.
    EXPECT_EQ(State(nclsc({"pause", "Nightcall"})), "7  PAUSED");
    EXPECT_EQ(State(nclsc({"continue", "Nightcall"})), "4  RUNNING");
    ASSERT_TRUE(AgentProcess::waitFor([&] {
        return agent.readFile("DebugFileSvc.txt").count("Main service loop----------") == 2;
    }));

    // A port or transport changed in the store moves the service within 2 s
    // of control 128, and control 148 after it leaves only the new port
    // serving; the other re-read options hold as fast. The service goes
    // through every pair of transports.
    const auto console = [&](quint16 to, int format, const QString& command) {
        QStringList args{"--port", QString::number(to), "--timeout", "300", command};
        return testsupport::Run(e2e::Executable("nclconsole"),
                                format == 2 ? QStringList{"--udp"} + args : args,
                                agent.environment());
    };
    // Nobody answers on the port any more; over TCP the connection is refused.
    const auto silent = [&](quint16 to, int format) {
        const testsupport::ToolResult result = console(to, format, "heartbeat");
        return result.exitCode == 1 &&
               (format == 2 || result.err.contains("no connection (Connection refused)"));
    };
    const QString transport[] = {"TCP", "", "UDP"};
    const int formats[] = {2, 2, 0, 0, 2};
    quint16 oldPort = port;
    for (int step = 1; step < 5; ++step) {
        const int oldFormat = formats[step - 1];
        const int newFormat = formats[step];
        SCOPED_TRACE(testing::Message() << "ClientFormat " << oldFormat << " to " << newFormat);
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
            return console(newPort, newFormat, "heartbeat").out ==
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
            EXPECT_EQ(console(newPort, 2, "force").exitCode, 0);
            EXPECT_TRUE(
                AgentProcess::waitFor([&] { return std::abs(agent.clockOffset()) < 1000; }, 3000))
                << agent.clockOffset();
        }
        // The service's output (the journal under systemd) says where it went.
        const QString moved =
            QStringLiteral("NCLmod: options changed: now %1 port %2 (was %3 port %4)\n")
                .arg(transport[newFormat], QString::number(newPort), transport[oldFormat],
                     QString::number(oldPort));
        EXPECT_TRUE(agent.readFile("ServiceOutput.txt").contains(moved))
            << agent.readFile("ServiceOutput.txt").toStdString();
        oldPort = newPort;
    }

    // A second service from the same data folder: refused by the manager, and
    // started by someone else it gives up by itself.
    ASSERT_EQ(nclsc({"create", "Second", "binPath=", e2e::Executable("NCLmod")}).exitCode, 0);
    EXPECT_THAT(Said({"start", "Second"}),
                testing::StartsWith("1: [SC] StartService FAILED 1056:\n\nAn instance of the "
                                    "service is already running.\nSecond cannot start: the "
                                    "service Nightcall already runs from the data folder " +
                                    agent.home().toStdString() + ", and one"));
    agent.environment().insert("NCLMOD_SERVICE_NAME", "Second");
    ASSERT_TRUE(agent.start());
    EXPECT_EQ(agent.waitForExit(), 1);
    EXPECT_TRUE(agent.standardError().contains("another service is already running"));

    if (intruders) {
        // A flood of refused connections costs the service no memory, and the
        // service tool of that user cannot stop it.
        const long before = e2e::RssKb(pid);
        EXPECT_EQ(intrude(10000), "lock EACCES bind EACCES control EACCES refused 10000");
        const long after = e2e::RssKb(pid);
        EXPECT_LE(after - before, 1024) << before << " kB before, " << after << " kB after";
        const testsupport::ToolResult tool = testsupport::Run(
            setpriv, nobody + QStringList{e2e::Executable("nclsc"), "stop", "Nightcall"},
            agent.environment(), 20000);
        EXPECT_EQ(tool.exitCode, 1) << tool.err.toStdString();
    }
    EXPECT_EQ(State(), "4  RUNNING");

    // Stop ends the process within a second.
    EXPECT_EQ(State(nclsc({"stop", "Nightcall"})), "3  STOP_PENDING");
    QElapsedTimer stopping;
    stopping.start();
    ASSERT_TRUE(AgentProcess::waitFor([&] { return Gone(pid); }, 5000));
    EXPECT_LT(stopping.elapsed(), 1000);
    EXPECT_EQ(State(), "1  STOPPED");
    EXPECT_EQ(Said({"stop", "Nightcall"}),
              "1: [SC] ControlService FAILED 1062:\n\nThe service has not been started.\n");
    EXPECT_EQ(Said({"control", "Nightcall", "127"}),
              "1: [SC] ControlService FAILED 87:\n\nThe parameter is incorrect.\n");
    EXPECT_EQ(nclsc({"delete", "Nightcall"}).exitCode, 0);
    EXPECT_EQ(Said({"query", "Nightcall"}), "1: [SC] OpenService FAILED 1060:\n\nThe specified "
                                            "service does not exist as an installed service.\n");
}

} // namespace

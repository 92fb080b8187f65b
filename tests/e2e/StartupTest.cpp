// The agent's start-up as an operator meets it: first run, second run, once
// mode, the information options of every program and bad surroundings, with
// the real executables.
#include "AgentProcess.h"

#include "settings/OptionStore.h"

#include <QFile>

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

using e2e::AgentProcess;

namespace
{

// The first run initialises the store once from the defaults and the initial
// file; later runs read it back. Only the first four words count: a fifth
// "removereg" would empty the store and end the agent.
TEST(StartupTest, FirstRunInitialisesTheStoreOnceAndLaterRunsReadItBack)
{
    // Free ports on loopback: a port held elsewhere would end the agent at start.
    const QString port = QString::number(e2e::FreePort());
    const QString otherPort = QString::number(e2e::FreePort());
    AgentProcess agent;
    // The store is read here, from the agent's folder.
    testsupport::ScopedEnv home("NCLMOD_HOME", agent.home().toLocal8Bit());
    const auto options = [] {
        QMap<QString, QString> values;
        for (const auto& [name, value] : settings::GetAllSettings("NCLmod", "Options"))
            values.insert(name, value);
        return values;
    };
    // Once mode returns by itself without touching the store.
    ASSERT_TRUE(agent.start({"once"}));
    EXPECT_EQ(agent.waitForExit(), 0);
    EXPECT_TRUE(options().isEmpty());

    agent.environment().insert("NCLMOD_BIND_ADDRESS", "127.0.0.1");
    agent.writeFile("debug.txt", "");
    agent.writeFile("REVavidod.ini", "TCPPort, " + port.toLatin1() +
                                         "\n\"ServerName\" , \"127.0.0.1\"\n"
                                         "Servername, wrong-case\ngarbage line without comma\n");
    const auto run = [&] {
        QFile::remove(agent.file("DebugFile.txt"));
        return agent.start({"screen", "background", "background", "debug", "removereg"}) &&
               agent.waitForTrace("Start Service sent") && agent.terminate() == 0;
    };
    ASSERT_TRUE(run());
    const QMap<QString, QString> values = options();
    EXPECT_EQ(values.size(), 72); // 71 options and "Changed"
    EXPECT_EQ(values.value("TCPPort"), port);
    EXPECT_EQ(values.value("ServerName"), "127.0.0.1");
    EXPECT_EQ(values.value("Changed"), "True");
    QString trace = agent.readFile("DebugFile.txt");
    EXPECT_EQ(trace.count("Initializing options for NCLmod Version 1.0.0 for the first time."), 1);
    EXPECT_EQ(trace.count("Option Key saved: "), 72);

    // Second run: a changed value is read back.
    ASSERT_TRUE(settings::SaveSetting("NCLmod", "Options", "TCPPort", otherPort));
    ASSERT_TRUE(run());
    trace = agent.readFile("DebugFile.txt");
    EXPECT_TRUE(trace.contains("Start Registry_Get:"));
    EXPECT_TRUE(trace.contains("Option Key: TCPPort, Value: " + otherPort));
}

// --help, -h and --version answer and start nothing: no data folder appears;
// an unknown option is refused. Every tool answers --version too, and nclsc
// refuses what it cannot do before it looks for a service.
TEST(StartupTest, InformationOptionsAnswerWithoutStarting)
{
    AgentProcess agent;
    const QString home = agent.home() + "/not-made";
    agent.environment().insert("NCLMOD_HOME", home);
    const struct {
        QString program;
        QStringList args;
        int exitCode;
        QString out; // what standard output holds
        QString err; // what standard error holds
    } cases[] = {
        {"NCLmod", {"--help"}, 0, "Data folder: " + home + "\n", ""},
        {"NCLmod", {"debug", "-h"}, 0, "NCLMOD_SIMCLOCK=FILE", ""},
        {"NCLmod", {"--version"}, 0, "NCLmod 1.0.0\n", ""},
        {"NCLmod", {"once", "--frobnicate"}, 2, "", "unknown option --frobnicate"},
        {"NCLmod", {"-x"}, 2, "", "unknown option -x"},
        {"nclreg", {"--version"}, 0, "nclreg 1.0.0\n", ""},
        {"nclsc", {"--version"}, 0, "nclsc 1.0.0\n", ""},
        {"nclconsole", {"--version"}, 0, "nclconsole 1.0.0\n", ""},
        {"nclsc", {"--help"}, 0, "nclsc control NAME CODE", ""},
        {"nclsc", {}, 2, "", "nclsc: missing command\n"},
        {"nclsc", {"frobnicate", "Nightcall"}, 2, "", "nclsc: unknown command frobnicate\n"},
        {"nclsc", {"query"}, 2, "", "nclsc: missing service name\n"},
        {"nclsc", {"create", "Other"}, 2, "", "nclsc: create needs binPath= PATH\n"},
        {"nclsc", {"control", "Nightcall", "256"}, 2, "", "control needs one CODE from 0 to 255"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE((c.program + " " + c.args.join(' ')).toStdString());
        const testsupport::ToolResult r =
            testsupport::Run(e2e::Executable(c.program), c.args, agent.environment());
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_TRUE(r.out.contains(c.out)) << r.out.toStdString();
        EXPECT_TRUE(r.err.contains(c.err)) << r.err.toStdString();
        EXPECT_EQ(r.out.isEmpty(), c.out.isEmpty());
        EXPECT_EQ(r.err.isEmpty(), c.err.isEmpty());
        EXPECT_FALSE(QFile::exists(home));
    }
}

// A corrupt store or a data folder that cannot be made is reported on standard
// error in one line, and the agent runs on; a data folder that others could
// write, or that belongs to another user, is reported the same way and the
// agent does not start.
TEST(StartupTest, BadSurroundingsAreReportedAndTheAgentRunsOn)
{
    const struct {
        const char* what;
        mode_t mode;       // of the data folder
        uid_t owner;       // of the data folder, when the test runs as root
        bool refused;      // the agent ends at start
        const char* home;  // replaces the data folder when set
        int registryBytes; // of garbage written as the store
        const char* reported;
    } cases[] = {
        // clang-format off
        {"corrupt store", 0700, 0, false, nullptr, 4096, "registry.db is not a database"},
        {"data folder", 0700, 0, false, "/proc/nclmod-cannot-exist/home", 0, "/proc/nclmod-cannot-exist/home"},
        {"writable by others", 0757, 0, true, nullptr, 0, "is writable by group or others (mode 0757)"},
        {"writable by the group", 0770, 0, true, nullptr, 0, "is writable by group or others (mode 0770)"},
        {"another user's", 0700, 65534, true, nullptr, 0, "is owned by uid 65534"},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.owner != 0 && ::geteuid() != 0) {
            std::printf("not root: the case \"%s\" was skipped\n", c.what);
            continue;
        }
        AgentProcess agent;
        if (c.home)
            agent.environment().insert("NCLMOD_HOME", c.home);
        if (c.registryBytes)
            agent.writeFile("registry.db", QByteArray(c.registryBytes, '\x5a'));
        const QByteArray home = QFile::encodeName(agent.home());
        ASSERT_EQ(::chmod(home.constData(), c.mode), 0);
        ASSERT_EQ(c.owner ? ::chown(home.constData(), c.owner, c.owner) : 0, 0);
        ASSERT_TRUE(agent.start());
        if (c.refused) {
            EXPECT_EQ(agent.waitForExit(), 1);
            EXPECT_FALSE(QFile::exists(agent.file("registry.db")));
        } else {
            // Up once it has said where it serves: only then is SIGTERM a stop.
            EXPECT_TRUE(agent.printed("NCLmod 1.0.0: ", 10000));
            EXPECT_EQ(agent.terminate(), 0);
        }
        // One line a person can act on, not one per part that tried the folder.
        const QString err = agent.standardError();
        EXPECT_TRUE(err.contains(c.reported)) << err.toStdString();
        EXPECT_EQ(err.count('\n'), 1) << err.toStdString();
    }
}

} // namespace

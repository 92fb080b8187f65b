// The controller contact with the real executable: agents on their own
// loopback addresses sharing one port number with the controller, nclconsole
// listen or a peer in this process on 127.0.0.1.
#include "AgentProcess.h"
#include "FakePeer.h"

#include <QProcess>

#include <gtest/gtest.h>

using contacttest::FakePeer;
using e2e::AgentProcess;

namespace
{

const QString kMac = QStringLiteral("00-0C-29-3A-5B-7C");

// Starts an agent on its own loopback address with the debug trace on.
bool Start(AgentProcess& agent, const QString& address, quint16 port)
{
    agent.environment().insert("NCLMOD_BIND_ADDRESS", address);
    agent.writeFile("debug.txt", "");
    agent.writeFile("REVavidod.ini", QStringLiteral("TCPPort, %1\r\nServerName, 127.0.0.1\r\n"
                                                    "MACaddr, %2\r\n")
                                         .arg(port)
                                         .arg(kMac)
                                         .toLatin1());
    return agent.start({"debug"});
}

// The operator's controller: nclconsole listen on its own loopback address,
// sharing the port number with the agent on another one. It hears "H+U" and
// the MAC at the start and "H+D" at the exit; its reply reaches the agent's
// heartbeat handling. An agent stopped while its start-up heartbeat to a
// silent controller is still open closes that one first, then says "D".
TEST(ContactE2E, ControllerHearsTheAgentComeAndGo)
{
    const quint16 port = e2e::FreePort();
    ASSERT_NE(port, 0);
    QProcess controller;
    controller.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
    controller.start(e2e::Executable("nclconsole"), {"listen", "--host", "127.0.0.1", "--port",
                                                     QString::number(port), "--count", "2"});
    ASSERT_TRUE(controller.waitForStarted(5000));
    ASSERT_TRUE(AgentProcess::waitFor(
        [&] { return controller.readAllStandardError().contains("listening on port"); }));
    AgentProcess agent;
    ASSERT_TRUE(Start(agent, "127.0.0.2", port));
    ASSERT_TRUE(agent.waitForTrace("Heartbeat done: 127.0.0.1 U " + kMac));
    EXPECT_EQ(agent.terminate(), 0);
    ASSERT_TRUE(controller.waitForFinished(10000)); // ends after the second heartbeat
    const QStringList lines =
        QString::fromLatin1(controller.readAllStandardOutput()).trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines[0].endsWith(" 127.0.0.2 up " + kMac)) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith(" 127.0.0.2 down " + kMac)) << lines[1].toStdString();
    EXPECT_EQ(controller.exitCode(), 0);

    const quint16 silentPort = e2e::FreePort();
    FakePeer silent("127.0.0.1", silentPort, nullptr);
    AgentProcess stopped;
    ASSERT_TRUE(Start(stopped, "127.0.0.3", silentPort));
    ASSERT_TRUE(AgentProcess::waitFor([&] { return silent.requests.size() == 1; }));
    EXPECT_EQ(silent.requests.first(), "H+U " + kMac);
    EXPECT_EQ(stopped.terminate(), 0);
    ASSERT_TRUE(AgentProcess::waitFor([&] { return silent.requests.size() == 2; }));
    EXPECT_EQ(silent.requests.last(), "H+D " + kMac);
    const QString trace = stopped.readFile("DebugFile.txt");
    const qsizetype waiting = trace.indexOf("------TCP/IP Connection Not yet closed. Waiting");
    ASSERT_GE(waiting, 0);
    EXPECT_GT(trace.indexOf("Client Closed OK"), waiting);
}

} // namespace

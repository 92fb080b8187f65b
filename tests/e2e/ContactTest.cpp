// Controller contact and polling with the real executable: agents on their
// own loopback addresses sharing one port number, each with its own data
// folder and simulated clock. The controller is nclconsole listen or a peer
// in this process on 127.0.0.1; the polling agent runs in this process on
// 127.0.0.2.
#include "AgentProcess.h"
#include "FakePeer.h"
#include "LoopbackSupport.h"
#include "TestSupport.h"

#include "contact/ControllerContact.h"
#include "service/Listener.h"
#include "settings/AppState.h"
#include "settings/COptions.h"
#include "timeset/CNISTDisplay.h"
#include "timeset/CNISTtimeset.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <memory>

using contacttest::FakePeer;
using e2e::AgentProcess;

namespace
{

const QString kMac = QStringLiteral("00-0C-29-3A-5B-7C");

// Starts an agent on its own loopback address with the debug trace on.
bool Start(AgentProcess& agent, const QString& address, quint16 port, qint64 clockOffsetMs = 0)
{
    agent.environment().insert("NCLMOD_BIND_ADDRESS", address);
    agent.writeFile("debug.txt", "");
    agent.writeFile("REVavidod.ini", QStringLiteral("TCPPort, %1\r\nServerName, 127.0.0.1\r\n"
                                                    "MACaddr, %2\r\n")
                                         .arg(port)
                                         .arg(kMac)
                                         .toLatin1());
    agent.setClockOffset(clockOffsetMs);
    return agent.start({"debug"});
}

class ContactE2E : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_NE(port, 0); }

    const quint16 port = quint16(loopback::FreePort());
};

TEST_F(ContactE2E, SilentControllerIsClosedByTheWatchdogAndAContactOverAnOpenOneClosesItFirst)
{
    FakePeer controller("127.0.0.1", port, nullptr);
    AgentProcess agent;
    ASSERT_TRUE(Start(agent, "127.0.0.2", port));
    ASSERT_TRUE(AgentProcess::waitFor([&] { return controller.requests.size() == 1; }));
    EXPECT_EQ(controller.requests.first(), "H+U " + kMac);
    QElapsedTimer sinceRequest;
    sinceRequest.start();
    ASSERT_TRUE(agent.waitForTrace("No more tries.   ", 5000));
    EXPECT_GE(sinceRequest.elapsed(), 1500);
    EXPECT_TRUE(AgentProcess::waitFor([&] { return controller.openConnections() == 0; }));
    EXPECT_TRUE(agent.readFile("DebugFile.txt").contains("TIMEOUT: Closing the connection"));
    EXPECT_EQ(agent.terminate(), 0);
    ASSERT_TRUE(AgentProcess::waitFor([&] { return controller.requests.size() == 2; }));

    // Stopped while its first heartbeat is still open: the exit closes it first.
    AgentProcess second;
    ASSERT_TRUE(Start(second, "127.0.0.3", port));
    ASSERT_TRUE(AgentProcess::waitFor([&] { return controller.requests.size() == 3; }));
    EXPECT_EQ(second.terminate(), 0);
    ASSERT_TRUE(AgentProcess::waitFor([&] { return controller.requests.size() == 4; }));
    EXPECT_EQ(controller.requests.last(), "H+D " + kMac);
    const QString trace = second.readFile("DebugFile.txt");
    const qsizetype waiting = trace.indexOf("------TCP/IP Connection Not yet closed. Waiting");
    ASSERT_GE(waiting, 0);
    EXPECT_GT(trace.indexOf("Client Closed OK"), waiting);
}

// The polling agent, in this process on 127.0.0.2.
class Poller : public timeset::CNISTDisplay
{
public:
    float DisplaySync(const timeset::SyncDisplayInfo&) override { return 0; }
    void DisplayNoChange() override {}
    void NISTdone() override {}
    void HeartbeatDone(const QString&, const QString&, const QString&) override {}

    std::unique_ptr<timeset::CNISTtimeset> engine = std::make_unique<timeset::CNISTtimeset>();
    service::Listener listener;
    contact::ControllerContact contact{listener, *this,
                                       [this]() -> timeset::CNISTtimeset& { return *engine; }};
};

TEST_F(ContactE2E, PollingCycleChecksAndForcesTheAgentsClocks)
{
    testsupport::ScopedHome home;
    testsupport::ScopedEnv bindAddress("NCLMOD_BIND_ADDRESS", "127.0.0.2");
    const qint64 pollerOffset = 123456;
    testsupport::ScopedEnv clock("NCLMOD_SIMCLOCK", home.file("simclock").toLocal8Bit());
    testsupport::WriteFile(home.file("simclock"), QByteArray::number(pollerOffset));
    loopback::DebugCapture debug(home.file("DebugFile.txt"));
    settings::App().ModuleType = QStringLiteral("M");
    settings::Options().setTCPPort(qint16(port));
    settings::Options().setSetMinThreshold(500);

    struct Polled {
        const char* name;
        const char* address;
        qint64 offset;
        AgentProcess agent;
    } polled[] = {{"ahead", "127.0.0.3", 37000, {}}, {"behind", "127.0.0.4", -12000, {}}};
    for (Polled& p : polled) {
        ASSERT_TRUE(Start(p.agent, p.address, port, p.offset));
        // Nobody listens on the controller's address: their start-up contact fails
        // with a trace line, and they go on to serve the polling.
        ASSERT_TRUE(p.agent.waitForTrace("Service server listening on TCP port"));
        ASSERT_TRUE(p.agent.waitForTrace("Client closed - connection with client failed.", 5000));
    }
    testsupport::WriteFile(
        home.file("clientlist.txt"),
        "1,0,0,\"ahead\",\"127.0.0.3\",\"\",\"\",0,#2024-01-31 13:05:00#,1,#2024-01-31#\r\n"
        "2,0,0,\"off\",\"127.0.0.5\",\"\",\"\",0,#2024-01-31#,-1,#2024-01-31#\r\n"
        "3,0,0,\"behind\",\"127.0.0.4\",\"\",\"\",0,#2024-01-31#,1,#2024-01-31#\r\n");
    Poller poller;
    contact::ClientPolling& polling = poller.contact.polling;
    ASSERT_TRUE(polling.Clients.Read_in_file(home.file("clientlist.txt"), 1));
    ASSERT_EQ(polling.Clients.Count(), 3);

    const auto poll = [&](const QString& letter) {
        settings::Options().setControlFunction(letter);
        polling.StartPollingCycle();
        return AgentProcess::waitFor([] { return settings::Options().ControlMode() == 2; });
    };
    ASSERT_TRUE(poll("T"));
    EXPECT_TRUE(debug.Text().trimmed().endsWith("...Completed polling of clients."));
    EXPECT_EQ(debug.Text().count(">ClientData arrived: _OK-T "), 2);
    for (const Polled& p : polled)
        EXPECT_NEAR(polling.Clients.Item(p.name)->sglTimeDiffSec,
                    (p.offset - pollerOffset) / 1000.0, 0.1);

    ASSERT_TRUE(poll("F"));
    for (Polled& p : polled) {
        ASSERT_TRUE(p.agent.waitForTrace("DATA ARRIVED DONE"));
        EXPECT_NEAR(double(p.agent.clockOffset()), double(pollerOffset), 50.0);
        EXPECT_TRUE(p.agent.readFile("DebugFile.txt").contains("<Force time strg:_F+ "));
        EXPECT_EQ(p.agent.terminate(), 0);
    }
}

// The operator's controller: nclconsole listen on its own loopback address,
// sharing the port number with the agent on another one. It hears "H+U" and
// the MAC at the start and "H+D" at the exit; its reply reaches the agent's
// heartbeat handling.
TEST_F(ContactE2E, NclconsoleListenHearsTheAgentComeAndGo)
{
    QProcess controller;
    controller.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
    controller.start(e2e::Executable("nclconsole"), {"listen", "--host", "127.0.0.1", "--port",
                                                     QString::number(port), "--count", "2"});
    ASSERT_TRUE(controller.waitForStarted(5000));
    ASSERT_TRUE(AgentProcess::waitFor(
        [&] { return controller.readAllStandardError().contains("listening on port"); }));

    AgentProcess agent;
    ASSERT_TRUE(Start(agent, "127.0.0.2", port));
    QString heard;
    ASSERT_TRUE(AgentProcess::waitFor([&] {
        heard += QString::fromLatin1(controller.readAllStandardOutput());
        return heard.contains(" up ");
    }));
    ASSERT_TRUE(agent.waitForTrace("Heartbeat done: 127.0.0.1 U " + kMac));
    for (const QString& line :
         {">ClientData arrived: _OK-H U " + kMac + "_ from 127.0.0.1 on local port " +
              QString::number(port),
          QString("HEARTBEAT OK Event"), QString("U-p or D-wn: U"), "MAC_address: " + kMac,
          "Service server listening on TCP port " + QString::number(port)})
        EXPECT_TRUE(agent.readFile("DebugFile.txt").contains(line)) << line.toStdString();
    EXPECT_EQ(agent.terminate(), 0);

    ASSERT_TRUE(controller.waitForFinished(10000)); // ends after the second heartbeat
    heard += QString::fromLatin1(controller.readAllStandardOutput());
    const QStringList lines = heard.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2) << heard.toStdString();
    EXPECT_TRUE(lines[0].endsWith(" 127.0.0.2 up " + kMac)) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith(" 127.0.0.2 down " + kMac)) << lines[1].toStdString();
    EXPECT_EQ(controller.exitCode(), 0);
}

} // namespace

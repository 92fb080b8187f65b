// The outbound contact on loopback: the heartbeat exchange and its texts, a
// silent or missing controller, a contact over one still open, the menus.
#include "contact/ControllerContact.h"
#include "logging/DebugLog.h"
#include "service/Listener.h"
#include "settings/AppState.h"
#include "settings/COptions.h"
#include "timeset/CNISTDisplay.h"
#include "timeset/CNISTtimeset.h"

#include "FakePeer.h"
#include "LoopbackSupport.h"
#include "TestSupport.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <memory>

using contacttest::FakePeer;
using loopback::WaitFor;

namespace
{

// The main window as the contact sees it: an engine made on demand and the
// heartbeat's completion.
class Window : public timeset::CNISTDisplay
{
public:
    float DisplaySync(const timeset::SyncDisplayInfo&) override { return 0; }
    void DisplayNoChange() override {}
    void NISTdone() override {}
    void HeartbeatDone(const QString& key, const QString& upDown, const QString& mac) override
    {
        done << key + "|" + upDown + "|" + mac;
        legTime = engine->NISTLegTime();
        engine.reset();
    }
    timeset::CNISTtimeset& Engine()
    {
        if (!engine)
            engine = std::make_unique<timeset::CNISTtimeset>();
        return *engine;
    }

    std::unique_ptr<timeset::CNISTtimeset> engine;
    QStringList done;
    float legTime = -1;
};

class ControllerContactTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        settings::App().ModuleType = QStringLiteral("M");
        port = loopback::FreePort();
        ASSERT_NE(port, 0);
        settings::COptions& options = settings::Options();
        options.setTCPPort(port);
        options.setClientFormat(0);
        options.setClientKeyType(0);
        options.setServername(QStringLiteral("127.0.0.1"));
        options.setMACaddr(QStringLiteral("00-0C-29-3A-5B-7C"));
    }

    QString Trace() const { return debug.Text(); }

    testsupport::ScopedHome home;
    // This agent's address; the controller is 127.0.0.1, on the same port.
    testsupport::ScopedEnv bindAddress{"NCLMOD_BIND_ADDRESS", "127.0.0.2"};
    loopback::DebugCapture debug{home.file("DebugFile.txt")};
    qint16 port = 0;
    service::Listener listener;
    Window window;
    contact::ControllerContact contact{
        listener, window, [this]() -> timeset::CNISTtimeset& { return window.Engine(); }};
};

QByteArray EchoHeartbeat(const QString& request)
{
    return "OK-H " + request.mid(2).toLatin1();
}

TEST_F(ControllerContactTest, HeartbeatReachesControllerAndItsReplyTheEngine)
{
    // The listener on the same address and port as the outbound socket.
    listener.serv_init(0);
    ASSERT_EQ(listener.tcpServer.Item(0)->State(), platform::SocketControl::sckListening);
    FakePeer controller("127.0.0.1", quint16(port), EchoHeartbeat);
    ASSERT_TRUE(controller.listening());

    contact.Heartbeat("127.0.0.1", settings::Options().MACaddr(), "U");
    ASSERT_TRUE(WaitFor([&] { return !window.done.isEmpty(); }));
    EXPECT_EQ(controller.requests, QStringList{"H+U 00-0C-29-3A-5B-7C"});
    EXPECT_EQ(window.done, QStringList{"127.0.0.1|U|00-0C-29-3A-5B-7C"});
    EXPECT_GE(window.legTime, 0.0f);
    EXPECT_LT(window.legTime, 0.75f);
    EXPECT_FALSE(contact.tmrServer.isActive());
    EXPECT_EQ(contact.tcpClient.State(), 0);
    EXPECT_EQ(settings::Options().ControlMode(), 1);
    EXPECT_EQ(settings::Options().ControlFunction(), "H");

    const QString trace = Trace();
    for (const char* line :
         {"---------Starting Heartbeat to 127.0.0.1, MAC: 00-0C-29-3A-5B-7C, U-p/D-wn:U",
          "<NCL MOD connecting to console 127.0.0.1 with Func H",
          "<   via TCP using port " /* + port */, "---------Done with Hearbeat", "Connection took ",
          ">ClientData arrived: _OK-H U 00-0C-29-3A-5B-7C_ from 127.0.0.1 on "
          "local port ",
          "HEARTBEAT OK Event", "U-p or D-wn: U", "---Single Client Mode (done)---"})
        EXPECT_TRUE(trace.contains(QString::fromLatin1(line))) << line;
    EXPECT_TRUE(trace.contains("on local port " + QString::number(port)));
    // The listener kept listening through the contact.
    EXPECT_EQ(listener.tcpServer.Item(0)->State(), platform::SocketControl::sckListening);
}

TEST_F(ControllerContactTest, EmptyMacAddressSendsTheLetterAndABlank)
{
    settings::Options().setMACaddr(QString());
    FakePeer controller("127.0.0.1", quint16(port), EchoHeartbeat);
    contact.Heartbeat("127.0.0.1", QString(), "D");
    ASSERT_TRUE(WaitFor([&] { return !window.done.isEmpty(); }));
    EXPECT_EQ(controller.requests, QStringList{"H+D "});
}

TEST_F(ControllerContactTest, SilentControllerIsClosedByTheWatchdogAfterTwoSeconds)
{
    FakePeer controller("127.0.0.1", quint16(port), nullptr);
    QElapsedTimer clock;
    clock.start();
    contact.Heartbeat("127.0.0.1", settings::Options().MACaddr(), "U");
    ASSERT_TRUE(WaitFor([&] { return controller.requests.size() == 1; }));
    ASSERT_TRUE(WaitFor([&] { return Trace().contains("No more tries.   "); }, 4000));
    EXPECT_GE(clock.elapsed(), 1900);
    EXPECT_LT(clock.elapsed(), 3500);
    EXPECT_EQ(contact.tcpClient.State(), 0);
    EXPECT_FALSE(contact.tmrServer.isActive());
    ASSERT_TRUE(WaitFor([&] { return controller.openConnections() == 0; }));
    const QString trace = Trace();
    EXPECT_TRUE(trace.contains(": SERVER TIMEOUT: 0   "));
    EXPECT_TRUE(trace.contains("]:  7   Connected"));
    EXPECT_TRUE(trace.contains("TIMEOUT: Closing the connection"));
    EXPECT_TRUE(trace.contains(" Connection with client failed."));
    EXPECT_TRUE(trace.indexOf("---Single Client Mode (done)---") > trace.indexOf("No more tries."));
    EXPECT_TRUE(window.done.isEmpty());
}

TEST_F(ControllerContactTest, UnreachableControllerCostsOnlyTraceLines)
{
    // Nobody listens on 127.0.0.1 at this port.
    contact.Heartbeat("127.0.0.1", settings::Options().MACaddr(), "U");
    ASSERT_TRUE(WaitFor([&] { return Trace().contains("---Single Client Mode (done)---"); }, 4000));
    const QString trace = Trace();
    EXPECT_TRUE(trace.contains("Client Winsock Error: 10061\r\nConnection is forcefully rejected"));
    EXPECT_TRUE(trace.contains("Msg:Error connecting"));
    EXPECT_TRUE(trace.contains("ID: cmdConnect 123"));
    EXPECT_TRUE(trace.contains("]:  0   Default. Closed"));
    EXPECT_TRUE(trace.contains(" Client closed - connection with client failed."));
    EXPECT_EQ(contact.tcpClient.State(), 0);
    EXPECT_TRUE(window.done.isEmpty());
}

TEST_F(ControllerContactTest, ContactWhileTheLastIsOpenClosesItAndStartsOver)
{
    FakePeer controller("127.0.0.1", quint16(port), nullptr);
    contact.Heartbeat("127.0.0.1", settings::Options().MACaddr(), "U");
    ASSERT_TRUE(WaitFor([&] { return controller.requests.size() == 1; }));
    ASSERT_EQ(contact.tcpClient.State(), platform::SocketControl::sckConnected);
    contact.Heartbeat("127.0.0.1", settings::Options().MACaddr(), "D");
    ASSERT_TRUE(WaitFor([&] { return controller.requests.size() == 2; })) << Trace().toStdString();
    EXPECT_EQ(controller.requests.last(), "H+D 00-0C-29-3A-5B-7C");
    EXPECT_EQ(controller.connections, 2);
    ASSERT_TRUE(WaitFor([&] { return controller.openConnections() == 1; }));
    const QString trace = Trace();
    const qsizetype waiting = trace.indexOf("------TCP/IP Connection Not yet closed. Waiting");
    ASSERT_GE(waiting, 0);
    EXPECT_GT(trace.indexOf("Client Closed OK"), waiting);
    EXPECT_EQ(trace.count("<NCL MOD connecting to console"), 2);
    EXPECT_TRUE(contact.tmrServer.isActive());
}

TEST_F(ControllerContactTest, MenuEntries)
{
    QStringList shown;
    const auto show = [&](const QString& text, const QString& title) {
        shown << title + ": " + text;
    };
    settings::Options().setServername(QString());
    EXPECT_FALSE(contact.ContactMenu(show));
    EXPECT_EQ(shown, QStringList{"Controller Name Not Set: You must enter controller name before "
                                 "contacting"});
    EXPECT_FALSE(contact.tmrServer.isActive());

    QString offered;
    const auto answer = [&](const QString& given, bool ok) {
        return [&offered, given, ok](const QString& title, const QString& prompt,
                                     const QString& defaultText, QString& out) {
            EXPECT_EQ(title, "Controller Address");
            EXPECT_EQ(prompt, "Enter the network name or IP address of the controller");
            offered = defaultText;
            out = given;
            return ok;
        };
    };
    EXPECT_FALSE(contact.ControllerAddressMenu(answer("ignored", false)));
    EXPECT_FALSE(contact.ControllerAddressMenu(answer("", true)));
    EXPECT_EQ(Trace().count("Enter controller address: No entry or cancel"), 2);
    EXPECT_TRUE(contact.ControllerAddressMenu(answer("127.0.0.1", true)));
    EXPECT_EQ(settings::Options().Servername(), "127.0.0.1");
    EXPECT_FALSE(contact.ControllerAddressMenu(answer("", false)));
    EXPECT_EQ(offered, "127.0.0.1");

    FakePeer controller("127.0.0.1", quint16(port), EchoHeartbeat);
    EXPECT_TRUE(contact.ContactMenu(show));
    ASSERT_TRUE(WaitFor([&] { return !window.done.isEmpty(); }));
    EXPECT_EQ(controller.requests, QStringList{"H+U 00-0C-29-3A-5B-7C"});
}

} // namespace

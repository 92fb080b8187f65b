#include "host/ServiceRegistration.h"
#include "host/modStartStopSvc.h"
#include "platform/NetworkAdapters.h"
#include "settings/AppState.h"
#include "settings/OptionStore.h"
#include "settings/StartupEntries.h"

#include "WindowsTestSupport.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace testsupport;
using namespace windowstest;
using Icon = host::MenuDialogs::Icon;

namespace
{

class MenuCommandsTest : public AgentWindowTest
{
protected:
    MenuCommandsTest() : AgentWindowTest(0) {}
    QString saved(const char* name) const
    {
        return settings::GetSetting("NCLmod", "Options", name, "<none>");
    }

    ScriptedDialogs dialogs;
    host::MainMenuCommands commands{form, dialogs};
};

TEST(PortEntryTest, AcceptsOneToFourDigitNumbersOnly)
{
    const QString tooLong = "Entry must be a number 1-4 digits long.";
    const QString notNumber = "Entry must be a number 0-9999.";
    const struct {
        const char* answer;
        bool valid;
        QString reason;
    } cases[] = {
        {"0", true, ""},           {"9999", true, ""},        {"1001", true, ""},
        {"12345", false, tooLong}, {"01001", false, tooLong}, {"12a", false, notNumber},
        {"-1", false, notNumber},  {"abc", false, notNumber}, {" ", false, notNumber},
    };
    for (const auto& c : cases) {
        QString reason = "unchanged";
        EXPECT_EQ(host::MainMenuCommands::ValidatePortEntry(c.answer, reason), c.valid) << c.answer;
        EXPECT_EQ(reason, c.reason) << c.answer;
    }
}

TEST_F(MenuCommandsTest, PortIsAskedAgainUntilValidThenListensThere)
{
    dialogs.answers = {"12345", "12a", QString::number(port + 1)};
    const qint16 before = form.listener.CurrentInstance;
    commands.mnuOptionsPort_Click();

    ASSERT_EQ(dialogs.asked.size(), 3u);
    EXPECT_EQ(dialogs.asked[0].title, "TCP Port");
    EXPECT_EQ(dialogs.asked[0].prompt, "Enter the port number to listen on");
    EXPECT_EQ(dialogs.asked[0].defaultText, QString::number(port));
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[0].text,
              "Entry must be a number 1-4 digits long.\r\nUse port 1001 as a default.");
    EXPECT_EQ(dialogs.shown[1].text,
              "Entry must be a number 0-9999.\r\nUse port 1001 as a default.");
    EXPECT_EQ(dialogs.shown[1].title, "Invalid Entry");
    EXPECT_EQ(dialogs.shown[1].icon, Icon::Information);

    EXPECT_EQ(settings::Options().TCPPort(), port + 1);
    EXPECT_TRUE(settings::Options().Changed());
    EXPECT_NE(form.listener.CurrentInstance, before);
    platform::SocketControl* element = form.listener.tcpServer.Item(form.listener.CurrentInstance);
    ASSERT_NE(element, nullptr);
    EXPECT_EQ(element->LocalPort(), port + 1);

    // 0 (any free port) is taken at once.
    dialogs.answers = {"0"};
    commands.mnuOptionsPort_Click();
    EXPECT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(settings::Options().TCPPort(), 0);
}

TEST_F(MenuCommandsTest, EmptyOrCancelledBoxesOnlyLeaveTheirTraceLine)
{
    const struct {
        void (host::MainMenuCommands::*command)();
        const char* traceLine;
    } commandsUnderTest[] = {
        {&host::MainMenuCommands::mnuOptionsPort_Click, "Enter port: No entry or cancel"},
        {&host::MainMenuCommands::mnuOptionsMAC_Click, "Enter MAC address: No entry or cancel"},
        {&host::MainMenuCommands::mnuOptionsController_Click,
         "Enter controller address: No entry or cancel"},
    };
    const QString registryBefore = saved("ServerName") + saved("MACaddr") + saved("TCPPort");
    for (const auto& c : commandsUnderTest) {
        for (const QString& answer : {QString(""), ScriptedDialogs::kCancel}) {
            const qsizetype linesBefore = trace().count(c.traceLine);
            dialogs.answers = {answer};
            (commands.*c.command)();
            EXPECT_EQ(trace().count(c.traceLine), linesBefore + 1) << c.traceLine;
        }
    }
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_FALSE(settings::Options().Changed());
    EXPECT_EQ(settings::Options().TCPPort(), port);
    EXPECT_EQ(saved("ServerName") + saved("MACaddr") + saved("TCPPort"), registryBefore);
}

TEST_F(MenuCommandsTest, ControllerAddressAndMacAreSaved)
{
    dialogs.answers = {"127.0.0.9"};
    commands.mnuOptionsController_Click();
    ASSERT_EQ(dialogs.asked.size(), 1u);
    EXPECT_EQ(dialogs.asked[0].title, "Controller Address");
    EXPECT_EQ(dialogs.asked[0].prompt, "Enter the network name or IP address of the controller");
    EXPECT_EQ(dialogs.asked[0].defaultText, "127.0.0.1");
    EXPECT_EQ(saved("ServerName"), "127.0.0.9");

    settings::Options().setMACaddr("");
    dialogs.answers = {"not-a-mac-but-accepted"};
    commands.mnuOptionsMAC_Click();
    EXPECT_EQ(dialogs.asked[1].title, "MAC Address");
    EXPECT_EQ(dialogs.asked[1].prompt, "Enter the MAC address of the adapter card");
    EXPECT_EQ(dialogs.asked[1].defaultText, platform::AdapterQueryMac());
    EXPECT_EQ(saved("MACaddr"), "not-a-mac-but-accepted");
    EXPECT_EQ(settings::Options().MACaddr(), "not-a-mac-but-accepted");
}

TEST_F(MenuCommandsTest, ContactWithoutControllerExplainsAndSendsNothing)
{
    settings::Options().setServername("");
    commands.mnuOptionsContact_Click();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, "You must enter controller name before contacting");
    EXPECT_EQ(dialogs.shown[0].title, "Controller Name Not Set");
    EXPECT_EQ(dialogs.shown[0].icon, Icon::Information);
    EXPECT_FALSE(trace().contains("---------Starting Heartbeat to "));

    settings::Options().setServername("127.0.0.1");
    commands.mnuOptionsContact_Click();
    EXPECT_EQ(dialogs.shown.size(), 1u);
    EXPECT_TRUE(trace().contains("---------Starting Heartbeat to 127.0.0.1"));
}

TEST_F(MenuCommandsTest, ProtocolSetsBothFormatsAndMovesTheCheckMark)
{
    EXPECT_EQ(form.mnuOptionsProtChecked, 0);
    commands.mnuOptionsProt_Click(2);
    EXPECT_EQ(settings::Options().ServerFormat(), 2);
    EXPECT_EQ(settings::Options().ClientFormat(), 2);
    EXPECT_EQ(form.mnuOptionsProtChecked, 2);
    EXPECT_TRUE(settings::Options().Changed());
    // The listener was opened again on the same element, now for datagrams.
    platform::SocketControl* element = form.listener.tcpServer.Item(form.listener.CurrentInstance);
    ASSERT_NE(element, nullptr);
    EXPECT_EQ(element->Protocol(), 1);

    commands.mnuOptionsProt_Click(0);
    EXPECT_EQ(settings::Options().ServerFormat(), 0);
    EXPECT_EQ(settings::Options().ClientFormat(), 0);
    EXPECT_EQ(form.mnuOptionsProtChecked, 0);
}

TEST_F(MenuCommandsTest, StartupCheckMarkDrivesTheAutostartEntry)
{
    ASSERT_FALSE(form.mnuOptionsStartupChecked);
    commands.mnuOptionsStartup_Click();
    EXPECT_TRUE(form.mnuOptionsStartupChecked);
    EXPECT_TRUE(settings::Options().SystemStartup());
    EXPECT_TRUE(settings::Options().Changed());
    form.SaveNewSettings(settings::Options());
    EXPECT_TRUE(QFile::exists(settings::AutostartFilePath()));
    EXPECT_TRUE(settings::StartupEntryExists("NCLmod"));

    commands.mnuOptionsStartup_Click();
    EXPECT_FALSE(settings::Options().SystemStartup());
    form.SaveNewSettings(settings::Options());
    EXPECT_FALSE(QFile::exists(settings::AutostartFilePath()));
    EXPECT_FALSE(settings::StartupEntryExists("NCLmod"));
}

TEST_F(MenuCommandsTest, RegistrationReportsSuccessOnceAndFailureAfter)
{
    commands.mnuFileService_Click();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text,
              "The Nightcall Module has been submitted for registration\r\n"
              "Use Options->Service form or NT Service Manager to start service\r\n"
              "The service name is VARavazuvozo");
    EXPECT_EQ(form.lblSvcStatusColor, host::kColorLightRed); // registered, not started

    commands.mnuFileService_Click(); // already registered
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[1].text, "The Redeviruza Service failed to register.\r\n"
                                     "Contact the system administrator for assistance.");
    host::ServiceDelete(host::kServiceName);
}

TEST_F(MenuCommandsTest, RegistrationIsRefusedForTheTimeServerRole)
{
    settings::App().ModuleType = "E";
    commands.mnuFileService_Click();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text,
              "Command invalid: Operating system incompatible or not Service module.");
    qint16 index = 0;
    EXPECT_EQ(host::ServiceStatus("", host::kServiceName, index), "Could not open Service");
}

} // namespace

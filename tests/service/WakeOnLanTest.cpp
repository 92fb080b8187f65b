// The operator's entry of this computer's MAC address.
#include "service/WakeOnLan.h"

#include "LoopbackSupport.h"
#include "TestSupport.h"
#include "platform/NetworkAdapters.h"
#include "settings/AppState.h"
#include "settings/COptions.h"
#include "settings/OptionStore.h"

#include <gtest/gtest.h>

using service::WakeOnLan;

namespace
{

class MacEntryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        settings::AppState& app = settings::App();
        app.AppTitle = "NCLmod";
        app.RegRoot = settings::HKEY_USERS;
        app.RegBasePath = ".DEFAULT\\Software\\VB and VBA Program Settings\\";
        app.RegOptionsKey = app.RegBasePath + "NCLmod\\Options";
        settings::Options().setMACaddr("00-11-22-33-44-55");
    }

    // Answers the input box with answer (given false: cancel) and records what it was shown.
    WakeOnLan::AskText Answer(const QString& answer, bool given = true)
    {
        return [=, this](const QString& title, const QString& prompt, const QString& defaultText,
                         QString& out) {
            shown = {title, prompt, defaultText};
            out = answer;
            return given;
        };
    }

    testsupport::ScopedHome home;
    loopback::DebugCapture trace{home.file("DebugFile.txt")};
    QStringList shown;
};

} // namespace

TEST_F(MacEntryTest, AnyTextIsStoredUnchangedAndSavedUnlessCancelledOrEmpty)
{
    EXPECT_FALSE(WakeOnLan::EnterMacAddress(Answer("typed then cancelled", false)));
    EXPECT_FALSE(WakeOnLan::EnterMacAddress(Answer("")));
    EXPECT_EQ(settings::Options().MACaddr(), "00-11-22-33-44-55");
    EXPECT_EQ(trace.Text().count("Enter MAC address: No entry or cancel"), 2);

    EXPECT_TRUE(WakeOnLan::EnterMacAddress(Answer("not really a MAC")));
    EXPECT_EQ(shown, QStringList({"MAC Address", "Enter the MAC address of the adapter card",
                                  "00-11-22-33-44-55"}));
    EXPECT_EQ(settings::Options().MACaddr(), "not really a MAC");
    EXPECT_EQ(settings::ReadOptionKey("MACaddr"), "not really a MAC");

    // Without a stored address the last Ethernet adapter's is offered.
    settings::Options().setMACaddr("");
    QString description;
    QString lastMac;
    platform::GetEthernetAdapter(description, lastMac);
    WakeOnLan::EnterMacAddress(Answer("", false));
    EXPECT_EQ(shown.value(2), lastMac);
}

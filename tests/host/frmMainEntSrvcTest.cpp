#include "HostTestSupport.h"

#include "host/MainMenuCommands.h"
#include "logging/SyncLog.h"
#include "platform/SystemClock.h"
#include "timeset/CNISTtimeset.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

using namespace testsupport;

namespace
{

using MainWindowTest = hosttest::AgentTest;

TEST_F(MainWindowTest, TracingFollowsTheDebugMarkerFromLoadOn)
{
    logging::DebugOn = true; // as from the command line, but no marker file
    form.Form_Load();
    EXPECT_EQ(form.Caption, "Nightcall Module");
    EXPECT_EQ(form.lblNISTLog, "Ready");
    EXPECT_FALSE(logging::DebugOn);

    WriteFile(home.file("debug.txt"), "");
    form.CheckSettings();
    EXPECT_TRUE(logging::DebugOn);
    form.CheckSettings();
    QFile::remove(home.file("debug.txt"));
    form.CheckSettings();
    EXPECT_FALSE(logging::DebugOn);
    const QString text = trace();
    EXPECT_TRUE(text.contains("-----Debug file mode is now on------\r\n"));
    EXPECT_TRUE(text.contains("Check Settings\r\n"));
    EXPECT_TRUE(text.contains("-----Debug file mode is turning off------\r\n"));
}

TEST_F(MainWindowTest, SettingsCheckRereadsChangedOptionsOnce)
{
    EXPECT_TRUE(form.CheckSettings()); // the first run left the options marked changed
    EXPECT_FALSE(form.CheckSettings());
    settings::SaveSetting("NCLmod", "Options", "TCPPort", "2121");
    settings::SaveSetting("NCLmod", "Options", "Changed", "True");
    EXPECT_TRUE(form.CheckSettings());
    EXPECT_EQ(settings::Options().TCPPort(), 2121);
    EXPECT_EQ(Setting("Options", "Changed"), "False");
    EXPECT_FALSE(form.CheckSettings());
}

TEST_F(MainWindowTest, UnloadSavesChangedOptionsAndEnds)
{
    settings::Options().setTCPPort(2323);
    settings::Options().setChanged(true);
    EXPECT_FALSE(form.Form_Unload());
    EXPECT_TRUE(form.StopRequested);
    EXPECT_EQ(endCodes, std::vector<int>{0});
    EXPECT_EQ(settings::ReadOptionKey("TCPPort"), "2323"); // the settings area's key too
    EXPECT_FALSE(settings::Options().Changed());
}

// The last time check lives in the settings store; a restart reads it back
// and counts from it, not from the zero date.
TEST_F(MainWindowTest, RestartCountsTheSyncWarningFromTheLastTimeCheck)
{
    settings::Options().setSyncWarning(true);
    form.SyncInit(); // no clock setting recorded yet: the watch starts now
    EXPECT_FALSE(form.lblNISTLog.contains("days")) << form.lblNISTLog.toStdString();

    const rt::Date checked = rt::Now() - 2.0 / 24;
    settings::SaveLastSyncTime(checked, "NCLmod");
    settings::Options() = settings::COptions();
    ASSERT_EQ(host::Main({}, "NCLmod"), host::MainResult::ShowWindow);
    settings::Options().setSyncWarning(true);
    host::frmMainEntSrvc restarted{&serviceControl};
    restarted.SyncInit();
    EXPECT_NEAR(settings::Options().LastSyncTime(), checked, 1.0 / 86400);
    EXPECT_EQ(restarted.lblNISTLog, "Warning: Unable to check clock\r\nfor the last 2.0 hours");
}

// A clock set, or found close enough, ends a period of failed checks; a
// message that sets nothing leaves the warning standing.
TEST_F(MainWindowTest, SettingOrAClockInRangeEndsTheSyncWarning)
{
    platform::SimulatedClock clock(home.file("clock.offset"));
    platform::SetClockForTesting(&clock);
    const auto consoleTime = [&](qint64 aheadMs) {
        const QDateTime t = QDateTime::fromMSecsSinceEpoch(clock.NowUtcMs() + aheadMs, Qt::UTC);
        return "S+ " + t.toString("yyyy-MM-dd hh:mm:ss").toLatin1() + " " +
               QByteArray::number(t.time().msec());
    };
    const struct {
        const char* what;
        QByteArray message;
        qint16 status;
        bool warningEnds;
    } cases[] = {
        {"in range", consoleTime(0), 5, true},
        {"set", consoleTime(30000), 0, true},
        {"unreadable", "S+ no time", 200, false},
    };
    settings::Options().setSyncWarning(true);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        logging::ShowSyncWarning(120);
        form.SyncWarningShown = true;
        timeset::CNISTtimeset& engine = form.NISTtimeset();
        engine.System_get_timezone();
        engine.DataArrived(c.message, form); // releases the engine
        EXPECT_EQ(form.PreviousSync.SyncStatus(), c.status);
        EXPECT_EQ(form.SyncWarningShown, !c.warningEnds);
        EXPECT_EQ(logging::SyncWarningMinutes() == 0, c.warningEnds);
    }
    platform::SetClockForTesting(nullptr);
}

TEST_F(MainWindowTest, ServiceLoopEndsWithinOneSleepAfterStop)
{
    bool success = false;
    form.Service_Start(&success);
    EXPECT_TRUE(success);
    EXPECT_TRUE(form.StartedAsService);
    EXPECT_EQ(logging::DebugFileName, home.file("DebugFileSvc.txt"));
    form.timerInit.stop();
    QTimer::singleShot(200, &form, &host::frmMainEntSrvc::Service_Stop);
    QElapsedTimer elapsed;
    elapsed.start();
    form.MainServiceLoop(); // sleeps 60 s between passes unless interrupted
    EXPECT_LT(elapsed.elapsed(), 5000);
    EXPECT_TRUE(form.StopRequested);
    EXPECT_EQ(Setting("Options", "Changed"), "True"); // the next start re-reads the options
    EXPECT_FALSE(endCodes.empty());
}

TEST_F(MainWindowTest, InteractiveCopyDoesNotEnterTheServiceLoop)
{
    TraceOn();
    form.MainServiceLoop();
    EXPECT_TRUE(trace().contains("waiting to init service"));
    EXPECT_TRUE(endCodes.empty());
}

TEST_F(MainWindowTest, ManualButtonEndsTheModuleButOnlyFlagsTheTimeServer)
{
    settings::App().ModuleType = "E";
    form.cmdManual_Click();
    EXPECT_TRUE(form.ManualClick);
    EXPECT_EQ(form.lblNISTLog, "Making connection...");
    EXPECT_TRUE(endCodes.empty());
    settings::App().ModuleType = "M";
    form.cmdManual_Click();
    EXPECT_EQ(endCodes, std::vector<int>{0});
}

// The port box takes a whole number of one to four characters.
TEST(MainMenuCommands, PortEntriesAreNumbersOfOneToFourDigits)
{
    const QString tooLong = "Entry must be a number 1-4 digits long.";
    const QString notNumber = "Entry must be a number 0-9999.";
    const std::pair<const char*, QString> cases[] = {
        {"12345", tooLong}, {"01001", tooLong}, {"12a", notNumber}, {"-1", notNumber},
        {" ", notNumber},   {"", notNumber},    {"0", ""},          {"9999", ""}};
    for (const auto& [answer, reason] : cases) {
        QString why = "unchanged";
        EXPECT_EQ(host::MainMenuCommands::ValidatePortEntry(answer, why), reason.isEmpty())
            << answer;
        EXPECT_EQ(why, reason) << answer;
    }
}

} // namespace

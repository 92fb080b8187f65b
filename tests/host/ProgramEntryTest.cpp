#include "host/ProgramEntry.h"
#include "host/ProgramInfo.h"
#include "logging/DebugLog.h"
#include "settings/AppState.h"
#include "settings/COptions.h"
#include "settings/OptionStore.h"

#include "TestSupport.h"
#include "logging/ScopedTrace.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace testsupport;

namespace
{

class ProgramEntryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        settings::Options() = settings::COptions();
        logging::DebugOn = false;
        logging::DebugFileOn = false;
    }
    void TearDown() override
    {
        logging::CloseDebugFile();
        logging::DebugOn = false;
        logging::DebugFileOn = false;
        settings::Options() = settings::COptions();
    }
    ScopedHome home;
};

TEST_F(ProgramEntryTest, CommandLineSplitsAtBlanksAndTabsAndKeepsTheFirstWords)
{
    struct Case {
        QStringList arguments;
        int maxWords;
        QStringList words;
    };
    const Case cases[] = {
        {{}, 4, {}},
        {{"debug"}, 4, {"debug"}},
        {{"debug\tscreen", "  once  "}, 4, {"debug", "screen", "once"}},
        {{"a", "b", "c", "d", "removereg"}, 4, {"a", "b", "c", "d"}},
        {{"a b c d e f g h i j k l"}, 10, {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(host::GetCommandLine(c.arguments, c.maxWords), c.words)
            << c.arguments.join('|').toStdString();
}

TEST_F(ProgramEntryTest, SwitchesApplyInOrderAndAreCaseSensitive)
{
    logging::DebugFileName = home.file("DebugFile.txt");
    host::CommandSwitches switches = host::ApplySwitches({"debug", "screen", "Once", "REMOVEREG"});
    EXPECT_TRUE(logging::DebugOn);
    EXPECT_FALSE(logging::DebugFileOn);                     // "screen" came last
    EXPECT_TRUE(QFile::exists(home.file("DebugFile.txt"))); // but "debug" opened the file
    logging::CloseDebugFile();
    EXPECT_EQ(ReadFile(home.file("DebugFile.txt")), ""); // and wrote nothing of its own
    EXPECT_FALSE(switches.once);
    EXPECT_FALSE(switches.removereg);

    switches = host::ApplySwitches({"once", "removereg", "background"});
    EXPECT_TRUE(switches.once);
    EXPECT_TRUE(switches.removereg);
    EXPECT_TRUE(switches.background);
}

TEST_F(ProgramEntryTest, FileExistsIsFalseOnlyForAMissingFile)
{
    WriteFile(home.file("present"), "x");
    EXPECT_TRUE(host::FileExists(home.file("present")));
    EXPECT_FALSE(host::FileExists(home.file("absent")));
    QDir(home.path()).mkdir("folder");
    EXPECT_TRUE(host::FileExists(home.file("folder"))); // opening fails, but not for want of it
}

TEST_F(ProgramEntryTest, InitialOptionsFileAppliesKnownNamesAndTracesTheRest)
{
    const ScopedTrace trace(home.path());
    WriteFile(home.file("REVavidod.ini"), "TCPPort, 2002\r\n"
                                          "  \"ServerName\"  ,  \"ctl, main\"  \n"
                                          "LoggingOn,False\n"
                                          "TCPPort, 99999\n"
                                          "NoSuchOption, 1\n"
                                          ",orphan\n");
    settings::COptions options;
    host::ReadInitialOptions(home.file("REVavidod.ini"), options);
    EXPECT_EQ(options.TCPPort(), 2002); // 99999 does not fit 16 bits and is skipped
    EXPECT_EQ(options.Servername(), "ctl, main");
    EXPECT_FALSE(options.LoggingOn());
    const QString text = trace.Text();
    EXPECT_TRUE(text.contains("--Begin: ReadIn Initial Option Settings--"));
    EXPECT_TRUE(text.contains("4-> \r\n"));
    EXPECT_TRUE(text.contains("6(Line  is empty:) orphan"));
    EXPECT_TRUE(text.contains("--End: ReadIn Initial Option Settings--"));
}

TEST_F(ProgramEntryTest, OnceSkipsTheStoreAndChoosesTheOnceMode)
{
    EXPECT_EQ(host::Main({"once"}, "NCLmod"), host::MainResult::RunOnceMode);
    EXPECT_FALSE(QFile::exists(home.file("registry.db")));
    EXPECT_EQ(settings::Options().NISTServer(), QString());
}

TEST_F(ProgramEntryTest, FirstRunThenSecondRunKeepsTheFirstValues)
{
    WriteFile(home.file("REVavidod.ini"), "SettingMode, 3\nTCPPort, 3003\n");
    EXPECT_EQ(host::Main({}, "NCLmod"), host::MainResult::ShowWindow);
    EXPECT_EQ(settings::App().ModuleType, "M");
    EXPECT_EQ(settings::App().RegOptionsKey,
              ".DEFAULT\\Software\\VB and VBA Program Settings\\NCLmod\\Options");
    EXPECT_EQ(settings::Options().SettingMode(), 3); // the file comes after the run mode 2
    EXPECT_EQ(settings::Options().TCPPort(), 3003);

    WriteFile(home.file("REVavidod.ini"), "TCPPort, 4004\n"); // read on the first run only
    settings::Options() = settings::COptions();
    EXPECT_EQ(host::Main({}, "NCLmod"), host::MainResult::ShowWindow);
    EXPECT_EQ(settings::Options().TCPPort(), 3003);
}

TEST_F(ProgramEntryTest, TimeServerRoleUsesItsOwnKey)
{
    EXPECT_EQ(host::Main({}, "/usr/bin/NCLsrvc"), host::MainResult::ShowWindow);
    EXPECT_EQ(settings::App().ModuleType, "E");
    EXPECT_EQ(settings::App().AppKeyName, "NCLsrvc");
    EXPECT_EQ(settings::App().RegSettingsKey,
              ".DEFAULT\\Software\\VB and VBA Program Settings\\NCLsrvc\\Settings");
    ScopedEnv forced("NCLMOD_MODULE_TYPE", "M");
    EXPECT_EQ(settings::DetectModuleType("NCLsrvc"), "M");
}

TEST_F(ProgramEntryTest, StartLineNamesTheRoleAndTheTransportOfEveryClientFormat)
{
    const struct {
        const char* moduleType;
        qint16 clientFormat;
        const char* says;
    } cases[] = {
        {"M", 0, "module role (takes console commands), TCP port 1313 on "},
        {"M", 2, "module role (takes console commands), UDP port 1313 on "},
        {"E", 3, "time-server role (serves time to clients), TCP port 1313 on "},
        {"E", 4, "time-server role (serves time to clients), UDP port 1313 on "},
    };
    settings::App().AppTitle = "NCLmod";
    settings::Options().setTCPPort(1313);
    for (const auto& c : cases) {
        settings::App().ModuleType = c.moduleType;
        settings::Options().setClientFormat(c.clientFormat);
        const QString line = host::StartLine();
        EXPECT_TRUE(line.contains(c.says)) << line.toStdString();
    }
}

} // namespace

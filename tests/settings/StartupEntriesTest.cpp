#include "settings/StartupEntries.h"

#include "settings/COptions.h"
#include "settings/OptionStore.h"
#include "settings/modRegistryTools.h"

#include "SettingsTestSupport.h"

#include <QFileInfo>

using namespace settings;
using namespace testsupport;

namespace
{

const QString kRunKey = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows";

class StartupEntriesTest : public SettingsTest
{
protected:
    QString run() const
    {
        QString value;
        QueryValue(kRunKey, platform::HKEY_CURRENT_USER, "run", value);
        return value;
    }
    void setRun(const QString& value)
    {
        ASSERT_TRUE(
            SetKeyValue(kRunKey, platform::HKEY_CURRENT_USER, "run", value, platform::REG_SZ));
    }
};

TEST_F(StartupEntriesTest, SwitchingOnAndOffTakesEffectAtLogin)
{
    SaveStartupRegistrySetting(true, App().AppTitle);
    const QString program = BackgroundProgramPath();
    ASSERT_TRUE(QFileInfo(program).isExecutable());
    EXPECT_TRUE(ReadFile(program).contains(" background\n"));
    EXPECT_EQ(run(), program);
    EXPECT_TRUE(StartupEntryExists(App().AppTitle));
    EXPECT_TRUE(trace().contains("Executable string for run (8.3): " + program));
    const QString desktop = ReadFile(AutostartFilePath());
    EXPECT_TRUE(AutostartFilePath().startsWith(home.path() + "/config/autostart/"));
    EXPECT_TRUE(desktop.contains("Exec=\"" + program + "\"\n")) << qPrintable(desktop);

    SaveStartupRegistrySetting(false, App().AppTitle);
    EXPECT_EQ(run(), QString());
    EXPECT_FALSE(QFileInfo::exists(AutostartFilePath()));
    EXPECT_FALSE(StartupEntryExists(App().AppTitle));

    SaveStartupRegistrySetting(true, App().AppTitle);
    RemoveStartupEntry(App().AppTitle);
    EXPECT_EQ(run(), QString());
    EXPECT_FALSE(QFileInfo::exists(AutostartFilePath()));
}

TEST_F(StartupEntriesTest, OptionStoresMirrorTheEntry)
{
    COptions options;
    SetDefaults(options);
    options.setSystemStartup(true);
    ASSERT_TRUE(Registry_Set(App().RegOptionsKey, options));
    EXPECT_EQ(run(), BackgroundProgramPath());
    COptions read;
    ASSERT_TRUE(Registry_Get(read, App().AppTitle));
    EXPECT_TRUE(read.SystemStartup());
    options.setSystemStartup(false);
    ASSERT_TRUE(RegistrySet(options, App().AppTitle));
    ASSERT_TRUE(RegistryGet(read, App().AppTitle));
    EXPECT_FALSE(read.SystemStartup());
    EXPECT_EQ(run(), QString());
}

// No entry, an empty one, another program's, or one naming our removed
// program is no match, and switching on or off never overwrites it.
TEST_F(StartupEntriesTest, EntriesNotOursAreNoMatchAndStay)
{
    EXPECT_FALSE(StartupEntryExists(App().AppTitle)); // no "run" value at all
    setRun(QString());
    EXPECT_FALSE(QFileInfo::exists(BackgroundProgramPath()));
    EXPECT_FALSE(StartupEntryExists(App().AppTitle));

    setRun("/usr/bin/other-agent");
    SaveStartupRegistrySetting(true, App().AppTitle);
    EXPECT_TRUE(trace().contains("Cant set the auto startup action\r\n"));
    EXPECT_FALSE(StartupEntryExists(App().AppTitle));
    EXPECT_FALSE(QFileInfo::exists(AutostartFilePath()));
    SaveStartupRegistrySetting(false, App().AppTitle);
    RemoveStartupEntry(App().AppTitle);
    EXPECT_EQ(run(), "/usr/bin/other-agent");

    // The comparison uses the short form of the path, which is empty for a
    // missing file, so an entry naming our removed program is no match and
    // switching off leaves it alone.
    setRun(QString());
    SaveStartupRegistrySetting(true, App().AppTitle);
    QFile::remove(BackgroundProgramPath());
    EXPECT_FALSE(StartupEntryExists(App().AppTitle));
    SaveStartupRegistrySetting(false, App().AppTitle);
    EXPECT_EQ(run(), BackgroundProgramPath());
}

} // namespace

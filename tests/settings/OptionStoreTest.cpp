#include "settings/OptionStore.h"

#include "platform/NetworkAdapters.h"
#include "runtime/DateTime.h"
#include "settings/COptions.h"
#include "settings/OptionText.h"

#include "SettingsTestSupport.h"

using namespace settings;
using namespace testsupport;

namespace
{

// Values of their own per property; a second set (other = true) differs
// from the first in every property.
void Make(int i, bool other, bool& out)
{
    out = (i % 2 == 0) != other;
}
void Make(int i, bool other, qint16& out)
{
    out = qint16((other ? 200 : 100) + i);
}
void Make(int i, bool other, qint32& out)
{
    out = (other ? 80000 : 70000) + i;
}
void Make(int i, bool other, QString& out)
{
    out = QString("value %1, with comma%2").arg(i).arg(other ? "!" : "");
}
void Make(int i, bool other, rt::Date& out)
{
    out = rt::MakeDate((other ? 2010 : 2020) + i % 5, 1 + i % 12, 1 + i % 28, i % 24, i % 60,
                       (i * 7) % 60);
}

COptions Distinct(bool other = false)
{
    COptions options;
    int i = 0;
#define NCL_FILL(type, name)                                                                       \
    {                                                                                              \
        type value{};                                                                              \
        Make(i++, other, value);                                                                   \
        options.set##name(value);                                                                  \
    }
    NCL_OPTIONS(NCL_FILL)
#undef NCL_FILL
    options.setControlMode(other ? 31000 : 30000); // read back with the 16-bit conversion
    options.setSystemStartup(false);
    return options;
}

QString Text(const COptions& options, const QString& property)
{
    QString text;
    EXPECT_TRUE(OptionToText(options, property, text)) << qPrintable(property);
    return text;
}

// Every property of read is that of written when one of valueNames stores
// it, and untouched otherwise.
void ExpectReadBack(const COptions& read, const COptions& written, const QStringList& valueNames)
{
    QStringList stored;
    for (const QString& name : valueNames)
        stored.append(PropertyOf(name));
    const COptions untouched;
    for (const QString& property : COptions::PropertyNames()) {
        const COptions& expected = stored.contains(property) ? written : untouched;
        EXPECT_EQ(Text(read, property), Text(expected, property)) << qPrintable(property);
    }
}

using OptionStoreTest = SettingsTest;

// The first run finds nothing. Registry_Set writes every value as text, then
// Changed, and Registry_Get gives back what it reads (X10ComPort lives only in
// memory). A value missing later reads as "1"; a ControlMode beyond 16 bits is
// skipped with one error line and the reading goes on.
TEST_F(OptionStoreTest, OptionsKeyFromTheFirstRunOn)
{
    COptions empty;
    EXPECT_FALSE(Registry_Get(empty, App().AppTitle));
    EXPECT_FALSE(RegistryGet(empty, App().AppTitle));
    EXPECT_EQ(trace().count("RegistryGet: All settings are empty.\r\n"), 2);
    EXPECT_FALSE(trace().contains("Start Registry_Get:"));

    COptions written = Distinct();
    ASSERT_NE(written.X10ComPort(), 0);
    EXPECT_TRUE(Registry_Set(App().RegOptionsKey, written));
    EXPECT_TRUE(trace().contains("Registry_Set: complete\r\n"));
    QStringList names;
    for (const platform::RegValue& value : KeyValues()) {
        names.append(value.name);
        EXPECT_EQ(value.type, platform::REG_SZ) << qPrintable(value.name);
    }
    EXPECT_EQ(OptionKeyWriteNames().size(), 71);
    EXPECT_EQ(names, OptionKeyWriteNames() + QStringList{"Changed"});
    EXPECT_FALSE(names.contains("X10ComPort") || names.contains("SystemStartup"));
    EXPECT_EQ(ReadOptionKey("Changed"), "True");
    COptions read;
    ASSERT_TRUE(Registry_Get(read, App().AppTitle));
    EXPECT_TRUE(trace().contains("SERVER NAME: " + written.Servername()));
    EXPECT_EQ(OptionKeyReadNames().size(), 65);
    ExpectReadBack(read, written, OptionKeyReadNames());
    EXPECT_FALSE(trace().contains("Error in getting settings"));

    written.setLoggingOn(false);
    written.setControlMode(40000);
    ASSERT_TRUE(Registry_Set(App().RegOptionsKey, written));
    EXPECT_EQ(ReadOptionKey("ControlMode"), "40000");
    platform::HKEY key = 0;
    ASSERT_EQ(platform::Registry().OpenKey(platform::HKEY_USERS, App().RegOptionsKey, key), 0);
    for (const char* name : {"TCPPort", "LoggingOn", "LoggingFileName", "AutoPrevSyncTime"})
        ASSERT_EQ(platform::Registry().DeleteValue(key, name), 0) << name;
    platform::Registry().CloseKey(key);
    read.setControlMode(7);
    ASSERT_TRUE(Registry_Get(read, App().AppTitle));
    EXPECT_EQ(read.TCPPort(), 1);
    EXPECT_TRUE(read.LoggingOn());
    EXPECT_EQ(read.LoggingFileName(), "1");
    EXPECT_EQ(read.AutoPrevSyncTime(), 1.0); // 1899-12-31
    EXPECT_EQ(read.ControlMode(), 7);
    EXPECT_EQ(read.ControlFunction(), written.ControlFunction()); // read after ControlMode
    EXPECT_EQ(trace().count("Registry_Get:  Error in getting settings.\r\n"), 1);
    EXPECT_TRUE(trace().contains("ERROR Option Key:_TCPPort_ NOT FOUND!\r\n"));

    // A one-character NISTServer is the first-run state too.
    SaveSetting(App().AppTitle, "Options", "NISTServer", "x");
    COptions fresh;
    EXPECT_FALSE(Registry_Get(fresh, App().AppTitle));
    EXPECT_EQ(fresh.NISTServer(), QString());
}

// The settings area holds the same key's values on this platform family; the
// values of a setting go there too and read back as dates.
TEST_F(OptionStoreTest, SettingsAreaRoundTripAndChangedIsNotAnOption)
{
    COptions written = Distinct();
    ASSERT_TRUE(RegistrySet(written, App().AppTitle));
    EXPECT_TRUE(trace().contains("RegistrySet: complete\r\n"));
    QStringList names;
    for (const auto& pair : GetAllSettings(App().AppTitle, "Options"))
        names.append(pair.first);
    EXPECT_EQ(names.size(), 74);
    EXPECT_EQ(names, SettingsAreaNames());
    EXPECT_EQ(KeyValues().size(), 74);
    SaveSetting(App().AppTitle, "Options", "Changed", "True");
    COptions read;
    ASSERT_TRUE(RegistryGet(read, App().AppTitle));
    ExpectReadBack(read, written, SettingsAreaNames());
    EXPECT_TRUE(trace().contains("set_option_value:  CASE ElseParam: Changed\r\n"));

    const rt::Date when = rt::MakeDate(2026, 12, 4, 20, 55, 6);
    EXPECT_TRUE(SaveAutoSettings(45, when, -3, App().AppTitle));
    EXPECT_TRUE(SaveLastSyncTime(when, App().AppTitle));
    EXPECT_EQ(GetSetting(App().AppTitle, "Options", "AutoPrevAccuracy", ""), "45");
    EXPECT_EQ(GetSetting(App().AppTitle, "Options", "AutoPrevDifference", ""), "-3");
    ASSERT_TRUE(RegistryGet(read, App().AppTitle));
    EXPECT_DOUBLE_EQ(read.AutoPrevSyncTime(), when);
    EXPECT_DOUBLE_EQ(read.LastSyncTime(), when);
}

// Only the settings area's names, spelt exactly, are taken; a value that
// does not convert is traced and leaves the option as it was.
TEST_F(OptionStoreTest, SetOptionValueMatchesNamesExactly)
{
    enum Outcome { Taken, Unknown, Refused };
    const struct {
        const char* name;
        const char* value;
        Outcome outcome;
    } cases[] = {{"ServerName", "ctl.example", Taken}, {"Servername", "wrong", Unknown},
                 {"X10ComPort", "4", Unknown},         {"SystemStartup", "True", Unknown},
                 {"TCPPort", "70000", Refused},        {"LoggingOn", "maybe", Refused},
                 {"LoggingEvntOn", "-1", Taken},       {"SetMaxThreshold", "100000", Taken},
                 {"SyncNextTime", "1", Taken}};
    COptions options;
    options.setTCPPort(1001);
    for (const auto& c : cases) {
        const QString name = QString::fromLatin1(c.name), value = QString::fromLatin1(c.value);
        set_option_value(name, value, options);
        const QString text = trace();
        EXPECT_TRUE(text.contains("Name: _" + name + "_  Value:_" + value + "_\r\n")) << c.name;
        EXPECT_EQ(text.contains("set_option_value:  CASE ElseParam: " + name + "\r\n"),
                  c.outcome == Unknown)
            << c.name;
        EXPECT_EQ(text.contains("set_option_value: ERROR getting: " + name + "_  Value:_" + value +
                                "_\r\n"),
                  c.outcome == Refused)
            << c.name;
    }
    EXPECT_EQ(options.Servername(), "ctl.example");
    EXPECT_EQ(options.TCPPort(), 1001);
    EXPECT_EQ(options.X10ComPort(), 0);
    EXPECT_FALSE(options.SystemStartup());
    EXPECT_FALSE(options.LoggingOn());
    EXPECT_TRUE(options.LoggingEvntOn());
    EXPECT_EQ(options.SetMaxThreshold(), 100000);
    EXPECT_EQ(options.SyncNextTime(), 1.0);
}

TEST_F(OptionStoreTest, SetDefaultsSetsAllButThreeAndKeepsFolderSpelling)
{
    // Two records that differ in every property agree after SetDefaults,
    // except in the three it leaves alone.
    COptions one = Distinct(false);
    COptions two = Distinct(true);
    SetDefaults(one);
    SetDefaults(two);
    const QStringList untouched = {"Changed", "SyncNextTime", "X10ComPort"};
    for (const QString& property : COptions::PropertyNames()) {
        if (property == QLatin1String("AutoPrevSyncTime") ||
            property == QLatin1String("LastSyncTime"))
            continue; // "now", checked below
        if (property == QLatin1String("MACaddr") && platform::AdapterQueryMac().isEmpty())
            continue; // kept as it was when there is no adapter
        if (untouched.contains(property))
            EXPECT_NE(Text(one, property), Text(two, property)) << qPrintable(property);
        else
            EXPECT_EQ(Text(one, property), Text(two, property)) << qPrintable(property);
    }
    EXPECT_NEAR(one.LastSyncTime(), rt::Now(), 5.0 / 86400);
    EXPECT_NEAR(one.AutoPrevSyncTime(), rt::Now(), 5.0 / 86400);
    EXPECT_EQ(one.LoggingActionFile(), home.path() + "/eventlog.txt");
    EXPECT_EQ(one.ClientFileName(), home.path() + "/clientlist.txt");
    EXPECT_TRUE(one.DisplayCliViewAll());
    // As stored: the coded options as the numbers and letters other copies
    // read (a non-zero SettingMode becomes 2), and the first-run defaults.
    ASSERT_TRUE(Registry_Set(App().RegOptionsKey, one));
    const std::pair<const char*, const char*> stored[] = {
        {"SettingMode", "2"},          {"ServerFormat", "0"},
        {"ClientFormat", "0"},         {"ServerConn", "0"},
        {"LoggingMode", "1"},          {"ClientKeyType", "0"},
        {"ControlMode", "2"},          {"ControlFunction", "P"},
        {"NISTServer", "<activated>"}, {"TCPPort", "1001"},
        {"TimedInterval", "3600"},     {"ServerCustomFormat", "ddd mmm dd Hh:Nn:Ss yyyy"}};
    for (const auto& [name, text] : stored)
        EXPECT_EQ(ReadOptionKey(name), text) << name;

    COptions fresh;
    SetDefaults(fresh);
    EXPECT_EQ(fresh.SettingMode(), 0); // zero stays: the once mode
}

TEST_F(OptionStoreTest, CorruptStoreIsReportedAndNothingStops)
{
    WriteFile(home.file("registry.db"), QByteArray(8192, '\x5a'));
    COptions options;
    SetDefaults(options);
    EXPECT_FALSE(Registry_Get(options, App().AppTitle));
    EXPECT_TRUE(Registry_Set(App().RegOptionsKey, options));
    EXPECT_FALSE(RegistrySet(options, App().AppTitle));
    EXPECT_FALSE(SaveAutoSettings(1, 0, 0, App().AppTitle));
    EXPECT_FALSE(SaveLastSyncTime(0, App().AppTitle));
    const QString log = trace();
    EXPECT_TRUE(log.contains("ID: CreateNewKey 901, Msg:Error CreateKey: " + App().RegOptionsKey));
    EXPECT_TRUE(log.contains("ID: SetKeyvalue 902"));
    EXPECT_TRUE(log.contains("Error writing param\r\n"));
    EXPECT_TRUE(log.contains("Err:1009, Desc:the registry store "));
    EXPECT_TRUE(log.contains("ID: RegistrySet 11, Msg:can't write setting to registry"));
    EXPECT_TRUE(log.contains("ID: RegistrySyncSave 12"));
    EXPECT_TRUE(log.contains("ID: RegistrySyncSettingSave 13"));
}

TEST(COptionsCopy, EveryPropertyCopiesBothWays)
{
    const COptions source = Distinct();
    COptions to;
    source.Copy_Object_to(to);
    COptions in;
    in.Copy_Object_in(source);
    ASSERT_EQ(COptions::PropertyNames().size(), 77);
    for (const QString& property : COptions::PropertyNames()) {
        EXPECT_EQ(Text(to, property), Text(source, property)) << qPrintable(property);
        EXPECT_EQ(Text(in, property), Text(source, property)) << qPrintable(property);
    }
}

// Accuracy is rounded half to even; one beyond 32 bits leaves the last one.
TEST(COptionsUpdate, AutoSettingsRoundHalfToEvenAndSkipOverflow)
{
    COptions options;
    options.setAutoPrevAccuracy(9);
    const rt::Date when = rt::MakeDate(2026, 1, 2);
    for (const auto& [accuracy, kept] : {std::pair{1e12f, 9}, {2.5f, 2}, {3.5f, 4}}) {
        options.Update_Auto_Settings(when, accuracy, -8);
        EXPECT_EQ(options.AutoPrevAccuracy(), kept) << accuracy;
    }
    EXPECT_EQ(options.AutoPrevSyncTime(), when);
    EXPECT_EQ(options.AutoPrevDifference(), -8);
}

} // namespace

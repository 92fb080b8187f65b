#include "settings/OptionStore.h"

#include "platform/NetworkAdapters.h"
#include "runtime/DateTime.h"
#include "schedule/CSync.h"
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

void DeleteOptionValue(const QString& name)
{
    platform::RegistryStore& store = platform::Registry();
    platform::HKEY key = 0;
    ASSERT_EQ(store.OpenKey(platform::HKEY_USERS, App().RegOptionsKey, key), 0);
    ASSERT_EQ(store.DeleteValue(key, name), 0);
    store.CloseKey(key);
}

using OptionStoreTest = SettingsTest;

TEST_F(OptionStoreTest, FirstRunWritesTheSeventyOneValuesAndChanged)
{
    COptions options;
    EXPECT_FALSE(Registry_Get(options, App().AppTitle));
    EXPECT_FALSE(RegistryGet(options, App().AppTitle));
    EXPECT_EQ(trace().count("RegistryGet: All settings are empty.\r\n"), 2);
    EXPECT_FALSE(trace().contains("Start Registry_Get:"));

    SetDefaults(options);
    options.setSettingMode(2);
    EXPECT_TRUE(Registry_Set(App().RegOptionsKey, options));
    EXPECT_TRUE(trace().contains("Registry_Set: complete\r\n"));

    QStringList names;
    for (const platform::RegValue& value : optionKeyValues()) {
        names.append(value.name);
        EXPECT_EQ(value.type, platform::REG_SZ) << qPrintable(value.name);
        EXPECT_TRUE(value.data.endsWith('\0')) << qPrintable(value.name);
    }
    EXPECT_EQ(OptionKeyWriteNames().size(), 71);
    EXPECT_EQ(names, OptionKeyWriteNames() + QStringList{"Changed"});
    EXPECT_EQ(ReadOptionKey("Changed"), "True");
    EXPECT_EQ(ReadOptionKey("ServerName"), QString());
    EXPECT_EQ(ReadOptionKey("NISTServer"), "<activated>");
    // The coded options are stored as the numbers and letters other copies read.
    const std::pair<const char*, const char*> coded[] = {
        {"SettingMode", "2"}, {"ServerFormat", "0"},    {"ClientFormat", "0"},
        {"ServerConn", "0"},  {"LoggingMode", "1"},     {"ClientKeyType", "0"},
        {"ControlMode", "2"}, {"ControlFunction", "P"},
    };
    for (const auto& [name, text] : coded)
        EXPECT_EQ(ReadOptionKey(name), text) << name;

    // A one-character NISTServer is the first-run state too.
    SaveSetting(App().AppTitle, "Options", "NISTServer", "x");
    COptions fresh;
    EXPECT_FALSE(Registry_Get(fresh, App().AppTitle));
    EXPECT_EQ(fresh.NISTServer(), QString());
}

TEST_F(OptionStoreTest, OptionsKeyRoundTripGivesBackEveryReadProperty)
{
    COptions written = Distinct();
    ASSERT_TRUE(Registry_Set(App().RegOptionsKey, written));
    COptions read;
    ASSERT_TRUE(Registry_Get(read, App().AppTitle));
    EXPECT_TRUE(trace().contains("SERVER NAME: " + written.Servername()));
    EXPECT_EQ(OptionKeyReadNames().size(), 65);
    // X10ComPort lives only in memory: neither written nor read.
    ASSERT_NE(written.X10ComPort(), 0);
    EXPECT_EQ(read.X10ComPort(), 0);
    for (const platform::RegValue& value : optionKeyValues())
        EXPECT_NE(value.name, "X10ComPort");
    ExpectReadBack(read, written, OptionKeyReadNames());
    EXPECT_FALSE(trace().contains("Error in getting settings"));
}

TEST_F(OptionStoreTest, SettingsAreaRoundTripAndChangedIsNotAnOption)
{
    COptions written = Distinct();
    ASSERT_TRUE(RegistrySet(written, App().AppTitle));
    EXPECT_TRUE(trace().contains("RegistrySet: complete\r\n"));
    const auto pairs = GetAllSettings(App().AppTitle, "Options");
    EXPECT_EQ(pairs.size(), 74);
    EXPECT_EQ(pairs.size(), SettingsAreaNames().size());
    for (const auto& pair : pairs)
        EXPECT_NE(pair.first, "X10ComPort");

    SaveSetting(App().AppTitle, "Options", "Changed", "True");
    COptions read;
    ASSERT_TRUE(RegistryGet(read, App().AppTitle));
    EXPECT_EQ(read.X10ComPort(), 0);
    ExpectReadBack(read, written, SettingsAreaNames());
    EXPECT_TRUE(trace().contains("set_option_value:  CASE ElseParam: Changed\r\n"));
}

// A missing value reads as "1"; a ControlMode beyond 16 bits is skipped with
// one error line and the reading goes on.
TEST_F(OptionStoreTest, DeletedValuesReadAsOneAndBadValuesAreSkipped)
{
    COptions written;
    SetDefaults(written);
    written.setLoggingOn(false);
    written.setControlMode(40000);
    written.setControlFunction("Q");
    ASSERT_TRUE(Registry_Set(App().RegOptionsKey, written));
    EXPECT_EQ(ReadOptionKey("ControlMode"), "40000");
    for (const char* name : {"TCPPort", "LoggingOn", "LoggingFileName", "AutoPrevSyncTime"})
        DeleteOptionValue(QString::fromLatin1(name));

    COptions read;
    read.setControlMode(7);
    ASSERT_TRUE(Registry_Get(read, App().AppTitle));
    EXPECT_EQ(read.TCPPort(), 1);
    EXPECT_TRUE(read.LoggingOn());
    EXPECT_EQ(read.LoggingFileName(), "1");
    EXPECT_EQ(read.AutoPrevSyncTime(), 1.0); // 1899-12-31
    EXPECT_EQ(read.ServerPort(), 1001);      // the others as written
    EXPECT_EQ(read.ControlMode(), 7);
    EXPECT_EQ(read.ControlFunction(), "Q");
    const QString log = trace();
    EXPECT_EQ(log.count("Registry_Get:  Error in getting settings.\r\n"), 1);
    EXPECT_TRUE(log.contains("ERROR Option Key:_TCPPort_ NOT FOUND!\r\n"));
    EXPECT_TRUE(log.contains("Msg:Error querying value of key: " + App().RegOptionsKey +
                             " Name:_LoggingOn_, Resp:0"));
    EXPECT_TRUE(log.contains("ID: QueryValue 905"));
}

TEST_F(OptionStoreTest, SetOptionValueMatchesNamesExactly)
{
    struct Case {
        const char* name;
        const char* value;
        const char* traceLine;
    };
    const Case cases[] = {
        {"ServerName", "ctl.example", nullptr},
        {"Servername", "wrong", "set_option_value:  CASE ElseParam: Servername"},
        {"tcpport", "5", "set_option_value:  CASE ElseParam: tcpport"},
        {"X10ComPort", "4", "set_option_value:  CASE ElseParam: X10ComPort"},
        {"SystemStartup", "True", "set_option_value:  CASE ElseParam: SystemStartup"},
        {"TCPPort", "70000", "set_option_value: ERROR getting: TCPPort_  Value:_70000_"},
        {"ControlMode", "40000", "set_option_value: ERROR getting: ControlMode_  Value:_40000_"},
        {"LoggingOn", "maybe", "set_option_value: ERROR getting: LoggingOn_  Value:_maybe_"},
        {"LoggingEvntOn", "-1", nullptr},
        {"SetMaxThreshold", "100000", nullptr},
        {"SyncNextTime", "1", nullptr},
    };
    COptions options;
    options.setTCPPort(1001);
    options.setControlMode(2);
    for (const Case& c : cases) {
        set_option_value(QString::fromLatin1(c.name), QString::fromLatin1(c.value), options);
        EXPECT_TRUE(trace().contains(QString("Name: _%1_  Value:_%2_\r\n")
                                         .arg(QLatin1String(c.name), QLatin1String(c.value))))
            << c.name;
        if (c.traceLine) {
            EXPECT_TRUE(trace().contains(QLatin1String(c.traceLine) + "\r\n")) << c.traceLine;
        }
    }
    EXPECT_EQ(options.Servername(), "ctl.example");
    EXPECT_EQ(options.TCPPort(), 1001);
    EXPECT_EQ(options.ControlMode(), 2);
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
    EXPECT_EQ(one.SettingMode(), 2); // non-zero becomes 2
    EXPECT_EQ(one.NISTServer(), "<activated>");
    EXPECT_EQ(one.LoggingActionFile(), home.path() + "/eventlog.txt");
    EXPECT_EQ(one.ClientFileName(), home.path() + "/clientlist.txt");
    EXPECT_TRUE(one.DisplayCliViewAll());
    EXPECT_EQ(one.ControlMode(), 2);
    EXPECT_EQ(one.TCPPort(), 1001);
    EXPECT_EQ(one.TimedInterval(), 3600);
    EXPECT_EQ(one.ServerCustomFormat(), "ddd mmm dd Hh:Nn:Ss yyyy");

    COptions fresh;
    SetDefaults(fresh);
    EXPECT_EQ(fresh.SettingMode(), 0); // zero stays: the once mode
}

TEST_F(OptionStoreTest, SyncValuesGoToTheSettingsArea)
{
    const rt::Date when = rt::MakeDate(2026, 12, 4, 20, 55, 6);
    EXPECT_TRUE(SaveAutoSettings(45, when, -3, App().AppTitle));
    EXPECT_TRUE(SaveLastSyncTime(when, App().AppTitle));
    const auto pairs = GetAllSettings(App().AppTitle, "Options");
    ASSERT_EQ(pairs.size(), 4);
    EXPECT_EQ(pairs[0], qMakePair(QString("AutoPrevAccuracy"), QString("45")));
    EXPECT_EQ(pairs[2], qMakePair(QString("AutoPrevDifference"), QString("-3")));
    COptions options;
    RegistryGet(options, App().AppTitle);
    EXPECT_DOUBLE_EQ(options.AutoPrevSyncTime(), when);
    EXPECT_DOUBLE_EQ(options.LastSyncTime(), when);
    EXPECT_TRUE(optionKeyValues().size() == 4); // the same key on this platform family
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

TEST(COptionsUpdate, AutoSettingsRoundHalfToEvenAndSkipOverflow)
{
    COptions options;
    options.setAutoPrevAccuracy(9);
    schedule::CSync sync;
    sync.setSyncLocalTime(rt::MakeDate(2026, 1, 2));
    sync.setSyncAccuracy(1e12f);
    sync.setSyncDifferenceSec(-8);
    options.Update_Auto_Settings(sync);
    EXPECT_EQ(options.AutoPrevSyncTime(), rt::MakeDate(2026, 1, 2));
    EXPECT_EQ(options.AutoPrevAccuracy(), 9);
    EXPECT_EQ(options.AutoPrevDifference(), -8);
    sync.setSyncAccuracy(2.5f);
    options.Update_Auto_Settings(sync);
    EXPECT_EQ(options.AutoPrevAccuracy(), 2);
    sync.setSyncAccuracy(3.5f);
    options.Update_Auto_Settings(sync);
    EXPECT_EQ(options.AutoPrevAccuracy(), 4);
}

} // namespace

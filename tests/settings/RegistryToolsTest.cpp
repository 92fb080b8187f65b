#include "settings/modRegistryTools.h"

#include "SettingsTestSupport.h"

#include <QRegularExpression>

using namespace settings;

namespace
{

using RegistryToolsTest = SettingsTest;

const QString kKey = "Software\\Tools";

QByteArray RawValue(const QString& name)
{
    for (const platform::RegValue& value : KeyValues(platform::HKEY_CURRENT_USER, kKey))
        if (value.name == name)
            return value.data;
    return {};
}

TEST_F(RegistryToolsTest, ValuesAreWrittenInRegistryFormAndReadBackWithoutNuls)
{
    ASSERT_TRUE(CreateNewKey(kKey, platform::HKEY_CURRENT_USER));
    struct Case {
        const char* name;
        quint32 type;
        const char* value;
        QByteArray stored;
        const char* readBack;
    };
    const Case cases[] = {
        {"text", platform::REG_SZ, "abc", QByteArray("abc\0", 4), "abc"},
        {"empty", platform::REG_SZ, "", QByteArray("\0", 1), ""},
        {"dword", platform::REG_DWORD, "1001", QByteArray("\xe9\x03\0\0", 4), "1001"},
        {"negative", platform::REG_DWORD, "-1", QByteArray("\xff\xff\xff\xff", 4), "-1"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(SetKeyValue(kKey, platform::HKEY_CURRENT_USER, c.name, c.value, c.type));
        EXPECT_EQ(RawValue(c.name), c.stored) << c.name;
        QString value;
        ASSERT_TRUE(QueryValue(kKey, platform::HKEY_CURRENT_USER, c.name, value)) << c.name;
        EXPECT_EQ(value, QString::fromLatin1(c.readBack)) << c.name;
    }
    // Every trailing NUL goes, also from data written by others.
    writeRaw(platform::HKEY_CURRENT_USER, kKey, "nuls", platform::REG_SZ, QByteArray("x\0\0\0", 4));
    writeRaw(platform::HKEY_CURRENT_USER, kKey, "onlynuls", platform::REG_SZ,
             QByteArray("\0\0", 2));
    QString value;
    ASSERT_TRUE(QueryValue(kKey, platform::HKEY_CURRENT_USER, "nuls", value));
    EXPECT_EQ(value, "x");
    ASSERT_TRUE(QueryValue(kKey, platform::HKEY_CURRENT_USER, "onlynuls", value));
    EXPECT_EQ(value, QString());
    // Other types are not written.
    ASSERT_TRUE(SetKeyValue(kKey, platform::HKEY_CURRENT_USER, "binary", "00", 3));
    EXPECT_FALSE(QueryValue(kKey, platform::HKEY_CURRENT_USER, "binary", value));
}

TEST_F(RegistryToolsTest, FailuresAreReportedWithTheirSites)
{
    QString value = "before";
    EXPECT_FALSE(QueryValue("Software\\Missing", platform::HKEY_CURRENT_USER, "Name", value));
    EXPECT_FALSE(SetKeyValue("Software\\Missing", platform::HKEY_CURRENT_USER, "Name", "v",
                             platform::REG_SZ));
    ASSERT_TRUE(CreateNewKey(kKey, platform::HKEY_CURRENT_USER));
    EXPECT_FALSE(QueryValue(kKey, platform::HKEY_CURRENT_USER, "Absent", value));
    writeRaw(platform::HKEY_CURRENT_USER, kKey, "blob", platform::REG_BINARY,
             QByteArray("\x01\x02", 2));
    EXPECT_FALSE(QueryValue(kKey, platform::HKEY_CURRENT_USER, "blob", value));
    // A bad number for a REG_DWORD is a failed write: reported, and still true.
    EXPECT_TRUE(SetKeyValue(kKey, platform::HKEY_CURRENT_USER, "n", "many", platform::REG_DWORD));
    EXPECT_EQ(value, "before");

    const QString log = trace();
    const QString origin = "Origination: modRegistryTools\r\nID: ";
    for (const QString& expected : {
             origin + "QueryValue 904, Msg:Error Opening Key: Name, setting: before",
             origin + "SetKeyvalue 902, Msg:Error Opening key: Name, setting: v",
             origin + "QueryValue 905, Msg:Error querying value of key: " + kKey + " Name:_Absent_",
             origin + "QueryValue 905, Msg:Error querying value of key: " + kKey + " Name:_blob_",
             origin + "SetKeyValue 902, Msg:Error Setting value of key: " + kKey,
         })
        EXPECT_TRUE(log.contains(expected)) << qPrintable(expected);
    EXPECT_TRUE(log.contains(QRegularExpression("Error in QueryValueEx key:\\d+ Name:Absent\r\n")));
}

} // namespace

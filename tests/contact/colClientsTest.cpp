// The client list: numbering, keys, the active count, the client file's
// round trip and its bad lines, the sync-log update and the summaries.
#include "contact/colClients.h"
#include "runtime/DateTime.h"
#include "settings/AppState.h"
#include "settings/COptions.h"

#include "TestSupport.h"
#include "logging/ScopedTrace.h"
#include "runtime/RuntimeFixtures.h"

#include <gtest/gtest.h>

using contact::cClient;
using contact::colClients;

namespace
{

class ClientListTest : public ::testing::Test
{
protected:
    void SetUp() override { settings::Options().setClientKeyType(0); }

    cClient* AddClient(qint16 id, const QString& name, const QString& address, qint16 status,
                       const QString& key)
    {
        return list.Add(id, 1, 0, name, address, QStringLiteral("note"), 0, 0, status, 0,
                        QStringLiteral("00-11-22-33-44-55"), false, key);
    }

    testsupport::ScopedHome home;
    testsupport::ScopedTrace debug{home.path()};
    colClients list;
};

TEST_F(ClientListTest, NumbersKeysTheActiveCountAndTheSummaries)
{
    AddClient(1, "a", "10.0.0.1", 1, "a");
    AddClient(2, "b", "10.0.0.2", 2, "b");
    AddClient(3, "c", "10.0.0.3", -1, "c");
    AddClient(4, "d", "10.0.0.4", 1, "d");
    EXPECT_EQ(list.ActiveCount(), 2);
    // Number zero takes the next number; a client added without a key gets
    // one from the key type but is reachable by position only.
    for (const auto& [keyType, key] : {std::pair{0, "10.0.0.7"}, std::pair{1, "pc7"}}) {
        SCOPED_TRACE(keyType);
        settings::Options().setClientKeyType(qint16(keyType));
        qint16 id = 0;
        const cClient* added = list.Add(id, 1, 0, "pc7", "10.0.0.7", "", 0, 0, 2, 0, "", false);
        ASSERT_NE(added, nullptr);
        EXPECT_EQ(id, list.Count());
        EXPECT_EQ(added->nClientID, id);
        EXPECT_EQ(added->sKey, key);
        EXPECT_EQ(list.Item(QString::fromLatin1(key)), nullptr);
        EXPECT_EQ(list.Item(list.Count()), added);
    }
    // A key already there (keys ignore case) and an empty key change nothing.
    EXPECT_EQ(AddClient(5, "other", "10.0.0.9", 1, "A"), nullptr);
    EXPECT_EQ(list.Item(QString()), nullptr);
    EXPECT_FALSE(list.Remove(QString()));
    EXPECT_EQ(list.Count(), 6);
    EXPECT_EQ(list.ActiveCount(), 2);
    EXPECT_EQ(list.Item(QStringLiteral("a"))->sIPname, "a");
    EXPECT_TRUE(debug.Text().contains("Cant update client with empty key"));
    EXPECT_TRUE(debug.Text().contains("Cant delete client with empty key"));

    // Only active clients count.
    EXPECT_TRUE(list.Remove(QStringLiteral("B")));
    EXPECT_EQ(list.ActiveCount(), 2);
    EXPECT_TRUE(list.Remove(1));
    EXPECT_EQ(list.ActiveCount(), 1);
    EXPECT_FALSE(list.Remove(QStringLiteral("a")));
    EXPECT_EQ(list.Count(), 4);
    EXPECT_EQ(list.Item(1)->sKey, "c");
    EXPECT_EQ(list.Item(QStringLiteral("D"))->nClientID, 4);
    list.EraseAll();
    EXPECT_EQ(list.ActiveCount(), 0);

    // Only the four clients added after the erasure are listed. -7.6 rounds
    // to -8, whose size 7.5 (rounding to 8) does not exceed.
    EXPECT_EQ(list.find_max_time_diff(), 0);
    const float diffs[] = {2.4f, -7.6f, 5.0f, 7.5f};
    for (int i = 0; i < 4; ++i)
        AddClient(qint16(i + 1), "n" + QString::number(i), "10.0.0." + QString::number(i), 1,
                  "k" + QString::number(i))
            ->sglTimeDiffSec = diffs[i];
    EXPECT_EQ(list.find_max_time_diff(), -8);
    QStringList entries{"old"};
    EXPECT_EQ(list.fill_cbo(entries, 1, "n2"), 3);
    EXPECT_EQ(entries, QStringList({"<all>", "n0", "n1", "n2", "n3"}));
    EXPECT_EQ(list.fill_cbo(entries, 0, "<all>"), 0);
    EXPECT_EQ(entries.at(1), "10.0.0.0");
}

TEST_F(ClientListTest, FileRoundTripKeepsEveryField)
{
    qint16 id = 3;
    ASSERT_NE(list.Add(id, 2, 1, "pc-one", "127.0.0.2", "notes, with \"quotes\"", -1.25f,
                       rt::MakeDate(2024, 1, 31, 13, 5), 2, rt::MakeDate(2024, 1, 31),
                       "00-0C-29-3A-5B-7C", false, "pc-one"),
              nullptr);
    id = 4;
    list.Add(id, 0, 0, "pc-two", "127.0.0.3", "", 0.5f, rt::MakeDate(1899, 12, 30, 13, 5), -1, 0,
             "", false, "pc-two");
    const QString path = home.file("clientlist.txt");
    ASSERT_TRUE(list.SavetoDisk(path));
    EXPECT_EQ(testsupport::ReadFile(path),
              "3,2,1,\"pc-one\",\"127.0.0.2\",\"00-0C-29-3A-5B-7C\",\"notes, with "
              "\"\"quotes\"\"\",-1.25,#2024-01-31 13:05:00#,2,#2024-01-31#\r\n"
              "4,0,0,\"pc-two\",\"127.0.0.3\",\"\",\"\",0.5,#13:05:00#,-1,#00:00:00#\r\n");

    // Read back (keyed by name) and saved again, every field is as it was.
    colClients back;
    ASSERT_TRUE(back.Read_in_file(path, 1));
    ASSERT_TRUE(back.SavetoDisk(home.file("again.txt")));
    EXPECT_EQ(testsupport::ReadFile(home.file("again.txt")), testsupport::ReadFile(path));
    EXPECT_EQ(back.Item(QStringLiteral("pc-one")), back.Item(1));
    EXPECT_EQ(back.ActiveCount(), 0);
}

TEST_F(ClientListTest, ReadingSkipsNegativeLinesAndReportsBadOnesThenGoesOn)
{
    const QString path = home.file("clients.txt");
    testsupport::WriteFile(path,
                           "1,0,0,\"a\",\"10.0.0.1\",\"\",\"\",0,#2024-01-31#,1,#2024-01-31#\r\n"
                           "-1,0,0,\"gone\",\"10.0.0.9\",\"\",\"\",0,,1,\r\n"
                           "2,0,0,\"b\",\"10.0.0.2\",\"\",\"\",zero,#2024-01-31#,1,#x#\r\n"
                           "3,0,0,only,six,fields\r\n"
                           "\r\n"
                           "4,0,0,c,10.0.0.4,,,2.5,,2,\r\n");
    ASSERT_TRUE(list.Read_in_file(path, 0));
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Item(1)->sKey, "10.0.0.1");
    EXPECT_EQ(list.Item(2)->sIPname, "c"); // unquoted fields are read too
    EXPECT_FLOAT_EQ(list.Item(2)->uLastSettingDiff, 2.5f);
    EXPECT_EQ(list.ActiveCount(), 1);
    const QString trace = debug.Text();
    EXPECT_EQ(trace.count("(Line  is empty)"), 2);
    EXPECT_TRUE(trace.contains("Bad line 3 in client file"));
    EXPECT_TRUE(trace.contains("Bad line 4 in client file"));
    EXPECT_TRUE(trace.contains("2-> ID:_4_ IPName:_c_ IPaddr:_10.0.0.4_ MACaddr:__ Notes:__ "
                               "Status:_2<-"));
    EXPECT_FALSE(list.Read_in_file(QString(), 0));
}

// The sync log's dates (two-digit year first) read as the history reader reads
// them, whatever order the locale gives its short dates (the date reading's own
// tests hold the locales).
TEST_F(ClientListTest, SyncLogUpdatesOnlyLaterSettingsOfListedClients)
{
    // Date, time at column 10, difference at 20, accuracy at 31, key at 48.
    QString log = QStringLiteral("header line\r\n\r\n");
    for (const char* line :
         {"24-01-30 10:00:00  -0.500", "24-01-31 13:05:00  1.250", "24-01-29 09:00:00  9.000"})
        log += QString::fromLatin1(line).leftJustified(30) + "0.001            pc-a\r\n";
    log += "24-01-31 13:05:00  3.000      0.001            pc-b\r\n"
           "24-01-31 13:05:00  4.000      0.001            pc-x\r\n";
    testsupport::WriteFile(home.file("logfile.txt"), log.toLatin1());
    // Day first: a date read by the locale would take "24-01-31" for 2031-01-24.
    const testsupport::ScopedDateLocale locale("en_GB");
    AddClient(1, "a", "10.0.0.1", 1, "pc-a");
    AddClient(2, "b", "10.0.0.2", 1, "pc-b")->dLastSettingDate = rt::MakeDate(2030, 1, 1);
    list.ReadInData(1, home.file("logfile.txt"));
    EXPECT_DOUBLE_EQ(list.Item(1)->dLastSettingDate, rt::MakeDate(2024, 1, 31, 13, 5));
    EXPECT_FLOAT_EQ(list.Item(1)->uLastSettingDiff, 1.25f);
    EXPECT_DOUBLE_EQ(list.Item(2)->dLastSettingDate, rt::MakeDate(2030, 1, 1));
    EXPECT_FLOAT_EQ(list.Item(2)->uLastSettingDiff, 0.0f);
}

} // namespace

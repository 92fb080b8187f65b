// The sync history read back from the sync log, and the time-server list.
#include "RecordsFixture.h"
#include "logging/SyncLog.h"
#include "schedule/CSync.h"
#include "schedule/colHistSettings.h"
#include "schedule/colTS.h"

#include <QFile>

#include <gtest/gtest.h>

using recordstest::RecordsFixture;
using schedule::colHistSettings;
using schedule::colTS;
using schedule::cTS;

namespace
{

const rt::Date kFirst = rt::MakeDate(2026, 3, 10, 8, 0, 0);

class History : public RecordsFixture
{
protected:
    // Writes settings to a sync log the way the agent does; the difference of
    // setting i comes from diffs[i], its server from servers[i % size].
    QString WriteLog(const std::vector<qint32>& diffs, const QStringList& servers = {"ntp.a"})
    {
        const QString path = home.file("logfile.txt");
        for (std::size_t i = 0; i < diffs.size(); ++i) {
            At(kFirst + double(i) / 24.0);
            schedule::CSync sync;
            sync.setSyncLocalTime(kFirst + double(i) / 24.0);
            sync.setSyncDifferenceSec(diffs[i]);
            sync.setSyncAccuracy(1.5f);
            logging::WriteSyncLog(sync, servers[qsizetype(i) % servers.size()], path,
                                  settings::LoggingMode::TextFile);
        }
        return path;
    }
    colHistSettings& history = schedule::HistSettings();
};

TEST_F(History, ReadsBackWhatTheSyncLogWrote)
{
    schedule::CSync sync;
    sync.setSyncLocalTime(rt::MakeDate(2026, 3, 10, 14, 5, 9));
    sync.setSyncDifferenceSec(2);
    sync.setSyncSecFrac(0.25f);
    sync.setSyncUseFrac(true);
    sync.setSyncAccuracy(-3.25f);
    sync.setSyncStatus(5);
    const QString path = home.file("logfile.txt");
    logging::WriteSyncLog(sync, "time.example", path, settings::LoggingMode::TextFile);

    options().setSyncDataPoints(10);
    history.ReadInFile(3, path, "<all>");
    ASSERT_EQ(history.Count(), 1);
    const schedule::CHistSetting& entry = *history.Item(1);
    EXPECT_EQ(entry.SetDate(), rt::MakeDate(2026, 3, 10));
    EXPECT_DOUBLE_EQ(entry.SetTime(), rt::MakeDate(1899, 12, 30, 14, 5, 9));
    EXPECT_EQ(entry.SetDiff(), 2.0f) << "2.25 rounds to whole seconds";
    EXPECT_FLOAT_EQ(entry.SetAccuracy(), -3.3f) << "written with one decimal";
    EXPECT_EQ(entry.SetStatus(), 5);
    EXPECT_EQ(entry.SetServer(), "time.example");
}

// Of 25 settings from two servers (every fifth without a difference) the 10
// newest non-zero are kept with the zeros among them, of all or of one server;
// a missing file empties the history.
TEST_F(History, KeepsTheNewestNonZeroPointsOfTheChosenServer)
{
    std::vector<qint32> diffs;
    for (int i = 1; i <= 25; ++i)
        diffs.push_back(i % 5 == 0 ? 0 : i);
    const QString path = WriteLog(diffs, {"ntp.a", "ntp.b"});
    options().setSyncDataPoints(10);
    const auto kept = [&](const char* server) {
        history.ReadInFile(3, path, server);
        QList<float> values;
        for (qint32 i = 1; i <= history.Count(); ++i)
            values.append(history.Item(i)->SetDiff());
        return values;
    };
    EXPECT_EQ(kept("<all>"), QList<float>({13, 14, 0, 16, 17, 18, 19, 0, 21, 22, 23, 24, 0}));
    EXPECT_EQ(history.CountNonZero(), 10);
    EXPECT_EQ(kept("ntp.b"), QList<float>({2, 4, 6, 8, 0, 12, 14, 16, 18, 0, 22, 24}));

    history.ReadInFile(3, home.file("absent.txt"), "<all>");
    EXPECT_EQ(history.Count(), 0);
}

TEST(HistoryTrim, StopsWhenEitherCountReachesTheMaximum)
{
    struct Case {
        const char* what;
        std::vector<float> diffs;
        qint16 max;
        std::vector<float> kept;
    };
    const Case cases[] = {
        {"oldest non-zero go first", {1, 2, 3, 4}, 2, {3, 4}},
        {"a zero before a trimmed entry goes too", {0, 1, 2, 3}, 2, {2, 3}},
        {"few enough: nothing goes", {0, 1, 0, 2}, 2, {0, 1, 0, 2}},
        {"a zero behind the last trimmed entry stays", {1, 0, 2, 3}, 2, {0, 2, 3}},
        {"max 0 empties while non-zero remain", {1, 0}, 0, {0}},
    };
    for (const Case& c : cases) {
        colHistSettings col;
        for (float d : c.diffs) {
            schedule::CHistSetting s;
            s.setSetDiff(d);
            col.AddSetting(s);
        }
        col.EmptyData(c.max);
        std::vector<float> kept;
        for (qint32 i = 1; i <= col.Count(); ++i)
            kept.push_back(col.Item(i)->SetDiff());
        EXPECT_EQ(kept, c.kept) << c.what;
    }
}

colTS List(const QStringList& servers)
{
    colTS list;
    for (const QString& s : servers)
        list.Add(s, "loc " + s, "sntp");
    return list;
}

TEST(TimeServers, NextServerGoesRoundTheCircle)
{
    struct Case {
        QStringList list;
        QString current;
        QString next;
    };
    const Case cases[] = {
        {{"A", "B", "C"}, "A", "B"}, {{"A", "B", "C"}, "C", "A"},
        {{"A", "B", "C"}, "Z", "A"}, {{"A", "B", "C"}, "a", "A"}, // exact match only
        {{"A"}, "A", "A"},
    };
    for (const Case& c : cases) {
        cTS next;
        EXPECT_TRUE(List(c.list).GetNextServer(c.current, next));
        EXPECT_EQ(next.sServer(), c.next) << qPrintable(c.current);
        EXPECT_EQ(next.sLocation(), "loc " + c.next);
    }
    cTS untouched;
    untouched.setsServer("keep");
    EXPECT_FALSE(colTS().GetNextServer("A", untouched));
    EXPECT_EQ(untouched.sServer(), "keep");
}

TEST(TimeServers, ReadsQuotedAndPlainRecordsAndSkipsEmptyOnes)
{
    testsupport::ScopedHome home;
    const QString path = home.file("TScircle.txt");
    testsupport::WriteFile(path, "\"ntp1.example\",\"Basement, rack 2\",\"SNTP\"\r\n"
                                 ",\"only a location\",\r\n"
                                 "ntp2.example , roof , DAYTIME\r\n");
    colTS list;
    list.Add("old", "", "x");
    ASSERT_TRUE(list.Read_in_file(path));
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Item(1)->sLocation(), "Basement, rack 2");
    EXPECT_EQ(list.Item(2)->sServer(), "ntp2.example");
    EXPECT_EQ(list.Item(2)->sProtocol(), "DAYTIME");
    EXPECT_EQ(list.Item(3), nullptr);
    EXPECT_EQ(list.sSrvrFilename(), path);
    EXPECT_FALSE(list.Read_in_file(""));
    EXPECT_EQ(list.Count(), 2) << "an empty path changes nothing";
}

TEST(TimeServers, SaveNeedsConsentToCreateAFile)
{
    testsupport::ScopedHome home;
    const QString path = home.file("TScircle.txt");
    colTS list = List({"A", "B"});
    list.Add("C", "rack \"2\"", "sntp");
    list.setsSrvrFilename(path);
    list.setChanged(true);

    list.SavetoDisk(); // nobody to ask
    EXPECT_FALSE(QFile::exists(path));
    list.setCreateFileQuestion([](const QString&, const QString&) { return colTS::Answer::No; });
    list.SavetoDisk();
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_TRUE(list.Changed());

    QString asked;
    list.setCreateFileQuestion([&](const QString& text, const QString& title) {
        asked = title + "|" + text;
        return colTS::Answer::Yes;
    });
    list.SavetoDisk();
    EXPECT_EQ(asked, "Save File|The file, " + path +
                         " does not currently exist.\r\nDo you want to create this file?");
    EXPECT_EQ(testsupport::ReadFile(path),
              "\"A\",\"loc A\",\"sntp\"\r\n\"B\",\"loc B\",\"sntp\"\r\n"
              "\"C\",\"rack \"\"2\"\"\",\"sntp\"\r\n");
    EXPECT_FALSE(list.Changed());
    colTS back;
    ASSERT_TRUE(back.Read_in_file(path));
    ASSERT_EQ(back.Count(), 3);
    EXPECT_EQ(back.Item(3)->sLocation(), "rack \"2\"");
    EXPECT_EQ(back.Item(3)->sProtocol(), "sntp");
}

} // namespace

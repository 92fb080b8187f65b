// The sync history read back from the sync log, and the time-server list.
#include "RecordsFixture.h"
#include "logging/SyncLog.h"
#include "schedule/CSync.h"
#include "schedule/colHistSettings.h"
#include "schedule/colTS.h"

#include <QFile>

#include <gtest/gtest.h>

using schedule::colHistSettings;
using schedule::colTS;
using schedule::cTS;

namespace
{

const rt::Date kFirst = rt::MakeDate(2026, 3, 10, 8, 0, 0);

// The differences the history holds, oldest first.
std::vector<float> Diffs(colHistSettings& history)
{
    std::vector<float> values;
    for (qint32 i = 1; i <= history.Count(); ++i)
        values.push_back(history.Item(i)->SetDiff());
    return values;
}

using History = recordstest::RecordsFixture;

// Of 25 settings from two servers (every fifth without a difference) the 10
// newest non-zero are kept with the zeros among them, of all or of one server;
// each entry reads back what the sync log wrote of it; a missing file empties
// the history.
TEST_F(History, KeepsTheNewestNonZeroPointsOfTheChosenServer)
{
    colHistSettings& history = schedule::HistSettings();
    const QString path = home.file("logfile.txt");
    for (int i = 1; i <= 25; ++i) {
        const rt::Date when = kFirst + i / 24.0 + 5.0 / 1440 + 9.0 / 86400;
        At(when);
        schedule::CSync sync;
        sync.setSyncLocalTime(when);
        sync.setSyncDifferenceSec(i % 5 == 0 ? 0 : i);
        sync.setSyncSecFrac(0.25f);
        sync.setSyncUseFrac(true);
        sync.setSyncAccuracy(-3.25f);
        sync.setSyncStatus(qint16(i % 7));
        logging::WriteSyncLog(sync.LogEntry(), i % 2 ? "ntp.a" : "ntp.b", path,
                              settings::LoggingMode::TextFile);
    }
    options().setSyncDataPoints(10);
    history.ReadInFile(3, path, "<all>");
    EXPECT_EQ(Diffs(history), std::vector<float>({13, 14, 0, 16, 17, 18, 19, 0, 21, 22, 23, 24, 0}))
        << "x.25 rounds to whole seconds";
    EXPECT_EQ(history.CountNonZero(), 10);
    // The first kept, the 13th setting: 2026-03-10 21:05:09.
    const schedule::CHistSetting& entry = *history.Item(1);
    EXPECT_EQ(entry.SetDate(), rt::MakeDate(2026, 3, 10));
    EXPECT_DOUBLE_EQ(entry.SetTime(), rt::MakeDate(1899, 12, 30, 21, 5, 9));
    EXPECT_FLOAT_EQ(entry.SetAccuracy(), -3.3f) << "written with one decimal";
    EXPECT_EQ(entry.SetStatus(), 6);
    EXPECT_EQ(entry.SetServer(), "ntp.a");
    history.ReadInFile(3, path, "ntp.b");
    EXPECT_EQ(Diffs(history), std::vector<float>({2, 4, 6, 8, 0, 12, 14, 16, 18, 0, 22, 24}));

    history.ReadInFile(3, home.file("absent.txt"), "<all>");
    EXPECT_EQ(history.Count(), 0);
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
    // Of A, B, C: the current server and the next; the match is exact ("a" is not "A").
    const std::pair<QString, QString> cases[] = {{"A", "B"}, {"C", "A"}, {"Z", "A"}, {"a", "A"}};
    for (const auto& [current, expected] : cases) {
        cTS next;
        EXPECT_TRUE(List({"A", "B", "C"}).GetNextServer(current, next));
        EXPECT_EQ(next.sServer(), expected) << qPrintable(current);
        EXPECT_EQ(next.sLocation(), "loc " + expected);
    }
    cTS untouched;
    untouched.setsServer("keep");
    EXPECT_FALSE(colTS().GetNextServer("A", untouched));
    EXPECT_EQ(untouched.sServer(), "keep");
}

// Quoted and plain records are read and empty ones skipped; saving needs
// consent to create the file and doubles the quotes it writes.
TEST(TimeServers, FileRoundTrip)
{
    testsupport::ScopedHome home;
    const QString path = home.file("TScircle.txt");
    testsupport::WriteFile(path, "\"ntp1.example\",\"Basement, rack 2\",\"SNTP\"\r\n"
                                 ",\"only a location\",\r\n"
                                 "ntp2.example , roof , DAYTIME\r\n");
    colTS read;
    read.Add("old", "", "x");
    ASSERT_TRUE(read.Read_in_file(path));
    ASSERT_EQ(read.Count(), 2);
    EXPECT_EQ(read.Item(1)->sLocation(), "Basement, rack 2");
    EXPECT_EQ(read.Item(2)->sServer(), "ntp2.example");
    EXPECT_EQ(read.Item(2)->sProtocol(), "DAYTIME");
    EXPECT_EQ(read.sSrvrFilename(), path);
    EXPECT_FALSE(read.Read_in_file(""));
    EXPECT_EQ(read.Count(), 2) << "an empty path changes nothing";

    const QString saved = home.file("saved.txt");
    colTS list = List({"A", "B"});
    list.Add("C", "rack \"2\"", "sntp");
    list.setsSrvrFilename(saved);
    list.setChanged(true);
    list.SavetoDisk(); // nobody to ask
    list.setCreateFileQuestion([](const QString&, const QString&) { return colTS::Answer::No; });
    list.SavetoDisk();
    EXPECT_FALSE(QFile::exists(saved));
    EXPECT_TRUE(list.Changed());

    QString asked;
    list.setCreateFileQuestion([&](const QString& text, const QString& title) {
        asked = title + "|" + text;
        return colTS::Answer::Yes;
    });
    list.SavetoDisk();
    EXPECT_EQ(asked, "Save File|The file, " + saved +
                         " does not currently exist.\r\nDo you want to create this file?");
    EXPECT_EQ(testsupport::ReadFile(saved),
              "\"A\",\"loc A\",\"sntp\"\r\n\"B\",\"loc B\",\"sntp\"\r\n"
              "\"C\",\"rack \"\"2\"\"\",\"sntp\"\r\n");
    EXPECT_FALSE(list.Changed());
}

} // namespace

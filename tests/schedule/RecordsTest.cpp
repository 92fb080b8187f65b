// The sync record's drift and the automatic interval computed from it, the
// sync history read back from the sync log, and the time-server list.
#include "RecordsFixture.h"
#include "logging/SyncLog.h"
#include "platform/RegistryStore.h"
#include "schedule/CAutoSetting.h"
#include "schedule/CSync.h"
#include "schedule/colHistSettings.h"
#include "schedule/colTS.h"

#include <QFile>

#include <gtest/gtest.h>

#include <tuple>

using schedule::CAutoSetting;
using schedule::colHistSettings;
using schedule::colTS;
using schedule::CSync;
using schedule::cTS;

namespace
{

const rt::Date kMorning = rt::MakeDate(2026, 3, 10, 8, 0, 0);

CSync Record(rt::Date when, qint32 seconds, float accuracy = 0, float fraction = 0,
             bool useFraction = false)
{
    CSync sync;
    sync.setSyncLocalTime(when);
    sync.setSyncDifferenceSec(seconds);
    sync.setSyncAccuracy(accuracy);
    sync.setSyncSecFrac(fraction);
    sync.setSyncUseFrac(useFraction);
    return sync;
}

class SyncRecord : public recordstest::RecordsFixture
{
protected:
    QString Stored(const char* name)
    {
        return platform::GetSetting(settings::App().AppTitle, QStringLiteral("Options"),
                                    QString::fromLatin1(name), QStringLiteral("<none>"));
    }
    void Configure(qint16 desired, qint32 previousAccuracy, qint16 uncertainty,
                   rt::Date lastReading, qint32 maxThreshold)
    {
        options().setAutoDesiredAccuracy(desired);
        options().setAutoPrevAccuracy(previousAccuracy);
        options().setAutoUncertainty(uncertainty);
        options().setAutoPrevSyncTime(lastReading);
        options().setSetMaxThreshold(maxThreshold);
        options().setSetMinThreshold(77);
    }
};

// A setting's drift is its difference over the days since the previous one;
// every setting stores its time, a non-zero drift is stored truncated with the
// difference, and only a positive one is adopted for the automatic interval,
// rounded half to even. The rows share one store, so those without a drift
// come first.
TEST_F(SyncRecord, DriftIsComputedStoredAndAdopted)
{
    // The difference, its fraction and whether it is in use, the days since the previous
    // setting, whether that is the options' last setting; the drift, what is stored of it,
    // whether it is adopted and the accuracy after.
    using Row = std::tuple<const char*, qint32, float, bool, double, bool, float, const char*, bool,
                           qint32>;
    const Row cases[] = {
        // clang-format off
        {"no difference: no drift", 0, 0, false, 1.0, false, 0.0f, "<none>", false, 5},
        {"same moment: no division", 5, 0, false, 0.0, false, 0.0f, "<none>", false, 5},
        {"same moment as the stored last setting", 10, 0, false, 1.0, true, 0.0f, "<none>", false, 5},
        {"half a day, 1.75 s", 1, 0.75f, true, 0.5, false, 3.5f, "3", true, 4},
        {"fraction counts when in use", 2, 0.5f, true, 1.0, false, 2.5f, "2", true, 2},
        {"fraction ignored when not in use", 2, 0.5f, false, 1.0, false, 2.0f, "2", true, 2},
        {"a clock ahead is not adopted", -27, 0, false, 10.0, false, -2.7f, "-2", false, 5},
        // clang-format on
    };
    for (const auto& [what, seconds, fraction, useFraction, days, storedIsNow, accuracy, stored,
                      adopted, accuracyAfter] : cases) {
        SCOPED_TRACE(what);
        const rt::Date when = kMorning + days;
        options().setAutoPrevSyncTime(storedIsNow ? when : 0);
        CSync sync = Record(when, seconds, 99, fraction, useFraction);
        sync.Compare_Sync(Record(kMorning, 0));
        EXPECT_FLOAT_EQ(sync.SyncAccuracy(), accuracy);
        EXPECT_FALSE(sync.Save_Registry());
        EXPECT_EQ(options().LastSyncTime(), when);
        EXPECT_EQ(Stored("LastSyncTime"), rt::GeneralDate(when));
        EXPECT_EQ(Stored("AutoPrevAccuracy"), stored);
        EXPECT_EQ(Stored("AutoPrevDifference"),
                  accuracy != 0 ? QString::number(seconds) : "<none>");

        options().setAutoPrevAccuracy(5);
        options().setAutoPrevSyncTime(0);
        CAutoSetting autoSetting;
        EXPECT_EQ(autoSetting.Save_Auto_Settings(sync), adopted);
        EXPECT_EQ(options().AutoPrevAccuracy(), accuracyAfter);
        EXPECT_EQ(options().AutoPrevSyncTime(), adopted ? when : 0);
    }

    options().setAutoPrevSyncTime(kMorning);
    options().setAutoPrevDifference(-7);
    options().setAutoPrevAccuracy(3);
    CSync rebuilt;
    rebuilt.Init_Registry(options());
    EXPECT_EQ(rebuilt.SyncLocalTime(), kMorning);
    EXPECT_EQ(rebuilt.SyncDifferenceSec(), -7);
    EXPECT_EQ(rebuilt.SyncAccuracy(), 3.0f);
    EXPECT_EQ(rebuilt.SyncServer(), "(Registry values)");
}

TEST_F(SyncRecord, AutoIntervalFirstComputationAndLaterOverdueAttempts)
{
    using Row = std::tuple<const char*, qint16, qint32, qint16, double, qint32, qint32, qint16>;
    const Row cases[] = {
        // 1 / 2 x 50 / 100 = a quarter day: next at 14:00, now 09:00.
        {"worked example", 1, 2, 50, 1, 86400, 5 * 3600, 1},
        {"capped by half the maximum threshold", 1, 2, 50, 1, 7200, 3600, 1},
        {"no previous accuracy divides by 60", 60, 0, 100, 0, 864000, 86400, 1},
        // A reading far ahead with no cap to speak of does not fit 32 bits.
        {"overflow: the minimum threshold", 1, 1, 100, -720000, 2147483647, 77, 0},
    };
    for (const auto& [what, desired, previous, uncertainty, hoursSince, max, seconds, attempts] :
         cases) {
        At(kMorning + hoursSince / 24.0);
        Configure(desired, previous, uncertainty, kMorning, max);
        CAutoSetting autoSetting;
        EXPECT_EQ(autoSetting.Calc_Next_Sync(), seconds) << what;
        EXPECT_EQ(autoSetting.Attempts(), attempts) << what;
    }

    // Later overdue attempts back off until cleared or a drift is adopted.
    At(kMorning + 7.0 / 24);
    Configure(1, 2, 50, kMorning, 86400);
    CAutoSetting autoSetting;
    EXPECT_EQ(autoSetting.Calc_Next_Sync(), 0);
    EXPECT_EQ(autoSetting.Calc_Next_Sync(), 7 * 3600) << "the time since the last setting";
    options().setSetMaxThreshold(3600);
    EXPECT_EQ(autoSetting.Calc_Next_Sync(), 1800) << "still capped";

    autoSetting.ClearAutoAttemps();
    EXPECT_EQ(autoSetting.Calc_Next_Sync(), 0) << "a cleared counter starts over";
    EXPECT_EQ(autoSetting.Attempts(), 1);
    ASSERT_TRUE(autoSetting.Save_Auto_Settings(Record(kMorning + 7.0 / 24, 1, 1)));
    EXPECT_EQ(autoSetting.Attempts(), 0) << "and so does an adopted drift";
}

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
        const rt::Date when = kMorning + i / 24.0 + 5.0 / 1440 + 9.0 / 86400;
        At(when);
        CSync sync = Record(when, i % 5 == 0 ? 0 : i, -3.25f, 0.25f, true);
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

// Quoted and plain records are read and empty ones skipped; the list is a
// circle whose names match exactly; saving needs consent to create the file
// and doubles the quotes it writes.
TEST(TimeServers, FileRoundTripAndTheCircle)
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
    EXPECT_EQ(list.sSrvrFilename(), path);
    EXPECT_FALSE(list.Read_in_file(""));
    EXPECT_EQ(list.Count(), 2) << "an empty path changes nothing";

    // The current server and the index of the next.
    const std::pair<QString, qint32> cases[] = {
        {"ntp1.example", 2}, {"ntp2.example", 1}, {"other", 1}, {"NTP1.EXAMPLE", 1}};
    for (const auto& [current, expected] : cases) {
        cTS next;
        EXPECT_TRUE(list.GetNextServer(current, next));
        EXPECT_EQ(next.sServer(), list.Item(expected)->sServer()) << qPrintable(current);
        EXPECT_EQ(next.sLocation(), list.Item(expected)->sLocation()) << qPrintable(current);
    }
    cTS untouched;
    untouched.setsServer("keep");
    EXPECT_FALSE(colTS().GetNextServer("A", untouched));
    EXPECT_EQ(untouched.sServer(), "keep");

    const QString saved = home.file("saved.txt");
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
              "\"ntp1.example\",\"Basement, rack 2\",\"SNTP\"\r\n"
              "\"ntp2.example\",\"roof\",\"DAYTIME\"\r\n\"C\",\"rack \"\"2\"\"\",\"sntp\"\r\n");
    EXPECT_FALSE(list.Changed());
}

} // namespace

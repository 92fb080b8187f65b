// The sync record's drift and the automatic interval computed from it.
#include "RecordsFixture.h"
#include "platform/RegistryStore.h"
#include "schedule/CAutoSetting.h"
#include "schedule/CSync.h"

#include <gtest/gtest.h>

#include <tuple>

using schedule::CAutoSetting;
using schedule::CSync;

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

TEST_F(SyncRecord, DriftIsDifferenceOverElapsedDays)
{
    // The last column: the options' last setting is this moment.
    using Row = std::tuple<const char*, qint32, float, bool, double, float, bool>;
    const Row cases[] = {
        {"half a day, 2 s", 2, 0, false, 0.5, 4.0f, false},
        {"fraction counts when in use", 2, 0.5f, true, 1.0, 2.5f, false},
        {"fraction ignored when not in use", 2, 0.5f, false, 1.0, 2.0f, false},
        {"no difference: no drift", 0, 0, false, 1.0, 0.0f, false},
        {"same moment: no division", 5, 0, false, 0.0, 0.0f, false},
        {"same moment as the stored last setting", 10, 0, false, 1.0, 0.0f, true},
    };
    for (const auto& [what, seconds, fraction, useFraction, days, accuracy, storedIsNow] : cases) {
        options().setAutoPrevSyncTime(storedIsNow ? kMorning + days : 0);
        CSync sync = Record(kMorning + days, seconds, 99, fraction, useFraction);
        sync.Compare_Sync(Record(kMorning, 0));
        EXPECT_FLOAT_EQ(sync.SyncAccuracy(), accuracy) << what;
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

// Every setting stores its time; a non-zero drift is stored truncated, with
// the difference, and only a positive one is adopted for the automatic
// interval, rounded half to even. The rows share one store, so the one without
// a drift comes first.
TEST_F(SyncRecord, SavingTheDrift)
{
    const std::tuple<float, const char*, bool, qint32> cases[] = {{0.0f, "<none>", false, 5},
                                                                  {-2.7f, "-2", false, 5},
                                                                  {2.5f, "2", true, 2},
                                                                  {3.5f, "3", true, 4}};
    double day = 0;
    for (const auto& [accuracy, stored, adopted, accuracyAfter] : cases) {
        SCOPED_TRACE(accuracy);
        const rt::Date when = kMorning + day++;
        CSync sync = Record(when, -4, accuracy);
        EXPECT_FALSE(sync.Save_Registry());
        EXPECT_EQ(options().LastSyncTime(), when);
        EXPECT_EQ(Stored("LastSyncTime"), rt::GeneralDate(when));
        EXPECT_EQ(Stored("AutoPrevAccuracy"), stored);
        EXPECT_EQ(Stored("AutoPrevDifference"), accuracy != 0 ? "-4" : "<none>");

        options().setAutoPrevAccuracy(5);
        options().setAutoPrevSyncTime(0);
        CAutoSetting autoSetting;
        EXPECT_EQ(autoSetting.Save_Auto_Settings(sync), adopted);
        EXPECT_EQ(options().AutoPrevAccuracy(), accuracyAfter);
        EXPECT_EQ(options().AutoPrevSyncTime(), adopted ? when : 0);
    }
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

} // namespace

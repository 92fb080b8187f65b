// The sync record's drift and the automatic interval computed from it.
#include "RecordsFixture.h"
#include "platform/RegistryStore.h"
#include "schedule/CAutoSetting.h"
#include "schedule/CSync.h"

#include <gtest/gtest.h>

using recordstest::RecordsFixture;
using schedule::CAutoSetting;
using schedule::CSync;

namespace
{

const rt::Date kMorning = rt::MakeDate(2026, 3, 10, 8, 0, 0);

CSync Record(rt::Date when, qint32 seconds, float fraction = 0, bool useFraction = false)
{
    CSync sync;
    sync.setSyncLocalTime(when);
    sync.setSyncDifferenceSec(seconds);
    sync.setSyncSecFrac(fraction);
    sync.setSyncUseFrac(useFraction);
    return sync;
}

QString Stored(const char* name)
{
    return platform::GetSetting(settings::App().AppTitle, QStringLiteral("Options"),
                                QString::fromLatin1(name), QStringLiteral("<none>"));
}

class SyncRecord : public RecordsFixture
{
};

TEST_F(SyncRecord, DriftIsDifferenceOverElapsedDays)
{
    struct Case {
        const char* what;
        qint32 seconds;
        float fraction;
        bool useFraction;
        double elapsedDays;
        float accuracy;
        bool storedPreviousIsNow = false; // the options' last setting is this moment
    };
    const Case cases[] = {
        {"one day, 2 s", 2, 0, false, 1.0, 2.0f},
        {"half a day, 2 s", 2, 0, false, 0.5, 4.0f},
        {"clock ahead: negative drift", -3, 0, false, 1.0, -3.0f},
        {"fraction counts when in use", 2, 0.5f, true, 1.0, 2.5f},
        {"fraction ignored when not in use", 2, 0.5f, false, 1.0, 2.0f},
        {"no difference: no drift", 0, 0, false, 1.0, 0.0f},
        {"same moment: no division", 5, 0, false, 0.0, 0.0f},
        {"same moment as the stored last setting", 10, 0, false, 1.0, 0.0f, true},
    };
    for (const Case& c : cases) {
        options().setAutoPrevSyncTime(c.storedPreviousIsNow ? kMorning + c.elapsedDays : 0);
        const CSync previous = Record(kMorning, 0);
        CSync sync = Record(kMorning + c.elapsedDays, c.seconds, c.fraction, c.useFraction);
        sync.setSyncAccuracy(99);
        sync.Compare_Sync(previous);
        EXPECT_FLOAT_EQ(sync.SyncAccuracy(), c.accuracy) << c.what;
    }
}

TEST_F(SyncRecord, InitRegistryRebuildsTheLastSetting)
{
    options().setAutoPrevSyncTime(kMorning);
    options().setAutoPrevDifference(-7);
    options().setAutoPrevAccuracy(3);
    CSync sync;
    sync.Init_Registry(options());
    EXPECT_EQ(sync.SyncLocalTime(), kMorning);
    EXPECT_EQ(sync.SyncDifferenceSec(), -7);
    EXPECT_EQ(sync.SyncAccuracy(), 3.0f);
    EXPECT_EQ(sync.SyncServer(), "(Registry values)");
}

// Every setting stores its time; a non-zero drift is stored truncated, with
// the difference, and only a positive one is adopted for the automatic
// interval, rounded half to even. The rows share one store, so the one without
// a drift comes first.
TEST_F(SyncRecord, SavingTheDrift)
{
    const struct {
        float accuracy;
        const char* stored;
        bool adopted;
        qint32 accuracyAfter;
    } cases[] = {{0.0f, "<none>", false, 5},
                 {-2.7f, "-2", false, 5},
                 {2.5f, "2", true, 2},
                 {3.5f, "3", true, 4}};
    double day = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.accuracy);
        const rt::Date when = kMorning + day++;
        CSync sync = Record(when, -4);
        sync.setSyncAccuracy(c.accuracy);
        EXPECT_FALSE(sync.Save_Registry());
        EXPECT_EQ(options().LastSyncTime(), when);
        EXPECT_EQ(Stored("LastSyncTime"), rt::GeneralDate(when));
        EXPECT_EQ(Stored("AutoPrevAccuracy"), c.stored);
        if (c.accuracy != 0) {
            EXPECT_EQ(Stored("AutoPrevDifference"), "-4");
        }

        options().setAutoPrevAccuracy(5);
        options().setAutoPrevSyncTime(0);
        CAutoSetting autoSetting;
        EXPECT_EQ(autoSetting.Save_Auto_Settings(sync), c.adopted);
        EXPECT_EQ(options().AutoPrevAccuracy(), c.accuracyAfter);
        EXPECT_EQ(options().AutoPrevSyncTime(), c.adopted ? when : 0);
    }
}

class AutoInterval : public RecordsFixture
{
protected:
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

TEST_F(AutoInterval, FirstComputation)
{
    struct Case {
        const char* what;
        qint16 desired;
        qint32 previousAccuracy;
        qint16 uncertainty;
        double hoursSinceReading;
        qint32 maxThreshold;
        qint32 seconds;
    };
    const Case cases[] = {
        // 1 / 2 x 50 / 100 = a quarter day: next at 14:00, now 09:00.
        {"worked example", 1, 2, 50, 1, 86400, 5 * 3600},
        {"capped by half the maximum threshold", 1, 2, 50, 1, 7200, 3600},
        {"no previous accuracy divides by 60", 60, 0, 100, 0, 864000, 86400},
        {"overdue: at once", 1, 2, 50, 7, 86400, 0},
    };
    for (const Case& c : cases) {
        At(kMorning + c.hoursSinceReading / 24.0);
        Configure(c.desired, c.previousAccuracy, c.uncertainty, kMorning, c.maxThreshold);
        CAutoSetting autoSetting;
        EXPECT_EQ(autoSetting.Calc_Next_Sync(), c.seconds) << c.what;
        EXPECT_EQ(autoSetting.Attempts(), 1) << c.what;
    }
}

TEST_F(AutoInterval, LaterOverdueAttemptsBackOffUntilClearedOrADriftIsAdopted)
{
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
    CSync sync = Record(kMorning + 7.0 / 24, 1);
    sync.setSyncAccuracy(1);
    ASSERT_TRUE(autoSetting.Save_Auto_Settings(sync));
    EXPECT_EQ(autoSetting.Attempts(), 0) << "and so does an adopted drift";
}

TEST_F(AutoInterval, OverflowReturnsTheMinimumThreshold)
{
    // A reading far in the future with no cap to speak of does not fit 32 bits.
    Configure(1, 1, 100, kMorning + 100000, 2147483647);
    CAutoSetting autoSetting;
    EXPECT_EQ(autoSetting.Calc_Next_Sync(), 77);
}

} // namespace

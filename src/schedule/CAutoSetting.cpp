#include "schedule/CAutoSetting.h"

#include "logging/DebugLog.h"
#include "runtime/Numbers.h"
#include "runtime/TextFormat.h"
#include "schedule/CSync.h"
#include "settings/AppState.h"
#include "settings/COptions.h"

namespace schedule
{

namespace
{

const QString kStampFormat = QStringLiteral("mm-dd hh:nn:ss");

} // namespace

void CAutoSetting::ClearAutoAttemps()
{
    NCL_TRACE(QStringLiteral("Clear Auto Attempts"));
    m_attempts = 0;
}

bool CAutoSetting::Save_Auto_Settings(const CSync& thisSync)
{
    if (thisSync.SyncAccuracy() <= 0) {
        NCL_TRACE(QStringLiteral("Save Auto Settings: no change in accuracy, skipping this value"));
        return false;
    }
    settings::COptions& options = settings::Options();
    options.setAutoPrevSyncTime(thisSync.SyncLocalTime());
    qint32 accuracy = 0;
    if (rt::ToInt32(thisSync.SyncAccuracy(), accuracy))
        options.setAutoPrevAccuracy(accuracy);
    m_attempts = 0;
    return true;
}

qint32 CAutoSetting::Calc_Next_Sync()
{
    double seconds = 0;
    qint32 whole = 0;
    if (!NextSyncSeconds(seconds) || !rt::ToInt32(seconds, whole)) {
        NCL_TRACE(QStringLiteral("Calc_Next_Sync error 6, desc: Overflow"));
        return settings::Options().SetMinThreshold();
    }
    if (m_attempts < 32767)
        ++m_attempts;
    if (logging::DebugOn)
        logging::WriteDebug(QStringLiteral("Time remaining till next Auto reading: ") +
                            QString::number(whole) + QStringLiteral(" seconds, ") +
                            rt::FormatNumber(whole / 3600.0, QStringLiteral("0.00")) +
                            QStringLiteral(" hours"));
    return whole;
}

// The delay in seconds, before the conversion to a whole number; false when
// the arithmetic does not give a finite value.
bool CAutoSetting::NextSyncSeconds(double& seconds)
{
    const settings::COptions& options = settings::Options();
    const bool trace = logging::DebugOn;
    if (trace) {
        logging::WriteDebug(QStringLiteral("CALC_NEXT_SYNC   Auto computation: "));
        logging::WriteDebug(QStringLiteral("Desired accuracy: ") +
                            rt::FormatNumber(options.AutoDesiredAccuracy(), QStringLiteral("0")) +
                            QStringLiteral(" sec/day"));
        logging::WriteDebug(
            QStringLiteral("Previous accuracy: ") +
            rt::FormatNumber(options.AutoPrevAccuracy(), QStringLiteral("0")) +
            QStringLiteral(" sec/day,  ") +
            rt::FormatNumber(options.AutoPrevAccuracy() / 3600.0, QStringLiteral("0.00")) +
            QStringLiteral(" hours/day"));
    }
    const double divisor = options.AutoPrevAccuracy() >= 1 ? options.AutoPrevAccuracy() : 60.0;
    const rt::Date previous = options.AutoPrevSyncTime();
    if (trace)
        logging::WriteDebug(QStringLiteral("Date/time  of this last reading: ") +
                            rt::FormatDate(previous, kStampFormat));

    const double interval =
        double(options.AutoDesiredAccuracy()) / divisor * options.AutoUncertainty() / 100.0;
    if (trace)
        logging::WriteDebug(QStringLiteral("Derived Auto interval between  readings: ") +
                            rt::FormatDate(interval, QStringLiteral("hh:nn:ss")));
    const rt::Date next = previous + interval;
    if (trace)
        logging::WriteDebug(QStringLiteral("Date/time  of next Auto reading: ") +
                            rt::FormatDate(next, kStampFormat));

    const rt::Date now = rt::Now();
    float delay = 0;
    if (m_attempts > 0 && next < now) {
        NCL_TRACE(QStringLiteral("This is Auto attempt number ") + QString::number(m_attempts) +
                  QStringLiteral(" ....setting next Auto time to interval ellapsed since last "
                                 "setting."));
        // Each failed attempt waits as long again as has passed since the last good setting.
        delay = float(now - previous);
    } else if (next < now) {
        NCL_TRACE(QStringLiteral("Next Auto reading is in the past...doing immediately.."));
    } else {
        NCL_TRACE(QStringLiteral("Next Auto reading is in the future..."));
        delay = float(next - now);
    }
    // Whole seconds in 32 bits, as the delay is kept; more is an overflow.
    qint32 whole = 0;
    if (!rt::ToInt32(double(delay) * 86400.0, whole))
        return false;
    seconds = whole;
    // The cap is half the maximum threshold.
    const double cap = options.SetMaxThreshold() / 2.0;
    if (cap < seconds) {
        NCL_TRACE(QStringLiteral("Exceeds max threshold /2 , reset to max"));
        seconds = rt::RoundHalfEven(cap);
    }
    return true;
}

} // namespace schedule

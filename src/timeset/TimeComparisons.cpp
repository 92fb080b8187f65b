// The comparisons of the engine: server time against the local clock, with
// the result code that decides whether the clock is set.
#include "timeset/CNISTtimeset.h"

#include "logging/DebugLog.h"
#include "runtime/DateText.h"
#include "runtime/Numbers.h"
#include "runtime/TextFormat.h"
#include "settings/OptionValues.h"
#include "timeset/SyncStatus.h"
#include "timeset/TimeConversions.h"

#include <cmath>

namespace timeset
{

namespace
{

constexpr double kSecondsPerDay = 86400.0;
constexpr double kMsPerDay = 86400000.0;
constexpr double kMinutesPerDay = 1440.0;
// Local and corrected times with different dates count as one day apart
// beyond this; nearer, they straddle midnight and the date is set as well.
constexpr double kDateRangeDays = 0.997;

QString ClockStamp(rt::Date value, const char* pattern)
{
    return rt::FormatDate(value, QLatin1String(pattern));
}

// The clock's local time in whole seconds and the fraction of its second,
// from one reading so the two belong together.
void LocalNow(rt::Date& whole, float& fraction, platform::SystemTime& utcRecord)
{
    const qint64 utcMs = platform::Clock().NowUtcMs();
    const platform::SystemTime local = platform::SystemClock::LocalRecordAt(utcMs);
    utcRecord = platform::SystemClock::UtcRecordAt(utcMs);
    whole = rt::MakeDate(local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute,
                         local.wSecond);
    fraction = digits_to_fraction(local.wMilliseconds);
    NCL_TRACE(QStringLiteral("Fractional second: ") +
              rt::FormatNumber(fraction, QStringLiteral(".###")));
}

rt::Date LocalNowWhole()
{
    float ignored = 0;
    platform::SystemTime record;
    rt::Date whole = 0;
    LocalNow(whole, ignored, record);
    return whole;
}

// The local clock is behind when the corrected time is later; within half a
// millisecond the two are the same instant (the values carry rounding noise).
bool IsLater(rt::Date a, rt::Date b)
{
    return (a - b) * kMsPerDay > 0.5;
}

bool SameInstant(rt::Date a, rt::Date b)
{
    return std::fabs(a - b) * kMsPerDay <= 0.5;
}

qint32 MsWithinHour(const platform::SystemTime& record)
{
    return record.wMinute * 60000 + record.wSecond * 1000 + record.wMilliseconds;
}

bool SameHour(const platform::SystemTime& a, const platform::SystemTime& b)
{
    return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay && a.wHour == b.wHour;
}

qint16 BadConversion()
{
    NCL_TRACE(QStringLiteral("Bad Date Conversion"));
    return StatusConversionError;
}

} // namespace

bool CNISTtimeset::DaylightOnBySystem() const
{
    const bool on = m_SystemDSTrtn == 2;
    NCL_TRACE(on ? QStringLiteral("System SAYS DST is ON")
                 : QStringLiteral("System SAYS DST is OFF"));
    return on;
}

qint16 CNISTtimeset::CheckDates(rt::Date local, rt::Date corrected)
{
    // The full year: dates a century apart are not the same date.
    if (ClockStamp(local, "yyyy-mm-dd") == ClockStamp(corrected, "yyyy-mm-dd")) {
        NCL_TRACE(QStringLiteral("3: Dates OK"));
        return StatusSettingMade;
    }
    if (std::fabs(local - corrected) > kDateRangeDays) {
        NCL_TRACE(QStringLiteral("Dates are different (Local/Corrected): ") +
                  rt::GeneralDate(local) + QStringLiteral(" / ") + rt::GeneralDate(corrected));
        m_NISTCorrDateTime = corrected;
        return StatusDatesChanged;
    }
    NCL_TRACE(QStringLiteral("Dates are different (Local/Corrected) BUT WITHIN RANGE: ") +
              rt::GeneralDate(local) + QStringLiteral(" / ") + rt::GeneralDate(corrected));
    m_SystemDateChange = true;
    return StatusSettingMade;
}

bool CNISTtimeset::WholeSecondDifference(bool behind, Difference& diff)
{
    const double d = behind ? diff.corrected - diff.local : diff.local - diff.corrected;
    qint32 seconds = 0;
    if (!std::isfinite(d) || !rt::ToInt32(d * kSecondsPerDay, seconds))
        return false;
    m_SettingDifferenceSec = behind ? seconds : -seconds;
    // The time-of-day part of the difference, to whole seconds.
    diff.timeOfDay = std::fmod(std::fabs(double(seconds)), kSecondsPerDay) / kSecondsPerDay;
    return true;
}

void CNISTtimeset::TraceLocalSettings(rt::Date local) const
{
    if (!logging::DebugOn)
        return;
    const QString which = m_options.msecTimeOffset != 0
                              ? QStringLiteral("Internal System settings with offset: ")
                              : QStringLiteral("Internal System settings: ");
    logging::WriteDebug(QStringLiteral("Local Date: ") + which + ClockStamp(local, "yy-mm-dd") +
                        QStringLiteral(" Time: ") + ClockStamp(local, "hh:nn:ss"));
}

void CNISTtimeset::TraceTimeDifferenceDays(double t) const
{
    NCL_TRACE(QStringLiteral("Time Difference: ") +
              rt::FormatNumber(t, QStringLiteral("0.000000")) + QStringLiteral(" days") +
              QStringLiteral(" (") + rt::FormatNumber(t * kSecondsPerDay, QStringLiteral("0.0")) +
              QStringLiteral(" seconds)"));
}

qint16 CNISTtimeset::NIST_compare_time()
{
    m_options = CurrentEngineOptions();
    m_NISTCorrDateTime = 0;
    // NIST sends a two-digit year.
    const QString date =
        m_NISTDate.startsWith(QLatin1String("20")) ? m_NISTDate : QStringLiteral("20") + m_NISTDate;
    rt::Date server = 0;
    if (!rt::TextToDate(date + QLatin1Char(' ') + m_NISTTime, server)) {
        NCL_TRACE(QStringLiteral(" Is not a date or time"));
        return StatusInvalidDate;
    }
    NCL_TRACE(QStringLiteral(" DateTime OK"));
    if (m_SystemTZbias == -1) {
        NCL_TRACE(QStringLiteral("No time zone"));
        return StatusTimeZoneError;
    }

    bool daylight = false;
    if (m_SystemDSTrtn == 2 || m_SystemDSTrtn == 1) {
        daylight = DaylightOnBySystem();
    } else {
        daylight = m_NISTDST == 50;
        NCL_TRACE(daylight ? QStringLiteral("NIST SAYS DST is ON")
                           : QStringLiteral("NIST SAYS DST is OFF"));
    }
    const int bias = m_SystemTZbias + (daylight ? m_SystemTZDSTbias : 0);
    Difference diff;
    diff.corrected = server - bias / kMinutesPerDay;
    NCL_TRACE(
        QStringLiteral("Corrected NIST Time: ") + ClockStamp(diff.corrected, "mm/dd/yy hh:nn:ss") +
        (m_NISTSecFrac > 0 ? rt::FormatNumber(m_NISTSecFrac, QStringLiteral(".000")) : QString()));

    float localFraction = 0;
    platform::SystemTime utcRecord;
    LocalNow(diff.local, localFraction, utcRecord);
    NCL_TRACE(QStringLiteral("       -Current system time: ") + RecordClockText(utcRecord));
    if (m_options.msecTimeOffset != 0)
        diff.local -= m_options.msecTimeOffset / kMsPerDay;
    NCL_TRACE(QStringLiteral("Internal Local Sys: ") + ClockStamp(diff.local, "mm-dd-yy hh:nn:ss"));

    if (CheckDates(diff.local, diff.corrected) == StatusDatesChanged)
        return StatusDatesChanged;
    const double maximum = m_options.SetMaxThreshold / kSecondsPerDay;
    const double minimum = m_options.SetMinThreshold / kMsPerDay;

    const bool behind = IsLater(diff.corrected, diff.local) ||
                        (SameInstant(diff.corrected, diff.local) && m_NISTSecFrac > localFraction);
    if (!WholeSecondDifference(behind, diff))
        return BadConversion();
    double t = diff.timeOfDay;
    if (m_NISTSecFrac > 0) {
        m_SettingDifferenceFrac =
            behind ? m_NISTSecFrac - localFraction : localFraction - m_NISTSecFrac;
        t += m_SettingDifferenceFrac / kSecondsPerDay;
        NCL_TRACE(QStringLiteral(" = time Difference:          ") +
                  rt::FormatNumber(t * kSecondsPerDay, QStringLiteral("0.000")) +
                  QStringLiteral(" seconds"));
    } else {
        TraceTimeDifferenceDays(t);
    }

    if (t > maximum) {
        NCL_TRACE(QStringLiteral(" 4: Timediff > allowable"));
        return StatusAboveMaximum;
    }
    if (!(t < minimum)) {
        NCL_TRACE(QStringLiteral("4,5: Time diff OK"));
        m_NISTCorrDateTime = diff.corrected;
        return StatusSettingMade;
    }
    NCL_TRACE(QStringLiteral(" 5: Timediff (") + rt::FormatNumber(t, QStringLiteral("0.0##")) +
              QStringLiteral(") < minimum (") + rt::FormatNumber(minimum, QStringLiteral("0.0##")) +
              QStringLiteral(")"));
    if (m_EntCmd == QLatin1String("F")) {
        m_NISTCorrDateTime = diff.corrected;
    } else if (std::abs(m_SettingDifferenceSec) == 1) {
        NCL_TRACE(QStringLiteral("Time difference is 1 sec - setting to 0"));
        m_SettingDifferenceSec = 0;
    }
    return StatusBelowMinimum;
}

qint16 CNISTtimeset::compare_time(const QString& dateTimeText)
{
    m_options = CurrentEngineOptions();
    m_NISTCorrDateTime = 0;
    rt::Date server = 0;
    if (!rt::TextToDate(dateTimeText, server)) {
        NCL_TRACE(QStringLiteral(" Is not a date or time"));
        return StatusInvalidDate;
    }
    NCL_TRACE(QStringLiteral(" DateTime OK"));

    Difference diff;
    if (m_options.ServerFormat == settings::ServerFormat::Daytime) {
        // Daytime and custom text carry the server's local time; the option
        // says how far that is from ours, in hours.
        qint16 offsetMinutes = 0;
        if (m_options.ServerTZDiff.isEmpty())
            NCL_TRACE(QStringLiteral("No time zone"));
        else if (!rt::ToInt16(rt::Val(m_options.ServerTZDiff) * 60.0, offsetMinutes))
            return BadConversion();
        diff.corrected = server - offsetMinutes / kMinutesPerDay;
        NCL_TRACE(QStringLiteral("Corrected Daytime Time: ") +
                  ClockStamp(diff.corrected, "mm/dd/yy hh:nn:ss"));
    } else {
        if (m_SystemTZbias == -1) {
            NCL_TRACE(QStringLiteral("No time zone"));
            return StatusTimeZoneError;
        }
        const int bias = m_SystemTZbias + (DaylightOnBySystem() ? m_SystemTZDSTbias : 0);
        diff.corrected = server - bias / kMinutesPerDay;
        NCL_TRACE(QStringLiteral("Corrected TZ Time: ") +
                  ClockStamp(diff.corrected, "mm/dd/yy hh:nn:ss"));
    }

    diff.local = LocalNowWhole();
    if (m_options.msecTimeOffset != 0)
        diff.local -= m_options.msecTimeOffset / kMsPerDay;
    TraceLocalSettings(diff.local);

    if (CheckDates(diff.local, diff.corrected) == StatusDatesChanged)
        return StatusDatesChanged;
    const double maximum = m_options.SetMaxThreshold / kSecondsPerDay;
    const double minimum = m_options.SetMinThreshold / kMsPerDay;

    if (!WholeSecondDifference(IsLater(diff.corrected, diff.local), diff))
        return BadConversion();
    const double t = diff.timeOfDay;
    TraceTimeDifferenceDays(t);
    if (logging::DebugOn && std::abs(m_SettingDifferenceSec) < m_options.SetMinThresholdDrift)
        logging::WriteDebug(QStringLiteral("Difference is < ") +
                            QString::number(m_options.SetMinThresholdDrift) +
                            QStringLiteral(" seconds, ignore accuracy"));

    if (t > maximum) {
        NCL_TRACE(QStringLiteral(" 4: Timediff > allowable"));
        return StatusAboveMaximum;
    }
    if (!(t < minimum)) {
        NCL_TRACE(QStringLiteral("4,5: Time diff OK"));
        m_NISTCorrDateTime = diff.corrected;
        return StatusSettingMade;
    }
    NCL_TRACE(QStringLiteral(" 5: Timediff < minimum"));
    if (std::abs(m_SettingDifferenceSec) == 1) {
        NCL_TRACE(QStringLiteral("Time difference is 1 sec - setting to 0"));
        m_SettingDifferenceSec = 0;
    }
    return StatusBelowMinimum;
}

qint16 CNISTtimeset::SNTP_compare_time(const QString& dateText, rt::Date& arrival,
                                       const platform::SystemTime& arrivalRecord)
{
    m_options = CurrentEngineOptions();
    m_NISTCorrDateTime = 0;
    rt::Date server = 0;
    if (!rt::TextToDate(dateText, server)) {
        NCL_TRACE(QStringLiteral(" Is not a date or time"));
        return StatusInvalidDate;
    }
    NCL_TRACE(QStringLiteral(" DateTime OK"));
    if (m_SystemTZbias == -1) {
        NCL_TRACE(QStringLiteral("No time zone"));
        return StatusTimeZoneError;
    }
    const int bias = m_SystemTZbias + (DaylightOnBySystem() ? m_SystemTZDSTbias : 0);
    Difference diff;
    diff.corrected = server - bias / kMinutesPerDay;
    NCL_TRACE(QStringLiteral("Corrected TZ Time: ") +
              ClockStamp(diff.corrected, "mm/dd/yy hh:nn:ss"));

    if (m_options.msecTimeOffset != 0)
        arrival -= m_options.msecTimeOffset / kMsPerDay;
    diff.local = arrival;
    TraceLocalSettings(diff.local);

    if (CheckDates(diff.local, diff.corrected) == StatusDatesChanged)
        return StatusDatesChanged;
    const double maximum = m_options.SetMaxThreshold / kSecondsPerDay;
    const double minimum = m_options.SetMinThreshold / kMsPerDay;

    // Within one hour the two UTC records give the difference to the millisecond.
    const platform::SystemTime serverRecord = date_to_system_time(server, m_NISTSecFrac);
    double t = 0;
    if (SameHour(serverRecord, arrivalRecord)) {
        const qint32 m = MsWithinHour(serverRecord) - MsWithinHour(arrivalRecord);
        m_SettingDifferenceSec = m / 1000; // truncates toward zero: carries the sign of m
        m_SettingDifferenceFrac = float(m / 1000.0 - m_SettingDifferenceSec);
        t = std::abs(m) / kMsPerDay;
        NCL_TRACE(QStringLiteral(" = time Difference:          ") +
                  rt::FormatNumber(t * kSecondsPerDay, QStringLiteral("0.000")) +
                  QStringLiteral(" seconds"));
    } else {
        if (!WholeSecondDifference(IsLater(diff.corrected, diff.local), diff))
            return BadConversion();
        m_SettingDifferenceFrac = 0;
        t = diff.timeOfDay;
        TraceTimeDifferenceDays(t);
    }

    if (t > maximum) {
        NCL_TRACE(QStringLiteral(" 4: Timediff > allowable"));
        return StatusAboveMaximum;
    }
    if (t < minimum) {
        NCL_TRACE(QStringLiteral(" 5: Timediff < minimum of ") +
                  rt::FormatNumber(m_options.SetMinThreshold, QStringLiteral("#")) +
                  QStringLiteral(" msec "));
        return StatusBelowMinimum;
    }
    NCL_TRACE(QStringLiteral("4,5: Time diff OK"));
    m_NISTCorrDateTime = diff.corrected;
    return StatusSettingMade;
}

} // namespace timeset

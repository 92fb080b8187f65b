// The engine's hands: reading the time zone and writing the clock.
#include "timeset/CNISTtimeset.h"

#include "logging/DebugLog.h"
#include "platform/TimeZoneInfo.h"
#include "runtime/CurrentError.h"
#include "runtime/DateText.h"
#include "runtime/TextFormat.h"
#include "timeset/ShortDateFormat.h"
#include "timeset/TimeConversions.h"

#include <cerrno>
#include <cmath>

namespace timeset
{

namespace
{

constexpr double kSecondsPerDay = 86400.0;
constexpr double kMsPerDay = 86400000.0;
// The fraction arrives as a 32-bit float: 0.7 is 0.69999999, which must still
// give 700 ms, so a thousandth of a millisecond is allowed before truncating.
constexpr double kFloatAllowanceMs = 0.001;

QString StampedNow()
{
    return rt::FormatDate(rt::Now(), QStringLiteral("mm-dd hh:nn:ss  "));
}

} // namespace

void CNISTtimeset::System_get_timezone()
{
    platform::TimeZoneInformation info;
    const qint32 state = platform::GetTimeZoneInformation(info);
    m_SystemDSTrtn = state;
    NCL_TRACE(QStringLiteral("   Daylight savings time is currently ") + QString::number(state) +
              QStringLiteral(" (1 is OFF, 2 is ON)"));
    m_SystemTZbias = state == platform::TIME_ZONE_ID_INVALID ? qint16(-1) : qint16(info.Bias);
    NCL_TRACE(QStringLiteral("Time zone Bias: ") + QString::number(m_SystemTZbias));
    m_SystemTZDSTbias = qint16(info.DaylightBias);
}

void CNISTtimeset::System_set_time(rt::Date& newTime)
{
    m_options = CurrentEngineOptions();
    int errorNumber = 0;
    bool ok = false;
    float fraction = 0;
    if (m_NISTLegTime <= 0 && m_NISTSecFrac <= 0) {
        ok = SetTimeOfDay(rt::FormatDate(newTime, QStringLiteral("hh:nn:ss")), errorNumber);
    } else {
        if (m_options.msecTimeOffset != 0)
            newTime += m_options.msecTimeOffset / kMsPerDay;
        fraction = m_NISTSecFrac + m_NISTLegTime;
        ok = SetLocalTimeAPI(newTime, fraction);
        errorNumber = m_lastPlatformError;
    }
    if (!ok) {
        RefuseSetting(errorNumber);
        logging::ReportError(
            logging::Error, QStringLiteral("Time setting error - check permissions"), errorNumber,
            QStringLiteral("CNISTTimeset API"), QStringLiteral("System_set_time"), 70);
        return;
    }
    NCL_TRACE(QStringLiteral("Corrected time: ") +
              rt::FormatDate(newTime + fraction / kSecondsPerDay, QStringLiteral("hh:nn:ss")));
}

bool CNISTtimeset::SetLocalTimeAPI(rt::Date newTime, float fraction)
{
    platform::SystemClock& clock = platform::Clock();
    platform::SystemTime record = clock.GetLocalTime();
    NCL_TRACE(StampedNow() + QStringLiteral("Current local tme: ") + RecordClockText(record));

    if (!std::isfinite(newTime) || !std::isfinite(fraction) || fraction < 0 ||
        fraction >= 86400.0f) {
        NCL_TRACE(QStringLiteral("Bad time conversion of ") + rt::NumberText(newTime) +
                  QStringLiteral(" in SetLocalTimeAPI"));
        m_lastPlatformError = EINVAL;
        return false;
    }
    // The time of day to the nearest second; the date stays today's.
    const rt::CivilTime civil =
        rt::FromDate(std::nearbyint(newTime * kSecondsPerDay) / kSecondsPerDay);
    int hour = civil.hour;
    int minute = civil.minute;
    int second = civil.second;

    const int whole = int(std::trunc(fraction));
    if (whole >= 1) {
        if (second + whole < 60) {
            second += whole;
        } else if (minute < 59) {
            second = second + whole - 60;
            ++minute;
        } else if (hour < 23) {
            second = second + whole - 60;
            minute = 0;
            ++hour;
        } else {
            // Carrying would pass midnight, and the date is not ours to change here.
            m_lastPlatformError = ERANGE;
            return false;
        }
    }
    record.wHour = qint16(hour);
    record.wMinute = qint16(minute);
    record.wSecond = qint16(second);
    record.wMilliseconds =
        qint16(std::trunc((double(fraction) - whole) * 1000.0 + kFloatAllowanceMs));

    int errorNumber = 0;
    const bool ok = clock.SetLocalTime(record, errorNumber);
    m_lastPlatformError = ok ? 0 : errorNumber;
    if (!ok)
        logging::WriteDebug(QStringLiteral("SetLocalTimeAPI error ") +
                            QString::number(errorNumber));
    NCL_TRACE(StampedNow() + QStringLiteral("Time setting made: ") + RecordClockText(record));
    return ok;
}

void CNISTtimeset::System_set_date(rt::Date& newDate)
{
    const ShortDateFlags& order = ShortDateOrder();
    QString format = order.format;
    if (order.monthFirst)
        format = QStringLiteral("m/d/yy");
    else if (format.isEmpty())
        format = rt::ShortDatePattern();
    NCL_TRACE(QStringLiteral("System_set_date to new date: ") + rt::FormatDate(newDate, format));

    // The date is set from the value, not read back from that text: a
    // two-digit year in it would lose the century.
    int errorNumber = EINVAL;
    if (std::isfinite(newDate) && SetDateOnly(newDate, errorNumber))
        return;
    RefuseSetting(errorNumber);
    logging::ReportError(logging::Information, QStringLiteral("DataArrived error"), errorNumber,
                         QStringLiteral("CNISTTimeset"), QStringLiteral("DataArrived"), 71);
}

void CNISTtimeset::RefuseSetting(int platformError)
{
    rt::RaiseErrno(platformError);
    m_settingRefused = rt::Err().description + QStringLiteral(" (error ") +
                       QString::number(rt::Err().number) + QLatin1Char(')');
}

bool CNISTtimeset::SetTimeOfDay(const QString& hhnnss, int& errorNumber)
{
    rt::Date time = 0;
    if (!rt::TextToDate(hhnnss, time)) {
        errorNumber = EINVAL;
        return false;
    }
    const rt::CivilTime civil = rt::FromDate(time);
    platform::SystemClock& clock = platform::Clock();
    platform::SystemTime record = clock.GetLocalTime();
    record.wHour = qint16(civil.hour);
    record.wMinute = qint16(civil.minute);
    record.wSecond = qint16(civil.second);
    record.wMilliseconds = 0;
    return clock.SetLocalTime(record, errorNumber);
}

bool CNISTtimeset::SetDateOnly(rt::Date date, int& errorNumber)
{
    const rt::CivilTime civil = rt::FromDate(rt::DatePart(date));
    platform::SystemClock& clock = platform::Clock();
    platform::SystemTime record = clock.GetLocalTime();
    record.wYear = qint16(civil.year);
    record.wMonth = qint16(civil.month);
    record.wDay = qint16(civil.day);
    return clock.SetLocalTime(record, errorNumber);
}

} // namespace timeset

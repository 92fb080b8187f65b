#include "timeset/TimeConversions.h"

#include "logging/DebugLog.h"
#include "runtime/DateText.h"
#include "runtime/TextFormat.h"
#include "timeset/ShortDateFormat.h"

#include <cmath>

namespace timeset
{

namespace
{

constexpr double kSecondsPerDay = 86400.0;
constexpr double kNtpEra = 4294967296.0; // 2^32 seconds
// 1900-01-01 00:00 in the date-time value's count of days.
constexpr double kNtpEpochDays = 2.0;

quint8 ByteAt(const QByteArray& bytes, int index)
{
    return index < bytes.size() ? quint8(bytes.at(index)) : 0;
}

} // namespace

rt::Date byte_to_date(const QByteArray& bytes)
{
    const quint32 seconds = (quint32(ByteAt(bytes, 0)) << 24) | (quint32(ByteAt(bytes, 1)) << 16) |
                            (quint32(ByteAt(bytes, 2)) << 8) | quint32(ByteAt(bytes, 3));
    const rt::Date value = double(seconds) / kSecondsPerDay + kNtpEpochDays;
    NCL_TRACE(QStringLiteral("Byte to Date: ") + rt::LongDate(value) + QLatin1Char(' ') +
              rt::FormatDate(value, QStringLiteral("hh:mm:ss")));
    return value;
}

QByteArray date_to_byte(rt::Date value)
{
    double seconds = std::nearbyint((value - kNtpEpochDays) * kSecondsPerDay);
    if (!std::isfinite(seconds))
        seconds = 0;
    seconds = std::fmod(seconds, kNtpEra);
    if (seconds < 0)
        seconds += kNtpEra;
    const quint32 whole = quint32(seconds);
    QByteArray bytes(4, '\0');
    bytes[0] = char(whole >> 24);
    bytes[1] = char((whole >> 16) & 0xFF);
    bytes[2] = char((whole >> 8) & 0xFF);
    bytes[3] = char(whole & 0xFF);
    return bytes;
}

float byte_to_frac(const QByteArray& bytes)
{
    return float((ByteAt(bytes, 0) + ByteAt(bytes, 1) / 256.0) / 256.0);
}

platform::SystemTime get_system_time_record()
{
    return platform::Clock().GetSystemTime();
}

QString RecordClockText(const platform::SystemTime& record)
{
    return QString::number(record.wHour) + QLatin1Char(':') +
           rt::FormatNumber(record.wMinute, QStringLiteral("0#")) + QLatin1Char(':') +
           rt::FormatNumber(record.wSecond, QStringLiteral("0#")) + QLatin1Char('.') +
           rt::FormatNumber(record.wMilliseconds, QStringLiteral("00#"));
}

rt::Date system_time_to_date(const platform::SystemTime& record)
{
    const QString time = QString::number(record.wHour) + QLatin1Char(':') +
                         rt::FormatNumber(record.wMinute, QStringLiteral("0#")) + QLatin1Char(':') +
                         rt::FormatNumber(record.wSecond, QStringLiteral("0#"));
    const QString month = rt::FormatNumber(record.wMonth, QStringLiteral("##"));
    const QString day = rt::FormatNumber(record.wDay, QStringLiteral("##"));
    const QString year = rt::FormatNumber(record.wYear, QStringLiteral("##"));
    const QString date = ShortDateOrder().monthFirst
                             ? month + QLatin1Char('/') + day + QLatin1Char('/') + year
                             : day + QLatin1Char('/') + month + QLatin1Char('/') + year;
    const QString text = date + QLatin1Char(' ') + time;
    NCL_TRACE(QStringLiteral("System Date Time String: ") + text);
    NCL_TRACE(QStringLiteral("Current local system time: ") + RecordClockText(record));
    rt::Date value = 0;
    if (!rt::TextToDate(text, value))
        return 0;
    return value;
}

platform::SystemTime date_to_system_time(rt::Date value, float fraction)
{
    const rt::CivilTime civil = rt::FromDate(value);
    platform::SystemTime record;
    record.wYear = qint16(civil.year);
    record.wMonth = qint16(civil.month);
    record.wDayOfWeek = qint16(rt::Weekday(value) - 1);
    record.wDay = qint16(civil.day);
    record.wHour = qint16(civil.hour);
    record.wMinute = qint16(civil.minute);
    record.wSecond = qint16(civil.second);
    record.wMilliseconds = qint16(std::trunc(double(fraction) * 1000.0));
    NCL_TRACE(QStringLiteral("Time from NTP server: ") + RecordClockText(record));
    return record;
}

float digits_to_fraction(qint16 digits)
{
    if (digits <= 999)
        return float(digits / 1000.0);
    if (digits <= 9999)
        return float(digits / 10000.0);
    return float(digits / 100000.0);
}

float current_fraction()
{
    const float fraction = digits_to_fraction(get_system_time_record().wMilliseconds);
    NCL_TRACE(QStringLiteral("Fractional second: ") +
              rt::FormatNumber(fraction, QStringLiteral(".###")));
    return fraction;
}

QString trim_trailing_nuls(const QString& text)
{
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1) == QChar(0))
        --end;
    return text.left(end);
}

} // namespace timeset

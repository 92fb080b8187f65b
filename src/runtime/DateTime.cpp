#include "runtime/DateTime.h"

#include <QDateTime>

#include <cmath>

namespace rt
{

namespace
{

constexpr qint64 kMsPerDay = 86400000;
// 1899-12-30 counted from 1970-01-01.
constexpr qint64 kEpochShift = -25569;

NowReader g_nowReader = nullptr;

qint64 FloorDiv(qint64 a, qint64 b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
qint64 DaysFromCivil(qint64 y, qint64 m, qint64 d)
{
    y -= m <= 2 ? 1 : 0;
    const qint64 era = FloorDiv(y, 400);
    const qint64 yoe = y - era * 400;
    const qint64 doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const qint64 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(qint64 z, int& year, int& month, int& day)
{
    z += 719468;
    const qint64 era = FloorDiv(z, 146097);
    const qint64 doe = z - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const qint64 mp = (5 * doy + 2) / 153;
    day = int(doy - (153 * mp + 2) / 5 + 1);
    month = int(mp < 10 ? mp + 3 : mp - 9);
    year = int(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

bool IsLeap(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : days[month - 1];
}

// The value of a civil day (days since 1899-12-30) plus milliseconds into it.
// Days before the epoch keep a positive time of day, so their time is
// subtracted from the (negative) day number.
Date FromDayAndMs(qint64 civilDay, qint64 ms)
{
    civilDay += FloorDiv(ms, kMsPerDay);
    ms -= FloorDiv(ms, kMsPerDay) * kMsPerDay;
    const double fraction = double(ms) / double(kMsPerDay);
    return civilDay >= 0 ? double(civilDay) + fraction : double(civilDay) - fraction;
}

// Civil day and milliseconds into it, rounded to the millisecond.
void ToDayAndMs(Date value, qint64& civilDay, qint64& ms)
{
    const double whole = std::trunc(value);
    civilDay = qint64(whole);
    ms = std::llround(std::fabs(value - whole) * double(kMsPerDay));
    if (ms >= kMsPerDay) {
        ++civilDay;
        ms -= kMsPerDay;
    }
}

} // namespace

bool ToDate(const CivilTime& c, Date& out)
{
    if (c.year < 100 || c.year > 9999 || c.month < 1 || c.month > 12 || c.day < 1 ||
        c.day > DaysInMonth(c.year, c.month) || c.hour < 0 || c.hour > 23 || c.minute < 0 ||
        c.minute > 59 || c.second < 0 || c.second > 59 || c.msec < 0 || c.msec > 999)
        return false;
    out = MakeDate(c.year, c.month, c.day, c.hour, c.minute, c.second, c.msec);
    return true;
}

Date MakeDate(int year, int month, int day, int hour, int minute, int second, int msec)
{
    // Months outside 1-12 carry into the year, as a date-serial function does.
    const qint64 monthIndex = qint64(year) * 12 + (month - 1);
    const qint64 y = FloorDiv(monthIndex, 12);
    const qint64 m = monthIndex - y * 12 + 1;
    const qint64 civilDay = DaysFromCivil(y, m, 1) + (day - 1) - kEpochShift;
    const qint64 ms = ((qint64(hour) * 60 + minute) * 60 + second) * 1000 + msec;
    return FromDayAndMs(civilDay, ms);
}

CivilTime FromDate(Date value)
{
    qint64 civilDay = 0;
    qint64 ms = 0;
    ToDayAndMs(value, civilDay, ms);
    CivilTime c;
    CivilFromDays(civilDay + kEpochShift, c.year, c.month, c.day);
    c.hour = int(ms / 3600000);
    c.minute = int(ms / 60000 % 60);
    c.second = int(ms / 1000 % 60);
    c.msec = int(ms % 1000);
    return c;
}

int Weekday(Date value)
{
    qint64 civilDay = 0;
    qint64 ms = 0;
    ToDayAndMs(value, civilDay, ms);
    // Day 0 (1899-12-30) was a Saturday.
    const qint64 sinceSunday = ((civilDay + 6) % 7 + 7) % 7;
    return int(sinceSunday) + 1;
}

int DayOfYear(Date value)
{
    const CivilTime c = FromDate(value);
    int days = c.day;
    for (int m = 1; m < c.month; ++m)
        days += DaysInMonth(c.year, m);
    return days;
}

double DatePart(Date value)
{
    return std::trunc(value) + 0.0; // + 0.0 turns -0 into 0
}

double TimePart(Date value)
{
    return std::fabs(value - std::trunc(value));
}

Date Now()
{
    if (g_nowReader)
        return g_nowReader();
    const QDateTime local = QDateTime::currentDateTime();
    const QDate d = local.date();
    const QTime t = local.time();
    return MakeDate(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second());
}

void SetNowReader(NowReader reader)
{
    g_nowReader = reader;
}

} // namespace rt

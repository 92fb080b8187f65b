#pragma once
// The agent's date-time value: days since 1899-12-30 00:00:00 as a double,
// the fraction being the time of day. Negative values count days before the
// epoch but keep a positive time-of-day fraction (-1.25 is 1899-12-29 06:00),
// the way the classic date type does.

#include <QtGlobal>

namespace rt
{

using Date = double;

struct CivilTime {
    int year = 1899;
    int month = 12;
    int day = 30;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int msec = 0;
};

// Days from civil date and time; false when a part is out of range
// (year 100-9999, month 1-12, day valid for the month, hour 0-23,
// minute/second 0-59, msec 0-999).
bool ToDate(const CivilTime& civil, Date& out);
// Unchecked variant for values the caller has already validated; parts out of
// range carry over (month 13 is January of the next year, hour 25 the next day).
Date MakeDate(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
              int msec = 0);
// Civil date and time of a value, rounded to the nearest millisecond.
CivilTime FromDate(Date value);

// Day of week, 1 = Sunday ... 7 = Saturday.
int Weekday(Date value);
// Day of the year, 1 = January 1.
int DayOfYear(Date value);

// Whole-day part and time-of-day part, honouring the negative-date rule above.
double DatePart(Date value);
double TimePart(Date value);

// Local "now", in whole seconds, from the reader the platform layer installs
// (its system clock: simulated when one is configured, or a test's clock).
// Before one is installed it is the host's local time.
Date Now();
using NowReader = Date (*)();
void SetNowReader(NowReader reader);

} // namespace rt

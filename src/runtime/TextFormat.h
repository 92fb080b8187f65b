#pragma once
// Text forms of dates and numbers, driven by pattern rules rather than tables.
//
// Date patterns: d dd (day), ddd dddd (weekday name), ddddd (short date),
// dddddd (long date), m mm (month, or minute right after an hour), mmm mmmm
// (month name), y (day of year), yy yyyy, h hh, n nn (minute), s ss, w (weekday
// number), q (quarter), AM/PM am/pm A/P a/p (and a 12-hour clock); anything
// else is literal text, as is "quoted text" and a character after a backslash.
// Letters are not case-sensitive except in AM/PM. Names are English. Times
// are shown rounded to the whole second.
// Number patterns: 0 (digit, zero-padded), # (digit if significant), the first
// '.', literal text elsewhere. Whole digits beyond the slots are all shown;
// '#' slots at the end of the fraction drop trailing zeros ("0.0##" of 2.25 is
// "2.25", "#.#" of 0 is "."). Rounding is half away from zero on the value's
// 15 significant digits, as the classic formatter does (2.675 -> "2.68"); a
// value that shows as zero has no minus sign.

#include "runtime/DateTime.h"

#include <QLocale>
#include <QString>

namespace rt
{

QString FormatDate(Date value, const QString& pattern);
QString FormatNumber(double value, const QString& pattern);

// General date form: date and time; date only when the time is 0; time only
// when the date part is 0 (1899-12-30; so 0 itself is "00:00:00"). The locale's short date and the
// 24-hour time "hh:nn:ss" (no AM/PM), so TextToDate reads it back to the second.
QString GeneralDate(Date value);
// The locale's short date pattern in the pattern language above (e.g. "m/d/yyyy"),
// the year always with four digits so the text keeps its century. The C/POSIX
// locale gives "m/d/yyyy".
QString ShortDatePattern();
// Which part the short date puts first; date texts with three numbers are read
// in this order.
enum class DateOrder { MonthFirst, DayFirst, YearFirst };
DateOrder ShortDateOrder();
QString ShortDate(Date value);
// "Long Date": e.g. "Friday, December 4, 2026".
QString LongDate(Date value);

// Plain text of a number the way the classic CStr gives it: up to 15
// significant digits, no trailing zeros (2.5, 10, -0.25), an exponent only for
// magnitudes below 0.0001 or from 1E+15 on ("1E-05", "1.5E+15").
QString NumberText(double value);
// The same for a single-precision value: 7 significant digits (0.1f is "0.1").
QString SingleText(float value);

// English month name, month 1-12 ("Dec" or "December"); empty otherwise.
QString MonthName(int month, bool abbreviated);

// The locale the date forms follow: the system's (LC_ALL, LC_TIME, LANG) unless
// a test has set one. The pointer must outlive its use; nullptr restores the system's.
QLocale DateLocale();
void SetDateLocaleForTesting(const QLocale* locale);

} // namespace rt

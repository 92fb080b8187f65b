#pragma once
// Text forms of dates and numbers, driven by pattern rules rather than tables.
//
// Date patterns: d dd (day), ddd dddd (weekday name), m mm (month, or minute
// right after an hour), mmm mmmm (month name), yy yyyy, h hh, n nn (minute),
// s ss, AM/PM and am/pm; anything else is literal text. Letters are not
// case-sensitive except in AM/PM.
// Number patterns: 0 (digit, zero-padded), # (digit if significant), one '.',
// literal text elsewhere; rounding is half away from zero as the classic
// formatter does.

#include "runtime/DateTime.h"

#include <QString>

namespace rt {

QString FormatDate(Date value, const QString& pattern);
QString FormatNumber(double value, const QString& pattern);

// General date form: date and time; date only when the time is 0; time only
// when the date part is 0. Uses the locale's short date and "h:nn:ss AM/PM"-less
// 24-hour time "hh:nn:ss".
QString GeneralDate(Date value);
// The locale's short date pattern in the pattern language above (e.g. "m/d/yyyy").
QString ShortDatePattern();
QString ShortDate(Date value);
// "Long Date": e.g. "Friday, December 4, 2026".
QString LongDate(Date value);

// Plain text of a number the way the classic Str/CStr give it (no exponent for
// ordinary values, no trailing zeros: 2.5, 10, -0.25).
QString NumberText(double value);

} // namespace rt

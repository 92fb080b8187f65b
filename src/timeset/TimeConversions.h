#pragma once
// Moves between the representations of a moment that the engine meets: the
// date-time value, the system-time record, the 32-bit seconds since 1900 of
// NTP and the TIME protocol, and fractions of a second.

#include "platform/SystemClock.h"
#include "runtime/DateTime.h"

#include <QByteArray>
#include <QString>

namespace timeset
{

// Seconds since 1900-01-01 00:00 UTC, four big-endian bytes (missing bytes read as 0).
rt::Date byte_to_date(const QByteArray& bytes);
// The inverse, to whole seconds; instants outside 1900-2036 wrap as NTP eras do.
QByteArray date_to_byte(rt::Date value);
// An NTP fraction from its first two bytes (resolution 1/65536 s).
float byte_to_frac(const QByteArray& bytes);

// The clock's UTC time as a system-time record.
platform::SystemTime get_system_time_record();
// A record to a date-time value, through the agent's date text in the
// locale's day order; the zero date when the text does not convert.
rt::Date system_time_to_date(const platform::SystemTime& record);
// A date-time value plus a fraction of a second to a record.
platform::SystemTime date_to_system_time(rt::Date value, float fraction);

// Fraction of the current UTC second.
float current_fraction();
// 250 -> 0.25, 2500 -> 0.25, 25000 -> 0.25: the digits after a decimal point.
float digits_to_fraction(qint16 digits);

QString trim_trailing_nuls(const QString& text);

// "h:mm:ss.mmm" of a record, as the trace lines show times.
QString RecordClockText(const platform::SystemTime& record);

} // namespace timeset

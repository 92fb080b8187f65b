#pragma once
// Recognition of date texts ("is a date", "convert to a date").
// The accepted forms are documented in DateText.cpp's header comment.

#include "runtime/DateTime.h"

#include <QString>

namespace rt
{

bool IsDate(const QString& text);
// False (and out untouched) when the text is not a date.
bool TextToDate(const QString& text, Date& out);

// Date literals of data files, between number signs, year-month-day and 24-hour
// time: "#2024-01-31 13:05:00#", "#2024-01-31#" (time 0), "#13:05:00#" (day 0).
QString DateLiteral(Date value);
// Reads such a literal (any form TextToDate accepts between the signs).
bool DateLiteralToDate(const QString& text, Date& out);

} // namespace rt

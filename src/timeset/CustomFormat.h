#pragma once
// Reads a time server's text line with a user-supplied layout such as
// "dd/mm/yyyy Hh:Nn:Ss" and rebuilds a date text and a time text from it.
//
// Codes: d dd (day), ddd dddd (weekday, dropped), m mm mmm mmmm (month),
// yy yyyy, h Hh (hour), N Nn (minute), S Ss (second), AM/PM AMPM A/P am/pm a/p
// (marker). A backslash makes the next format character a literal; any other
// character is a literal that skips one character of the server text.

#include <QChar>
#include <QString>

namespace timeset
{

// On success dateOut is "month day, year" or "month/day/year" and timeOut is
// "hour:minute:second marker"; on failure both are empty.
bool Custom_parse_string(const QString& serverText, const QString& format, QString& dateOut,
                         QString& timeOut);

// Takes one code (or one literal) off the front of both chunks. Returns true
// while the server chunk has characters left to read.
bool next_format_token(QString& serverChunk, QString& formatChunk, QString& value, QString& token);

// 1-based position of the first character from position 2 on that is not a
// format code character; 0 when there is none.
int find_token_end(const QString& formatChunk);

bool is_format_code(QChar c);

} // namespace timeset

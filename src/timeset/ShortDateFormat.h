#pragma once
// The order of day, month and year in the locale's short date, found once at
// start-up and used wherever the engine writes a date as text for the clock.

#include <QString>
#include <QtGlobal>

namespace timeset
{

struct ShortDateFlags {
    bool monthFirst = false;
    bool dayFirst = false;
    bool yearFirst = false;
    QString format; // the locale's short date format, e.g. "M/d/yy"
};

// The flags found by the last detect_short_date; the user's locale is
// detected on first use when start-up has not done it.
const ShortDateFlags& ShortDateOrder();

// "USER" asks for the user's locale, anything else for the system's.
// Returns the short date format and sets the flags.
QString detect_short_date(const QString& which);
// The same for a named locale ("de_DE").
QString detect_short_date_of_locale(const QString& localeId);

// The locale's text for an item, without trailing NULs.
QString get_locale_text(const QString& localeId, qint32 item);

} // namespace timeset

#pragma once
// Locale texts of the user's or the system's locale, by item number as the
// platform numbers them. The locale comes from the environment (LC_ALL,
// LC_TIME, LANG); a locale identifier is its name ("en_US", "de_DE").

#include <QString>
#include <QtGlobal>

namespace platform
{

constexpr qint32 LOCALE_SSHORTDATE = 31; // short date format, e.g. "M/d/yy"
constexpr qint32 LOCALE_SLONGDATE = 32;  // long date format

QString UserDefaultLocale();
QString SystemDefaultLocale();

// The item's text for the named locale; "" for an item this platform lacks.
QString GetLocaleInfo(const QString& localeId, qint32 item);

} // namespace platform

#include "timeset/ShortDateFormat.h"

#include "logging/DebugLog.h"
#include "platform/LocaleInfo.h"
#include "runtime/DateTime.h"
#include "runtime/TextFormat.h"
#include "timeset/TimeConversions.h"

namespace timeset
{

namespace
{

ShortDateFlags g_flags;
bool g_detected = false;

QString Today(const QString& format)
{
    return rt::FormatDate(rt::Now(), format);
}

} // namespace

const ShortDateFlags& ShortDateOrder()
{
    if (!g_detected)
        detect_short_date(QStringLiteral("USER"));
    return g_flags;
}

QString get_locale_text(const QString& localeId, qint32 item)
{
    return trim_trailing_nuls(platform::GetLocaleInfo(localeId, item));
}

QString detect_short_date(const QString& which)
{
    // The user's locale is the one the agent's date texts follow.
    const QString locale =
        which == QLatin1String("USER") ? rt::DateLocale().name() : platform::SystemDefaultLocale();
    return detect_short_date_of_locale(locale);
}

QString detect_short_date_of_locale(const QString& localeId)
{
    const QString format = get_locale_text(localeId, platform::LOCALE_SSHORTDATE);
    const QString upper = format.toUpper();
    g_flags = ShortDateFlags{};
    g_flags.format = format;
    g_detected = true;
    const QChar first = upper.isEmpty() ? QChar() : upper.at(0);
    if (first == QLatin1Char('M')) {
        if (upper.endsWith(QLatin1String("YY")))
            g_flags.monthFirst = true;
        else
            NCL_TRACE(QStringLiteral("Unknown short date format: ") + Today(format));
    } else if (first == QLatin1Char('D')) {
        if (upper.endsWith(QLatin1String("YY"))) {
            NCL_TRACE(QStringLiteral("Is in D/M/Y format: ") + Today(format));
            g_flags.dayFirst = true;
        }
    } else if (first == QLatin1Char('Y')) {
        if (upper.endsWith(QLatin1String("D"))) {
            NCL_TRACE(QStringLiteral("Is in Y/M/D format: ") + Today(format));
            g_flags.yearFirst = true;
        }
    } else {
        NCL_TRACE(QStringLiteral("Unknown Short date format: ") + Today(format));
    }
    return format;
}

} // namespace timeset

#include "platform/LocaleInfo.h"

#include <QLocale>

namespace platform
{

QString UserDefaultLocale()
{
    return QLocale::system().name();
}

QString SystemDefaultLocale()
{
    // One locale serves both here: the environment's.
    return QLocale::system().name();
}

QString GetLocaleInfo(const QString& localeId, qint32 item)
{
    const QLocale locale =
        localeId == QLocale::system().name() ? QLocale::system() : QLocale(localeId);
    // The C locale has no date customs of its own; it gets the classic
    // system default, as the agent's date texts do.
    const bool plainC = locale.language() == QLocale::C;
    // Qt's date format letters (d, M, y) are the ones the agent's formats use.
    switch (item) {
    case LOCALE_SSHORTDATE:
        return plainC ? QStringLiteral("M/d/yyyy") : locale.dateFormat(QLocale::ShortFormat);
    case LOCALE_SLONGDATE:
        return plainC ? QStringLiteral("dddd, MMMM d, yyyy")
                      : locale.dateFormat(QLocale::LongFormat);
    default:
        return QString();
    }
}

} // namespace platform

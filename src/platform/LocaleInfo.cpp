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
    // Qt's date format letters (d, M, y) are the ones the agent's formats use.
    switch (item) {
    case LOCALE_SSHORTDATE:
        return locale.dateFormat(QLocale::ShortFormat);
    case LOCALE_SLONGDATE:
        return locale.dateFormat(QLocale::LongFormat);
    default:
        return QString();
    }
}

} // namespace platform

#include "logging/SyncStatus.h"

namespace logging
{

QString SyncStatusText(qint16 code)
{
    switch (code) {
    case StatusSettingMade:
        return QStringLiteral("Clock setting made");
    case StatusInvalidDate:
        return QStringLiteral("Date or time invalid");
    case StatusTimeZoneError:
        return QStringLiteral("Time zone error");
    case StatusDatesChanged:
        return QStringLiteral("Dates changed. Setting date");
    case StatusAboveMaximum:
        return QStringLiteral("Time difference exceeds maximum");
    case StatusBelowMinimum:
        return QStringLiteral("Time difference too small");
    case StatusTimecheckOK:
        return QStringLiteral("Timecheck OK");
    case StatusConversionError:
        return QStringLiteral("Time conversion error");
    case StatusServerError:
        return QStringLiteral("Server error");
    case StatusParseError:
        return QStringLiteral("String was corrupt or format was wrong");
    default:
        return QStringLiteral("Error Code: ") + QString::number(code);
    }
}

} // namespace logging

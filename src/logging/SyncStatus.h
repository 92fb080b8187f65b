#pragma once
// Sync result codes: what the clock-setting engine decided about one time
// message. They live here, below the engine, because the sync record and the
// logs carry them too.

#include <QString>
#include <QtGlobal>

namespace logging
{

enum SyncStatus : qint16 {
    StatusSettingMade = 0,
    StatusInvalidDate = 1,
    StatusTimeZoneError = 2,
    StatusDatesChanged = 3,
    StatusAboveMaximum = 4,
    StatusBelowMinimum = 5,
    StatusTimecheckOK = 7,
    StatusConversionError = 9,
    StatusHeartbeat = 10,
    StatusInSync = 15,
    StatusUnknownFormat = 99,
    StatusServerError = 100,
    StatusParseError = 200,
};

// The text the user interface and the console show for a code.
QString SyncStatusText(qint16 code);

} // namespace logging

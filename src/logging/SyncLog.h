#pragma once
// The sync log: one line per clock setting, in a column-aligned text file or a
// printed report (by LoggingMode); the setting events; the sync warning.

#include "runtime/DateTime.h"
#include "settings/OptionValues.h"

#include <QString>
#include <QtGlobal>

namespace logging
{

// What the sync log records of one clock setting (the scheduler's sync record
// hands it over): when, how far the clock was off, the drift, the result code.
struct SyncLogEntry {
    rt::Date localTime = 0;
    qint32 differenceSec = 0;
    float secFrac = 0; // added to differenceSec when useFrac
    bool useFrac = false;
    float accuracy = 0;
    qint16 status = 0;
};

// Writes one setting; a missing file (or a print job not begun) gets the header first.
void WriteSyncLog(const SyncLogEntry& sync, const QString& server, const QString& path,
                  qint16 mode);
// Writes the header: a new file, or the title of a new printed report.
void CreateSyncLog(const QString& path, qint16 mode);
// Ends a printed report with its end marker and page number.
void EndSyncLog(qint16 mode);

// The setting line of the text file (without its line end).
QString SyncLogLine(const SyncLogEntry& sync, const QString& server);
// The date of a setting line: its first 8 characters, a two-digit year first
// (LogDateFormat), read with "20" put in front so that every locale reads the
// same day. The readers of the sync log (history, client list) all use this.
bool SyncLogDate(const QString& line, rt::Date& day);

// After a clock setting: the sync log and the "Setting done - " and limit
// events, as the logging options say. settingServer is the time server in use.
void LogSetting(const SyncLogEntry& sync, const QString& settingServer);
// A setting the platform refused (the reason, e.g. "Permission denied (error
// 70)"): the sync log keeps its line, as for any setting; this adds a warning
// event and a line on standard error, which a service manager's journal keeps.
void LogRefusedSetting(const QString& reason);

// Raises the sync warning for the minutes since the last good time check and
// returns the status-label text. The event goes out once per period of
// failures: again only when the minutes are not more than last time.
QString ShowSyncWarning(qint32 minutes);
// A good time check ends the period of failures.
void ClearSyncWarning();
qint32 SyncWarningMinutes();

} // namespace logging

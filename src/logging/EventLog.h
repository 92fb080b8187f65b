#pragma once
// Event dispatch: one operational event (information, warning, error) goes
// to the event-log file, the operating system's log and a syslog collector,
// as the logging options choose.

#include "runtime/DateTime.h"

#include <QString>
#include <QtGlobal>

namespace logging
{

// The date-time format of the event log and the sync log: "yy-mm-dd hh:nn:ss".
// A date of 8 characters (two-digit year first), a blank and a time of 8, so
// the "Time" column starts at 10 and the next field at 20, and a sync-log
// reader that puts "20" in front of the date reads it in any locale.
extern QString LogDateFormat;
// A stamp in LogDateFormat; an empty format gives the general date.
QString LogStamp(rt::Date value);
// "short date long time", as the log headers show the moment of creation.
QString HeaderStamp(rt::Date value);

// The 8-character label of an event type in the event-log file.
QString EventLabel(qint16 eventType);

// Dispatches one event; callers pass LoggingEvntFileName. Never fails to its
// caller: a failure becomes one error report.
void LogEvent(const QString& message, qint16 eventType, const QString& eventFile);

// Sends "<priority> tag: text" to the server (a name or dotted address,
// optionally ":port", else port 514) over UDP. True when the datagram was
// handed to the socket.
bool SyslogMessage(const QString& text, const QString& tag, const QString& server, qint16 facility,
                   qint16 level);
// The datagram text, without sending it.
QString SyslogDatagram(const QString& text, const QString& tag, qint16 facility, qint16 level);

} // namespace logging

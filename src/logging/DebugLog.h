#pragma once
// The debug trace and the error reporter.
//
// Callers test DebugOn before they compose a trace line (use NCL_TRACE), so a
// module with tracing off spends nothing on text. The writer itself only looks
// at DebugFileOn.

#include <QString>
#include <QtGlobal>

namespace logging
{

extern bool DebugOn;
extern bool DebugFileOn;
extern QString DebugFileName;

// Severities of an error report.
enum Severity : qint16 { Information = 1, Problem = 2, Error = 3, Critical = 4 };

// Operating-system event types.
enum EventType : qint16 { EventError = 1, EventWarning = 2, EventInformation = 4 };

void WriteDebug(const QString& text, bool keepOpen = false);
void SetDebugFile(bool on);
// Opens DebugFileName for appending without writing a line (the "debug"
// word of the command line).
void OpenDebugFile();
bool SetDebugFileMode(bool currentState);
// Always returns 0; reads (and clears) the current error of rt::Err().
qint16 ReportError(qint16 severity, const QString& message, qint32 errorNumber,
                   const QString& moduleName, const QString& procedureName, qint16 site);
void LogNTEvent(const QString& text, qint16 eventType, qint32 eventId);

// Tests observe operating-system event-log entries here instead of syslog.
using NTEventSink = void (*)(const QString& text, qint16 eventType);
void SetNTEventSinkForTesting(NTEventSink sink);

// Closes the debug stream (program end); what was written reaches the disk.
void CloseDebugFile();

} // namespace logging

// Composes and writes a trace line only while tracing is on.
#define NCL_TRACE(text)                                                                            \
    do {                                                                                           \
        if (logging::DebugOn)                                                                      \
            logging::WriteDebug(text);                                                             \
    } while (0)

#pragma once
// The debug trace and the error reporter.
//
// Callers test DebugOn before they compose a trace line (use NCL_TRACE), so a
// module with tracing off spends nothing on text. The writer itself only looks
// at DebugFileOn. The switch and the severities are the runtime's, so that the
// layers below this one trace through the same switch.

#include "runtime/Trace.h"

#include <QString>
#include <QtGlobal>

namespace logging
{

using rt::DebugOn;
extern bool DebugFileOn;
extern QString DebugFileName;

using rt::Severity;
using enum rt::Severity;

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

// Makes this trace and this reporter the ones every layer writes to (see
// runtime/Trace.h). Programs call it first thing; opening a debug file does
// it too, so no line written to an open debug file can go elsewhere.
void InstallTrace();

} // namespace logging

#pragma once
// The trace switch and the two hooks through which every layer writes its
// trace lines and reports its errors. The debug trace and the error reporter
// live in the logging layer, above most of the code that traces; the logging
// layer installs them here (logging::InstallTrace) when a program starts and
// whenever a debug file is opened. Until then a line goes nowhere, and a
// report only clears the current error, as the reporter itself would.

#include <QString>
#include <QtGlobal>

namespace rt
{

// Callers test DebugOn before they compose a trace line (use NCL_TRACE), so
// code with tracing off spends nothing on text.
extern bool DebugOn;

// Severities of an error report.
enum Severity : qint16 { Information = 1, Problem = 2, Error = 3, Critical = 4 };

using TraceWriter = void (*)(const QString& text);
using ErrorReporter = qint16 (*)(qint16 severity, const QString& message, qint32 errorNumber,
                                 const QString& moduleName, const QString& procedureName,
                                 qint16 site);
void InstallTrace(TraceWriter writer, ErrorReporter reporter);

// One whole trace line, through the installed writer.
void Trace(const QString& text);
// An error report, through the installed reporter; always returns 0.
qint16 SendErrorReport(qint16 severity, const QString& message, qint32 errorNumber,
                       const QString& moduleName, const QString& procedureName, qint16 site);

} // namespace rt

// Composes and writes a trace line only while tracing is on.
#define NCL_TRACE(text)                                                                            \
    do {                                                                                           \
        if (rt::DebugOn)                                                                           \
            rt::Trace(text);                                                                       \
    } while (0)

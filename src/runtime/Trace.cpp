#include "runtime/Trace.h"

#include "runtime/CurrentError.h"

namespace rt
{

bool DebugOn = false;

namespace
{

TraceWriter g_writer = nullptr;
ErrorReporter g_reporter = nullptr;

} // namespace

void InstallTrace(TraceWriter writer, ErrorReporter reporter)
{
    g_writer = writer;
    g_reporter = reporter;
}

void Trace(const QString& text)
{
    if (g_writer)
        g_writer(text);
}

qint16 SendErrorReport(qint16 severity, const QString& message, qint32 errorNumber,
                       const QString& moduleName, const QString& procedureName, qint16 site)
{
    if (g_reporter)
        return g_reporter(severity, message, errorNumber, moduleName, procedureName, site);
    ClearError();
    return 0;
}

} // namespace rt

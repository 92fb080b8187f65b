#include "logging/SyncLog.h"

#include "logging/ColumnText.h"
#include "logging/DebugLog.h"
#include "logging/EventLog.h"
#include "logging/LogFile.h"
#include "logging/ReportPrinter.h"
#include "logging/SyncStatus.h"
#include "runtime/DateText.h"
#include "runtime/TextFormat.h"
#include "settings/AppState.h"
#include "settings/COptions.h"

#include <QFileInfo>

#include <cmath>
#include <cstdio>

namespace logging
{

namespace
{

qint32 g_warningMinutes = 0; // minutes of the last sync warning; 0 = none in this period

// A number as the classic Print shows it: a blank for the sign of a
// non-negative value, and one blank after.
QString PrintedNumber(qint32 value)
{
    return (value >= 0 ? QStringLiteral(" ") : QString()) + QString::number(value) +
           QLatin1Char(' ');
}

QString Correction(const SyncLogEntry& sync)
{
    if (sync.useFrac)
        return rt::FormatNumber(sync.differenceSec + double(sync.secFrac), QStringLiteral("#.00#"));
    return rt::FormatNumber(sync.differenceSec, QStringLiteral("#.#"));
}

ColumnText SettingColumns(const SyncLogEntry& sync, const QString& correction,
                          const QString& server)
{
    ColumnText line;
    line.At(1, LogStamp(sync.localTime))
        .At(20, correction)
        .At(31, rt::FormatNumber(sync.accuracy, QStringLiteral("0.0")))
        .At(41, PrintedNumber(sync.status))
        .At(48, server);
    return line;
}

// The heading of each column and the dashes under it, at the column's position.
struct ColumnHeading {
    int column;
    const char* title;
    const char* dashes;
};
constexpr ColumnHeading kHeadings[] = {
    {1, "Date", "-----"},         {10, "Time", "----"},     {20, "Difference", "----------"},
    {31, "Accuracy", "--------"}, {41, "Status", "------"}, {48, "Server", "------"},
};

ColumnText HeadingLine(bool dashes)
{
    ColumnText line;
    for (const ColumnHeading& heading : kHeadings)
        line.At(heading.column, QString::fromLatin1(dashes ? heading.dashes : heading.title));
    return line;
}

ColumnText ColumnTitles()
{
    return HeadingLine(false);
}

ColumnText ColumnDashes()
{
    return HeadingLine(true);
}

void PrintColumns(ReportPrinter& printer, const ColumnText& text, bool bold = false)
{
    for (const QString& line : text.Lines())
        printer.PrintLine(line, bold);
}

void PrintTitle(ReportPrinter& printer, const QString& title)
{
    ColumnText line;
    line.At(1, title).At(30, HeaderStamp(rt::Now()));
    PrintColumns(printer, line);
}

void CreateFileLog(const QString& path)
{
    ColumnText title;
    title.At(1, QStringLiteral("Synchronization Log")).At(30, HeaderStamp(rt::Now()));
    const QString header =
        title.Text() + kCrLf + ColumnTitles().Text() + kCrLf + ColumnDashes().Text() + kCrLf;
    QString error;
    if (!AppendWhole(path, header, error))
        NCL_TRACE(QStringLiteral("Sync log not created: ") + path + QStringLiteral(": ") + error);
}

void CreatePrintedLog()
{
    ReportPrinter& printer = ReportPrinter::Job();
    printer.PrintLine(QString());
    printer.PrintLine(QString());
    ColumnText title;
    title.At(1, QStringLiteral("Synchronization Log"))
        .At(30, QStringLiteral("Created: ") + HeaderStamp(rt::Now()));
    PrintColumns(printer, title);
    printer.PrintLine(QString());
    printer.PrintLine(QString());
    PrintColumns(printer, ColumnTitles(), true);
    PrintColumns(printer, ColumnDashes(), true);
    NCL_TRACE(QStringLiteral("Scale Height: ") + QString::number(printer.ScaleHeight()));
    NCL_TRACE(QStringLiteral("Scale Width: ") + QString::number(printer.ScaleWidth()));
}

void WriteFileLog(const SyncLogEntry& sync, const QString& server, const QString& path)
{
    if (path.isEmpty())
        return;
    if (!QFileInfo::exists(path))
        CreateSyncLog(path, settings::LoggingMode::TextFile);
    QString error;
    // A line that cannot be written is lost; the setting itself stands.
    if (!AppendWhole(path, SyncLogLine(sync, server) + kCrLf, error))
        NCL_TRACE(QStringLiteral("Sync log line lost: ") + path + QStringLiteral(": ") + error);
}

void WritePrintedLog(const SyncLogEntry& sync, const QString& server)
{
    ReportPrinter& printer = ReportPrinter::Job();
    if (!printer.Started())
        CreatePrintedLog();
    const double bottom = std::floor(printer.ScaleHeight() * 0.9);
    PrintColumns(printer, SettingColumns(sync, PrintedNumber(sync.differenceSec), server));
    if (printer.CurrentY < bottom)
        return;
    printer.PrintLine(QString());
    ColumnText page;
    page.At(50, QStringLiteral("Page ") + QString::number(printer.Page()));
    PrintColumns(printer, page);
    printer.NewPage();
    printer.PrintLine(QString());
    PrintTitle(printer, QStringLiteral("Sync Log - continued"));
    printer.PrintLine(QString());
    printer.PrintLine(QString());
}

} // namespace

QString SyncLogLine(const SyncLogEntry& sync, const QString& server)
{
    return SettingColumns(sync, Correction(sync), server).Text();
}

void CreateSyncLog(const QString& path, qint16 mode)
{
    if (mode == settings::LoggingMode::TextFile)
        CreateFileLog(path);
    else if (mode == settings::LoggingMode::Printer)
        CreatePrintedLog();
}

void WriteSyncLog(const SyncLogEntry& sync, const QString& server, const QString& path, qint16 mode)
{
    if (mode == settings::LoggingMode::TextFile)
        WriteFileLog(sync, server, path);
    else if (mode == settings::LoggingMode::Printer)
        WritePrintedLog(sync, server);
}

void EndSyncLog(qint16 mode)
{
    ReportPrinter& printer = ReportPrinter::Job();
    if (mode != settings::LoggingMode::Printer || !printer.Started()) {
        NCL_TRACE(QStringLiteral("<End of Log>"));
        return;
    }
    printer.CurrentY = printer.ScaleHeight() * 0.9;
    printer.PrintLine(QString());
    printer.PrintAt(printer.ScaleWidth() * 0.45, QStringLiteral("<End of Report>"));
    printer.PrintAt(printer.ScaleWidth() * 0.87,
                    QStringLiteral("Page ") + QString::number(printer.Page()));
    printer.EndDoc();
}

void LogSetting(const SyncLogEntry& sync, const QString& settingServer)
{
    const settings::COptions& options = settings::Options();
    if (!options.LoggingOn())
        return;
    if (options.LoggingFileOn()) {
        const QString server =
            options.ServerConn() == settings::ServerConn::DirectDial ? settingServer : QString();
        WriteSyncLog(sync, server, options.LoggingFileName(), options.LoggingMode());
    }
    if (!options.LoggingEvntOn())
        return;
    const QString seconds = rt::FormatNumber(sync.differenceSec, QStringLiteral("0"));
    const QString outcome =
        sync.status != 0 ? SyncStatusText(sync.status)
                         : QStringLiteral("time changed: ") + seconds + QStringLiteral(" seconds.");
    LogEvent(QStringLiteral("Setting done - ") + outcome, EventInformation,
             options.LoggingEvntFileName());
    // Signed: a clock that was ahead never exceeds the limit.
    if (options.LoggingMaxSecOn() && sync.differenceSec > options.LoggingMaxSec())
        LogEvent(QStringLiteral("Time difference of ") + seconds +
                     QStringLiteral(" seconds exceeds limit of ") +
                     QString::number(options.LoggingMaxSec()) + QStringLiteral(" seconds."),
                 EventWarning, options.LoggingEvntFileName());
}

bool SyncLogDate(const QString& line, rt::Date& day)
{
    rt::Date value = 0;
    if (!rt::TextToDate(QStringLiteral("20") + line.left(8), value))
        return false;
    day = rt::DatePart(value);
    return true;
}

void LogRefusedSetting(const QString& reason)
{
    const QString text = QStringLiteral("Setting refused - the clock was not changed: ") + reason;
    NCL_TRACE(text);
    LogEvent(text, EventWarning, settings::Options().LoggingEvntFileName());
    QString line = QStringLiteral("clock setting refused, the clock was not changed: ") + reason;
    if (reason.endsWith(QLatin1String("(error 70)")))
        line += QStringLiteral("; setting the clock needs root or CAP_SYS_TIME");
    std::fprintf(stderr, "%s: %s\n", qPrintable(settings::App().AppTitle), qPrintable(line));
    std::fflush(stderr);
}

QString ShowSyncWarning(qint32 minutes)
{
    QString period;
    if (minutes >= 1440)
        period =
            rt::FormatNumber(minutes / 1440.0, QStringLiteral("0.0")) + QStringLiteral(" days");
    else if (minutes >= 60)
        period = rt::FormatNumber(minutes / 60.0, QStringLiteral("0.0")) + QStringLiteral(" hours");
    else
        period = rt::FormatNumber(minutes, QStringLiteral("0")) + QStringLiteral(" minutes");

    if (g_warningMinutes == 0 || minutes <= g_warningMinutes) {
        NCL_TRACE(QStringLiteral("First Sync Warning"));
        const settings::COptions& options = settings::Options();
        if (options.LoggingEvntOn())
            LogEvent(QStringLiteral("Unable to check clock for the last ") + period, EventWarning,
                     options.LoggingEvntFileName());
    }
    g_warningMinutes = minutes;
    return QStringLiteral("Warning: Unable to check clock\r\nfor the last ") + period;
}

void ClearSyncWarning()
{
    g_warningMinutes = 0;
}

qint32 SyncWarningMinutes()
{
    return g_warningMinutes;
}

} // namespace logging

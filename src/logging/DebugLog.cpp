#include "logging/DebugLog.h"

#include "platform/DataFolder.h"
#include "platform/PrivateFile.h"
#include "runtime/CurrentError.h"
#include "runtime/DateTime.h"
#include "runtime/TextFormat.h"
#include "settings/AppState.h"
#include "settings/COptions.h"

#include <QFile>
#include <QFileInfo>

#include <syslog.h>

namespace logging
{

bool DebugFileOn = false;
QString DebugFileName;

namespace
{

const char* const kLineEnd = "\r\n";

QFile& DebugStream()
{
    static QFile stream;
    return stream;
}

bool g_lineOpen = false; // a line was begun without its line end
NTEventSink g_ntEventSink = nullptr;

QString Stamp()
{
    return rt::FormatDate(rt::Now(), QStringLiteral("mm-dd hh:nn:ss  "));
}

void Emit(const QString& text)
{
    QFile& stream = DebugStream();
    if (!stream.isOpen())
        return;
    stream.write(text.toLatin1());
    // Flushed per line so a trace being followed, or a crash, loses nothing.
    stream.flush();
}

void WriteTraceLine(const QString& text)
{
    WriteDebug(text);
}

void OpenDebugStream()
{
    InstallTrace();
    QFile& stream = DebugStream();
    if (stream.isOpen())
        stream.close();
    QString error;
    platform::OpenFileForWriting(stream, DebugFileName, platform::WriteMode::Append, error);
}

} // namespace

void WriteDebug(const QString& text, bool keepOpen)
{
    if (!DebugFileOn)
        return;
    if (keepOpen) {
        Emit(Stamp() + text);
        g_lineOpen = true;
    } else if (g_lineOpen) {
        Emit(text + QLatin1String(kLineEnd));
        g_lineOpen = false;
    } else {
        Emit(Stamp() + text + QLatin1String(kLineEnd));
    }
}

void OpenDebugFile()
{
    OpenDebugStream();
}

void SetDebugFile(bool on)
{
    if (on) {
        OpenDebugStream();
        WriteDebug(QStringLiteral("Debug FILE mode is now on."));
    } else {
        WriteDebug(QStringLiteral("Debug FILE mode is now off."));
        DebugStream().close();
    }
}

bool SetDebugFileMode(bool currentState)
{
    if (QFileInfo::exists(platform::DataPath(QStringLiteral("debug.txt")))) {
        if (!currentState) {
            DebugFileOn = true;
            OpenDebugStream();
            WriteDebug(QStringLiteral("-----Debug file mode is now on------"));
        }
        return true;
    }
    if (currentState) {
        WriteDebug(QStringLiteral("-----Debug file mode is turning off------"));
        DebugStream().close();
    }
    return false;
}

void InstallTrace()
{
    rt::InstallTrace(&WriteTraceLine, &ReportError);
}

void SetNTEventSinkForTesting(NTEventSink sink)
{
    g_ntEventSink = sink;
}

void CloseDebugFile()
{
    DebugStream().close();
    g_lineOpen = false;
}

qint16 ReportError(qint16 severity, const QString& message, qint32 /*errorNumber*/,
                   const QString& moduleName, const QString& procedureName, qint16 site)
{
    const rt::CurrentError current = rt::Err();
    if (severity > Problem && current.number == 0)
        return 0;

    const QString origin = QStringLiteral("Origination: ") + moduleName + QStringLiteral("\r\n") +
                           QStringLiteral("ID: ") + procedureName + QLatin1Char(' ') +
                           QString::number(site);
    QString systemError = QStringLiteral(" ");
    if (current.number != 0) {
        const QString number = (current.number >= 0 ? QStringLiteral(" ") : QString()) +
                               QString::number(current.number);
        systemError = QStringLiteral("System Error: ") + number + QLatin1Char('\r') +
                      QStringLiteral("Description: ") + current.description;
    }
    QString eventText = message + QLatin1Char('\r') + origin + QLatin1Char('\r') + systemError;
    if (severity == Critical)
        eventText += QStringLiteral("\r\rDo you wish to continue?");

    if (severity > Information && settings::Options().LoggingNTEvntOn())
        LogNTEvent(eventText, severity == Problem ? EventInformation : EventWarning, 1);

    if (DebugOn) {
        WriteDebug(QStringLiteral("ERROR  Severity:") + QString::number(severity) +
                   QStringLiteral(", Err:") + QString::number(current.number) +
                   QStringLiteral(", Desc:") + current.description + QStringLiteral(", ") + origin +
                   QStringLiteral(", Msg:") + message + QStringLiteral(", Resp:0"));
    }
    rt::ClearError();
    return 0;
}

void LogNTEvent(const QString& text, qint16 eventType, qint32 /*eventId*/)
{
    if (g_ntEventSink) {
        g_ntEventSink(text, eventType);
        return;
    }
    // The source is opened and closed for every entry, as the event log wants.
    const QByteArray ident = settings::App().AppTitle.toLatin1();
    int level = LOG_INFO;
    if (eventType == EventError)
        level = LOG_ERR;
    else if (eventType == EventWarning)
        level = LOG_WARNING;
    openlog(ident.constData(), LOG_PID, LOG_USER);
    syslog(level, "%s", text.toLatin1().constData());
    closelog();
}

} // namespace logging

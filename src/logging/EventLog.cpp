#include "logging/EventLog.h"

#include "logging/ColumnText.h"
#include "logging/DebugLog.h"
#include "logging/LogFile.h"
#include "platform/SocketControl.h"
#include "runtime/CurrentError.h"
#include "runtime/Numbers.h"
#include "runtime/TextFormat.h"
#include "settings/AppState.h"
#include "settings/COptions.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>

namespace logging
{

QString LogDateFormat = QStringLiteral("yy-mm-dd hh:nn:ss");

namespace
{

constexpr qint16 kSyslogFacilityNtp = 12;
constexpr qint32 kSyslogPort = 514;

// The syslog socket: created on first use, closed after each datagram and
// reopened by the next; it lives until the program ends.
QPointer<platform::SocketControl> g_syslogSocket;
bool bSyslogReady = false;

QString EventLogHeader()
{
    const QString created = HeaderStamp(rt::Now());
    ColumnText header;
    header.At(1, QStringLiteral("Event Log")).At(30, created);
    ColumnText titles;
    titles.At(1, QStringLiteral("Date"))
        .At(10, QStringLiteral("Time"))
        .At(20, QStringLiteral("Type"))
        .At(28, QStringLiteral("Action"));
    ColumnText dashes;
    dashes.At(1, QStringLiteral("-----"))
        .At(10, QStringLiteral("----"))
        .At(20, QStringLiteral("----"))
        .At(28, QStringLiteral("-----"));
    return header.Text() + kCrLf + titles.Text() + kCrLf + dashes.Text() + kCrLf;
}

// Host and port of the syslog server option: "host" or "host:port". A text
// with more than one colon is an IPv6 address without a port.
void SplitServer(const QString& server, QString& host, qint32& port)
{
    host = server;
    port = kSyslogPort;
    const qsizetype colon = server.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0 || server.count(QLatin1Char(':')) != 1)
        return;
    bool ok = false;
    const int value = server.mid(colon + 1).toInt(&ok);
    if (ok && value > 0 && value < 65536) {
        host = server.left(colon);
        port = value;
    }
}

bool InitSyslogSocket()
{
    if (bSyslogReady && g_syslogSocket)
        return true;
    g_syslogSocket = new platform::SocketControl(QCoreApplication::instance());
    g_syslogSocket->setObjectName(QStringLiteral("syslogSocket"));
    g_syslogSocket->setProtocol(platform::SocketControl::sckUDPProtocol);
    g_syslogSocket->setLocalPort(0);
    g_syslogSocket->setRemotePort(kSyslogPort);
    NCL_TRACE(QStringLiteral("Syslog init OK"));
    bSyslogReady = true;
    return true;
}

} // namespace

QString LogStamp(rt::Date value)
{
    if (LogDateFormat.isEmpty())
        return rt::GeneralDate(value);
    return rt::FormatDate(value, LogDateFormat);
}

QString HeaderStamp(rt::Date value)
{
    return rt::ShortDate(value) + QLatin1Char(' ') +
           rt::FormatDate(value, QStringLiteral("hh:nn:ss"));
}

QString EventLabel(qint16 eventType)
{
    switch (eventType) {
    case EventInformation:
        return QStringLiteral("Info    ");
    case EventWarning:
        return QStringLiteral("Warning ");
    case EventError:
        return QStringLiteral("Error   ");
    default:
        return (eventType >= 0 ? QStringLiteral(" ") : QString()) + QString::number(eventType);
    }
}

void LogEvent(const QString& message, qint16 eventType, const QString& eventFile)
{
    const settings::COptions& options = settings::Options();
    const QString label = EventLabel(eventType);
    const QString line = LogStamp(rt::Now()) + QStringLiteral("  ") + label + message;

    if (options.LoggingEvntOn()) {
        if (eventFile.isEmpty())
            return;
        QString error;
        const bool created = !QFileInfo::exists(eventFile);
        const QString text = (created ? EventLogHeader() : QString()) + line + kCrLf;
        int osError = 0;
        if (!AppendWhole(eventFile, text, error, &osError)) {
            rt::RaiseErrno(osError, eventFile);
            ReportError(Problem, QStringLiteral("Couldn't write log file to ") + eventFile, 75,
                        QStringLiteral("modMain"), QStringLiteral("PrintEvntBody"), 10);
            return;
        }
    }
    if (options.LoggingNTEvntOn())
        LogNTEvent(line, eventType, 1);
    if (options.LoggingSyslogOn()) {
        const bool sent = SyslogMessage(label + message, settings::App().AppTitle,
                                        options.LoggingSyslogServ(), kSyslogFacilityNtp, eventType);
        NCL_TRACE(QStringLiteral("Syslog sent OK, result: ") + rt::BoolText(sent));
    }
}

QString SyslogDatagram(const QString& text, const QString& tag, qint16 facility, qint16 level)
{
    const qint32 priority = qint32(facility) * 8 + level + 2;
    // An empty time-stamp field: the collector stamps the message itself.
    return QLatin1Char('<') + QString::number(priority) + QLatin1Char('>') + QLatin1Char(' ') +
           tag + QStringLiteral(": ") + text;
}

bool SyslogMessage(const QString& text, const QString& tag, const QString& server, qint16 facility,
                   qint16 level)
{
    if (server.isEmpty()) {
        NCL_TRACE(QStringLiteral("No Target IP address or Hostname specified -  No message sent"));
        return false;
    }
    InitSyslogSocket();
    QCoreApplication::processEvents();
    // A handler that ran just now may have ended the program's objects.
    if (!g_syslogSocket) {
        bSyslogReady = false;
        return false;
    }
    const QString datagram = SyslogDatagram(text, tag, facility, level);
    QString host;
    qint32 port = kSyslogPort;
    SplitServer(server, host, port);
    g_syslogSocket->setRemoteHost(host);
    g_syslogSocket->setRemotePort(port);
    if (!g_syslogSocket->SendData(datagram)) {
        const rt::CurrentError error = rt::Err();
        NCL_TRACE(QStringLiteral("Error sending syslog: ") + QString::number(error.number) + kCrLf +
                  error.description);
        rt::ClearError();
        g_syslogSocket->Close();
        return false;
    }
    NCL_TRACE(QStringLiteral("syslog : Message:_") + datagram + QStringLiteral("_ Sent OK."));
    g_syslogSocket->Close();
    return true;
}

} // namespace logging

#include "service/ConsoleRequests.h"

#include "logging/DebugLog.h"
#include "runtime/CurrentError.h"
#include "runtime/DateTime.h"
#include "runtime/TextFormat.h"
#include "service/Listener.h"
#include "service/RateLimit.h"
#include "service/TimeReplies.h"
#include "settings/AppState.h"
#include "settings/COptions.h"
#include "timeset/CNISTtimeset.h"

namespace service
{

namespace
{

const QString kCrLf2 = QStringLiteral("\r\n\r\n");

bool ModuleRole()
{
    return settings::App().ModuleType == settings::ModuleType::ServiceModule;
}

bool IsCommandLetter(char first)
{
    return first == 'H' || first == 'T' || first == 'S' || first == 'F' || first == 'C' ||
           first == 'X';
}

} // namespace

ConsoleRequests::ConsoleRequests(Listener& listener, timeset::CNISTDisplay& display,
                                 QObject* parent)
    : QObject(parent), m_listener(listener), m_display(display), m_sntp(listener.limits)
{
    m_listener.SetRequestDataHandler(
        [this](qint16 index, const QByteArray& data) { DataArrival(index, data); });
    m_listener.tcpServer.SetDatagramResponder(&m_sntp);
}

ConsoleRequests::~ConsoleRequests()
{
    m_listener.tcpServer.SetDatagramResponder(nullptr);
    m_listener.SetRequestDataHandler(nullptr);
}

bool ConsoleRequests::Unanswered(const QByteArray& data, const platform::SocketControl& element)
{
    const quint8 first = quint8(data.at(0));
    const bool command = ModuleRole() && IsCommandLetter(char(first));
    if (!command && !IsSntpRequest(first)) {
        NCL_TRACE(QStringLiteral("No reply to a datagram that is no request: first byte ") +
                  QString::number(first, 16).toUpper() + QStringLiteral(" (mode ") +
                  QString::number(first & 7) + QStringLiteral(", version ") +
                  QString::number((first >> 3) & 7) + QLatin1Char(')'));
        return true;
    }
    const QString peer = element.RemoteHostIP();
    if (m_listener.limits.On() && !m_listener.limits.Allow(QHostAddress(peer))) {
        NCL_TRACE(QStringLiteral("Rate limit: no reply to ") + peer);
        return true;
    }
    return false;
}

void ConsoleRequests::DataArrival(qint16 index, const QByteArray& data)
{
    const qint16 clientFormat = settings::Options().ClientFormat();
    const platform::SocketControl* element = m_listener.tcpServer.Item(index);
    if (!m_access.Serves(element ? element->RemoteHostIP() : QString(), ModuleRole(),
                         clientFormat == settings::ClientFormat::Sntp, data))
        return;
    if (!ModuleRole()) {
        TimeServer(index, data, clientFormat);
        return;
    }
    if (clientFormat == settings::ClientFormat::Nist)
        ModuleTcp(index, data);
    else if (clientFormat == settings::ClientFormat::Sntp)
        ModuleUdp(index, data);
    else
        NCL_TRACE(QStringLiteral("SERVER ENT format error"));
}

void ConsoleRequests::ReportArrivalError()
{
    logging::ReportError(logging::Information, QStringLiteral("Server- Data arrival error."),
                         rt::Err().number, QStringLiteral("frmMainEntSrvc"),
                         QStringLiteral("DataArrival"), 29);
}

void ConsoleRequests::ShowRequest(const QString& peer, const QString& action,
                                  const QString& response)
{
    Q_EMIT StatusText(rt::GeneralDate(rt::Now()) + QStringLiteral(" Request from ") + peer +
                      kCrLf2 + action + kCrLf2 + QStringLiteral("Response: ") + response);
}

void ConsoleRequests::SetClock(const QByteArray& request)
{
    // The engine reports to the display and may be released by it at the end
    // of DataArrived: nothing touches it afterwards.
    timeset::CNISTtimeset own;
    timeset::CNISTtimeset& engine = Engine ? Engine() : own;
    engine.System_get_timezone();
    engine.DataArrived(request, m_display);
}

void ConsoleRequests::ModuleTcp(qint16 index, const QByteArray& data)
{
    platform::SocketControl* element = m_listener.tcpServer.Item(index);
    if (!element)
        return;
    NCL_TRACE(QStringLiteral("SERVER TCP NIST(ENT), local port: ") +
              QString::number(element->LocalPort()) + QStringLiteral(", remote port: ") +
              QString::number(element->RemotePort()));
    NCL_TRACE(QStringLiteral("<SVC MOD: Data Arrival from server "));
    Q_EMIT StatusText(QString());
    const QString request = QString::fromLatin1(data);
    const qsizetype plus = request.indexOf(QLatin1Char('+'));
    if (plus < 0)
        return; // not a request: no reply, the connection stays open
    const QString command = request.left(plus);
    const QString peer = element->RemoteHostIP();
    NCL_TRACE(peer + QStringLiteral(" Cmd: ") + command);

    QString action;
    QString response = QStringLiteral("OK");
    QString reply;
    bool setClock = false;
    if (command == QLatin1String("H")) {
        action = QStringLiteral("Check Heartbeat");
        reply = QStringLiteral("OK-H ") + settings::Options().MACaddr();
    } else if (command == QLatin1String("T")) {
        action = QStringLiteral("Check client time");
        NCL_TRACE(QStringLiteral("Begin SendData at: ") + Listener::UtcStamp());
        reply = QStringLiteral("OK-T ") + UtcDateTimeText(UtcReading::Now());
    } else if (command == QLatin1String("S")) {
        action = QStringLiteral("Set client time");
        NCL_TRACE(QStringLiteral("<Time strg:_") + request + QLatin1Char('_'));
        const UtcReading now = UtcReading::Now();
        reply = QStringLiteral("OK-S ") + UtcShortDateTime(now) + FractionText(now.Fraction());
        setClock = true;
    } else if (command == QLatin1String("F")) {
        action = QStringLiteral("Force client time");
        NCL_TRACE(QStringLiteral("<Force time strg:_") + request + QLatin1Char('_'));
        reply = QStringLiteral("OK-F ") + UtcShortDateTime(UtcReading::Now());
        setClock = true;
    } else if (command == QLatin1String("C")) {
        response = do_command ? do_command(request, index, action) : QString();
        reply = QStringLiteral("OK-C");
    } else if (command == QLatin1String("X")) {
        QString status;
        if (do_Relay)
            response = do_Relay(request, settings::Options().X10ComPort(), status, action);
        else
            response.clear();
        reply = QStringLiteral("OK-X ") + status;
    } else {
        action = QStringLiteral("Unknown command");
        response = QStringLiteral("Error");
        reply = QStringLiteral("Unknown");
    }

    // A remote action may have closed or replaced the element.
    element = m_listener.tcpServer.Item(index);
    if (!element || !element->SendData(reply)) {
        ReportArrivalError();
        return;
    }
    if (command == QLatin1String("T"))
        NCL_TRACE(QStringLiteral("End SendData at: ") + Listener::UtcStamp());
    if (setClock)
        SetClock(data);
    ShowRequest(peer, action, response);
}

void ConsoleRequests::ModuleUdp(qint16 index, const QByteArray& data)
{
    platform::SocketControl* element = m_listener.tcpServer.Item(index);
    if (!element)
        return;
    NCL_TRACE(QStringLiteral("SERVER UDP SNTP client, local port: ") +
              QString::number(element->LocalPort()) + QStringLiteral(", remote port: ") +
              QString::number(element->RemotePort()));
    if (data.size() < 2) {
        NCL_TRACE(QStringLiteral("Reply is empty"));
        return; // the element stays bound
    }
    NCL_TRACE(HexDump(QStringLiteral("In from SNTP TDENT:"), data));
    const QChar command = QLatin1Char(data.at(0));
    const QString peer = element->RemoteHostIP();
    NCL_TRACE(peer + QStringLiteral(" Cmd: ") + command);
    if (Unanswered(data, *element))
        return; // the element stays bound

    QString action;
    QString response = QStringLiteral("OK");
    switch (command.toLatin1()) {
    case 'H':
        action = QStringLiteral("Check Heartbeat");
        SendUdpString(m_listener, QStringLiteral("OK-H"));
        break;
    case 'T':
        action = QStringLiteral("Check client time");
        send_NTP_time(m_listener, data);
        break;
    case 'S':
        action = QStringLiteral("Set client time");
        NCL_TRACE(QStringLiteral("<Time strg:__"));
        send_NTP_time(m_listener, data);
        SetClock(data);
        break;
    case 'F': {
        action = QStringLiteral("Force client time");
        NCL_TRACE(QStringLiteral("<Force time strg:__"));
        const QByteArray copy = data;
        send_NTP_time(m_listener, copy);
        SetClock(data);
        break;
    }
    case 'C':
        response = do_command ? do_command(PrintableText(data), index, action) : QString();
        SendUdpString(m_listener, QStringLiteral("OK-C"));
        break;
    case 'X': {
        QString log;
        if (do_Relay)
            response = do_Relay(PrintableText(data), settings::Options().X10ComPort(), action, log);
        else
            response.clear();
        SendUdpString(m_listener, QStringLiteral("OK-X"));
        break;
    }
    default:
        action = QStringLiteral("Check client time SNTP");
        send_NTP_time(m_listener, data);
        break;
    }
    ShowRequest(peer, action, response);
    if (logging::DebugOn) {
        if (const platform::SocketControl* e = m_listener.tcpServer.Item(index))
            m_listener.LogState(e->State());
    }
    // Every console datagram moves the service to a fresh bound element.
    m_listener.CloseInstance(m_listener.CurrentInstance);
    m_listener.NextInstance(m_listener.CurrentInstance);
    m_listener.serv_init(m_listener.CurrentInstance);
}

void ConsoleRequests::TimeServer(qint16 index, const QByteArray& data, qint16 clientFormat)
{
    NCL_TRACE(QStringLiteral("SERVER: Data Arrival from ENT "));
    switch (clientFormat) {
    case settings::ClientFormat::Nist:
        if (!SendNistText(m_listener, index, data))
            ReportArrivalError();
        break;
    case settings::ClientFormat::Sntp: {
        const platform::SocketControl* element = m_listener.tcpServer.Item(index);
        NCL_TRACE(QStringLiteral("SERVER SNTP client, local port: ") +
                  QString::number(element ? element->LocalPort() : 0) +
                  QStringLiteral(", remote port: ") +
                  QString::number(element ? element->RemotePort() : 0));
        NCL_TRACE(HexDump(QStringLiteral("In from SNTP client:"), data));
        // A short request is reported by send_NTP_time.
        if (element && data.size() >= kDatagramSize && Unanswered(data, *element))
            break;
        send_NTP_time(m_listener, data); // the element stays bound for the next request
        break;
    }
    case settings::ClientFormat::Daytime:
        break;
    default:
        NCL_TRACE(QStringLiteral("SERVER Client format error"));
        break;
    }
}

} // namespace service

#include "service/Listener.h"

#include "logging/DebugLog.h"
#include "platform/ListeningPort.h"
#include "platform/SystemClock.h"
#include "runtime/CurrentError.h"
#include "runtime/TextFormat.h"
#include "schedule/Pauses.h"
#include "settings/AppState.h"
#include "settings/COptions.h"

#include <QPointer>
#include <QTimer>

namespace service
{

namespace
{

const QString kModule = QStringLiteral("frmMainEntSrvc");
constexpr qint16 kCloseRounds = 5;

bool ModuleRole()
{
    return settings::App().ModuleType == settings::ModuleType::ServiceModule;
}

void Report(qint16 severity, const QString& message, const QString& procedure, qint16 site)
{
    logging::ReportError(severity, message, rt::Err().number, kModule, procedure, site);
}

int IdleLimitFromEnvironment()
{
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("NCLMOD_TEST_IDLE_LIMIT_MS", &ok);
    return ok && ms > 0 ? ms : 30000;
}

} // namespace

Listener::Listener(QObject* parent) : QObject(parent), m_idleLimitMs(IdleLimitFromEnvironment())
{
    connect(&tcpServer, &platform::SocketArray::ConnectionRequest, this,
            &Listener::ConnectionRequest);
    connect(&tcpServer, &platform::SocketArray::DataArrival, this, &Listener::DataArrival);
    connect(&tcpServer, &platform::SocketArray::CloseEvent, this, &Listener::Close);
    connect(&tcpServer, &platform::SocketArray::Error, this, &Listener::Error);
    connect(&tcpServer, &platform::SocketArray::SendProgress, this, &Listener::SendProgress);
    connect(&tcpServer, &platform::SocketArray::SendComplete, this, &Listener::SendComplete);
}

void Listener::SetRequestDataHandler(RequestDataHandler handler)
{
    m_requestData = std::move(handler);
}

platform::SocketControl* Listener::Element(qint16 index)
{
    platform::SocketControl* element = tcpServer.Item(index);
    if (!element)
        rt::RaiseError(340, QStringLiteral("Control array element '") + QString::number(index) +
                                QStringLiteral("' doesn't exist"));
    return element;
}

QString Listener::ProtocolName(qint16 clientFormat)
{
    switch (clientFormat) {
    case settings::ClientFormat::Nist:
    case settings::ClientFormat::Daytime:
    case settings::ClientFormat::BinaryTimeTcp:
        return QStringLiteral("TCP");
    case settings::ClientFormat::Sntp:
    case settings::ClientFormat::BinaryTimeUdp:
        return QStringLiteral("UDP");
    default:
        NCL_TRACE(QStringLiteral("Unknown format!"));
        return QString();
    }
}

QString Listener::UtcStamp()
{
    const platform::SystemTime t = platform::Clock().GetSystemTime();
    return QStringLiteral("%1:%2:%3.%4")
        .arg(t.wHour)
        .arg(t.wMinute, 2, 10, QLatin1Char('0'))
        .arg(t.wSecond, 2, 10, QLatin1Char('0'))
        .arg(t.wMilliseconds, 3, 10, QLatin1Char('0'));
}

qint16 Listener::LogState(qint16 state)
{
    NCL_TRACE(QStringLiteral("State [") + rt::FormatDate(rt::Now(), QStringLiteral("hh:nn:ss")) +
              QStringLiteral("]: ") + platform::SocketControl::StateName(state));
    return state;
}

void Listener::serv_init(qint16 instance)
{
    platform::SocketControl* element = Element(instance);
    if (!element) {
        Report(1, QStringLiteral("Can't init server."), QStringLiteral("serv_init"), 25);
        return;
    }
    const qint16 port = settings::Options().TCPPort();
    const qint16 clientFormat = settings::Options().ClientFormat();
    element->setLocalPort(port);
    element->setRemotePort(port);
    ReleaseOldPort(port, settings::ClientFormat::UsesUdp(clientFormat));
    bool ok = false;
    if (!settings::ClientFormat::UsesUdp(clientFormat)) {
        element->setProtocol(platform::SocketControl::sckTCPProtocol);
        ok = element->Listen();
        if (ok)
            m_tcpPort = quint16(element->LocalPort());
    } else {
        element->setProtocol(platform::SocketControl::sckUDPProtocol);
        ok = element->Bind();
    }
    if (!ok) {
        const qint32 number = rt::Err().number;
        const QString text = PortUnavailableText(port, number, rt::Err().description);
        Report(1, QStringLiteral("Can't init server."), QStringLiteral("serv_init"), 25);
        if (!m_opened)
            Q_EMIT PortUnavailableAtStart(number, text);
        return;
    }
    m_opened = true;
    NCL_TRACE(QStringLiteral("Service server listening on ") + ProtocolName(clientFormat) +
              QStringLiteral(" port ") + QString::number(element->LocalPort()));
    ListenerNeedsReset = false;
}

QString Listener::PortUnavailableText(qint16 port, qint32 number, const QString& description)
{
    const QString p = QStringLiteral("port ") + QString::number(quint16(port));
    switch (number) {
    case platform::SocketControl::sckAddressInUse:
        return p + QStringLiteral(" is already in use by another program");
    case platform::SocketControl::sckPermissionDenied:
        return p + QStringLiteral(" needs root or CAP_NET_BIND_SERVICE");
    case platform::SocketControl::sckAddressNotAvailable:
        return p + QStringLiteral(" cannot be opened: ") + platform::ListenAddress().toString() +
               QStringLiteral(" (NCLMOD_BIND_ADDRESS) is not an address of this computer");
    default:
        return p + QStringLiteral(" cannot be opened: ") + description;
    }
}

void Listener::reset_server(qint16 instance)
{
    if (ModuleRole())
        NCL_TRACE(QStringLiteral(">SVC MOD: Resetting port. Index ") + QString::number(instance));
    else
        NCL_TRACE(QStringLiteral("SERVER: Resetting server"));
    ListenerNeedsReset = false;
    StopIdleTimer(instance);
    if (!Element(instance)) {
        Report(1, QStringLiteral("Can't reset server."), QStringLiteral("reset_server"), 25);
        return;
    }
    if (!CloseInstance(instance)) {
        NCL_TRACE(QStringLiteral("reset_server: failed to close connection"));
        UnloadIfRetiring(instance);
        return;
    }
    // Its exchange has ended: an element that a newer connection replaced goes now.
    if (UnloadIfRetiring(instance))
        return;
    // The pauses of the close rounds let events run; the element may be gone.
    platform::SocketControl* element = Element(instance);
    if (!element) {
        Report(1, QStringLiteral("Can't reset server."), QStringLiteral("reset_server"), 25);
        return;
    }
    const qint16 port = settings::Options().TCPPort();
    const QString servername = settings::Options().Servername();
    ReleaseOldPort(port, settings::ClientFormat::UsesUdp(settings::Options().ClientFormat()));
    bool ok = false;
    if (settings::ClientFormat::UsesUdp(settings::Options().ClientFormat())) {
        element->setRemoteHost(servername);
        element->setRemotePort(port);
        element->setLocalPort(port);
        element->setProtocol(platform::SocketControl::sckUDPProtocol);
        ok = element->Bind();
    } else {
        element->setProtocol(platform::SocketControl::sckTCPProtocol);
        element->setRemoteHost(servername);
        element->setRemotePort(port);
        element->setLocalPort(port);
        ok = element->Listen();
        if (ok)
            m_tcpPort = quint16(element->LocalPort());
        if (ok && element->State() != platform::SocketControl::sckListening) {
            NCL_TRACE(QStringLiteral("FAILED TO RESET_SERVER"));
            return;
        }
    }
    if (!ok) {
        Report(1, QStringLiteral("Can't reset server."), QStringLiteral("reset_server"), 25);
        return;
    }
    if (logging::DebugOn) {
        const qint16 state = LogState(element->State());
        logging::WriteDebug(QStringLiteral("Reset_Server: state ") + QString::number(state) +
                            QStringLiteral(" on port ") + QString::number(element->RemotePort()));
    }
    ListenerNeedsReset = false;
}

qint16 Listener::NextInstance(qint16 instance)
{
    const qint16 previous = instance;
    // After the last 16-bit index the rotation starts again at 1; element 0
    // stays, and so does an index whose element is still finishing its exchange.
    qint16 next = previous;
    for (int tries = 0; tries == 0 || (m_retiring.contains(next) && tries < 32767); ++tries)
        next = next >= 32767 ? qint16(1) : qint16(next + 1);
    CurrentInstance = next;
    tcpServer.Load(CurrentInstance);
    if (previous >= 1 && previous != CurrentInstance) {
        // One by one, the element in use has had its exchange (the peer closed,
        // it was reset and listens again) and is destroyed at once. When the
        // next connection comes while that exchange still runs, destroying the
        // element would cut the peer off mid-request, so it is destroyed when
        // the exchange ends instead (reset_server).
        if (InExchange(previous)) {
            m_retiring.insert(previous);
        } else {
            StopIdleTimer(previous);
            tcpServer.Unload(previous);
        }
    }
    return CurrentInstance;
}

bool Listener::InExchange(qint16 index) const
{
    const platform::SocketControl* element = tcpServer.Item(index);
    return element && (element->State() == platform::SocketControl::sckConnected ||
                       element->State() == platform::SocketControl::sckClosing);
}

int Listener::OpenConnections(const QString& peer) const
{
    int open = 0;
    for (const qint16 index : tcpServer.Indexes())
        if (InExchange(index) && tcpServer.Item(index)->RemoteHostIP() == peer)
            ++open;
    return open;
}

bool Listener::UnloadIfRetiring(qint16 index)
{
    if (!m_retiring.remove(index))
        return false;
    tcpServer.Unload(index);
    NCL_TRACE(QStringLiteral("Element ") + QString::number(index) +
              QStringLiteral(" unloaded at the end of its exchange"));
    return true;
}

void Listener::ReleaseOldPort(qint16 port, bool udp)
{
    if (m_tcpPort == 0 || (!udp && m_tcpPort == quint16(port)))
        return;
    platform::ListeningPort::Close(platform::ListenAddress(), m_tcpPort);
    m_tcpPort = 0;
}

void Listener::RestartIdleTimer(qint16 index)
{
    QTimer*& timer = m_idleTimers[index];
    if (!timer) {
        timer = new QTimer(this);
        timer->setSingleShot(true);
        timer->setInterval(m_idleLimitMs);
        connect(timer, &QTimer::timeout, this, [this, index] { CloseIdle(index); });
    }
    timer->start();
}

void Listener::StopIdleTimer(qint16 index)
{
    if (QTimer* timer = m_idleTimers.take(index))
        timer->deleteLater();
}

void Listener::CloseIdle(qint16 index)
{
    NCL_TRACE(QStringLiteral("Idle connection closed: nothing received for ") +
              QString::number(m_idleLimitMs / 1000.0) + QStringLiteral(" s. Index ") +
              QString::number(index));
    reset_server(index);
}

bool Listener::CloseRounds(const std::function<platform::SocketControl*()>& socket)
{
    for (qint16 round = 0; round < kCloseRounds; ++round) {
        // An element destroyed during a pause has nothing left open.
        platform::SocketControl* s = socket();
        if (!s)
            return true;
        s->Close();
        if (s->State() <= 0)
            return true;
        schedule::PauseMilliseconds(100);
        s = socket();
        if (!s || s->State() <= 0)
            return true;
        schedule::PauseSeconds(2);
    }
    return false;
}

bool Listener::CloseInstance(qint16 instance)
{
    if (!Element(instance))
        return false;
    return CloseRounds([this, instance] { return tcpServer.Item(instance); });
}

bool Listener::clientClose(platform::SocketControl* socket)
{
    QPointer<platform::SocketControl> guarded(socket);
    return CloseRounds([guarded] { return guarded.data(); });
}

bool Listener::WithinRateLimit(const platform::SocketControl* element)
{
    if (!element || !limits.On() || limits.Allow(QHostAddress(element->RemoteHostIP())))
        return true;
    NCL_TRACE(QStringLiteral("Rate limit: connection from ") + element->RemoteHostIP() +
              QStringLiteral(" closed"));
    return false;
}

void Listener::ConnectionRequest(qint16 index, qint32 requestID)
{
    const platform::SocketControl* element = tcpServer.Item(index);
    // A request not accepted is closed by the socket control.
    if (!WithinRateLimit(element))
        return;
    if (ModuleRole()) {
        NCL_TRACE(QStringLiteral("<SVC MOD: connection request from server on remote port ") +
                  QString::number(element ? element->RemotePort() : 0));
        Q_EMIT StatusText(rt::GeneralDate(rt::Now()) +
                          QStringLiteral(" Connection request from server..."));
        NCL_TRACE(QStringLiteral("Conn Req at: ") + UtcStamp());
    } else {
        NCL_TRACE(QStringLiteral("SERVER: Connection Request from ") +
                  (element ? element->RemoteHostIP() : QString()));
    }
    const qint16 clientFormat = settings::Options().ClientFormat();
    if (clientFormat == settings::ClientFormat::Nist) {
        // One peer cannot hold every element: past the cap it is closed at once.
        const QString peer = element ? element->RemoteHostIP() : QString();
        if (OpenConnections(peer) >= kMaxConnectionsPerPeer) {
            NCL_TRACE(QStringLiteral("Connection from ") + peer + QStringLiteral(" closed: ") +
                      QString::number(kMaxConnectionsPerPeer) +
                      QStringLiteral(" connections from it are open"));
            return;
        }
        NextInstance(CurrentInstance);
        NCL_TRACE(QStringLiteral(" TCP, NIST  format"));
        platform::SocketControl* accepting = tcpServer.Item(CurrentInstance);
        if (accepting && accepting->Accept(requestID))
            RestartIdleTimer(CurrentInstance);
        else
            Report(2, QStringLiteral("Bad connection request."),
                   QStringLiteral("ConnectionRequest"), 27);
    } else if (clientFormat == settings::ClientFormat::Sntp) {
        NCL_TRACE(QStringLiteral(" UDP, STNP format (ERROR)"));
    } else {
        NCL_TRACE(QStringLiteral("Connection rquest from unknown client format!"));
    }
}

void Listener::DataArrival(qint16 index, qint32 bytesTotal)
{
    platform::SocketControl* element = tcpServer.Item(index);
    if (!element)
        return;
    if (m_idleTimers.contains(index))
        RestartIdleTimer(index);
    const QByteArray data = element->GetData();
    if (m_requestData)
        m_requestData(index, data);
}

void Listener::Close(qint16 index)
{
    if (ModuleRole())
        NCL_TRACE(QStringLiteral(">SVC MOD: server requests close..."));
    reset_server(index);
}

void Listener::Error(qint16 index, qint16 number, const QString& description)
{
    NCL_TRACE(QStringLiteral("Server Winsock Error: ") + QString::number(number) +
              QStringLiteral("\r\n") + description);
    ListenerNeedsReset = true;
    reset_server(index);
}

void Listener::SendProgress(qint16 index, qint32 bytesSent, qint32 bytesRemaining)
{
    NCL_TRACE(QStringLiteral(" SendProgress: ") + UtcStamp());
}

void Listener::SendComplete(qint16 index)
{
    if (!ModuleRole())
        return;
    NCL_TRACE(QStringLiteral(">SVC MOD: SendComplete"));
    NCL_TRACE(QStringLiteral(" Completed at: ") + UtcStamp());
}

} // namespace service

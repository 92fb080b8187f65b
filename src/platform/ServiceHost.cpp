#include "platform/ServiceHost.h"

#include "platform/ServiceChannel.h"
#include "platform/ServiceErrors.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>
#include <QVariant>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

namespace platform
{

namespace
{

constexpr int kMaxConnections = 16;

// A service usually ends by exit(), which never destroys its host: the
// socket and lock files are removed then, so that the runtime folder does
// not fill up with them.
char g_socketAtExit[PATH_MAX];
char g_lockAtExit[PATH_MAX];

void RemoveFilesAtExit()
{
    for (const char* path : {g_socketAtExit, g_lockAtExit}) {
        if (*path)
            ::unlink(path);
    }
}

void RemoveAtExit(const QString& socket, const QString& lock)
{
    static const bool registered = std::atexit(RemoveFilesAtExit) == 0;
    Q_UNUSED(registered);
    std::snprintf(g_socketAtExit, sizeof g_socketAtExit, "%s",
                  QFile::encodeName(socket).constData());
    std::snprintf(g_lockAtExit, sizeof g_lockAtExit, "%s", QFile::encodeName(lock).constData());
}

// Only root and the service's own user may control it.
bool PeerAllowed(QLocalSocket* socket)
{
    struct ucred peer {
    };
    socklen_t size = sizeof peer;
    if (::getsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
        return false;
    return peer.uid == 0 || peer.uid == ::getuid();
}

bool Pending(quint32 state)
{
    return state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ||
           state == SERVICE_STOPPED;
}

} // namespace

ServiceHost::ServiceHost(const QString& serviceName, QObject* parent)
    : QObject(parent), m_serviceName(serviceName)
{
}

ServiceHost::~ServiceHost()
{
    if (!m_server)
        return;
    RemoveAtExit({}, {});
    m_server->close();
    m_state = SERVICE_STOPPED;
    Publish();
}

bool ServiceHost::Open(QString* error)
{
    if (m_server)
        return true;
    if (!m_lock.TryAcquire(error))
        return false;
    m_socketName = ServiceSocketName(m_serviceName);
    if (m_socketName.isEmpty()) {
        RuntimeFolder(error);
        m_lock.Release();
        return false;
    }
    auto* server = new QLocalServer(this);
    // Owner-only on top of the private folder it lies in.
    server->setSocketOptions(QLocalServer::UserAccessOption);
    server->setMaxPendingConnections(kMaxConnections);
    // A socket file left by a killed service: the lock says nobody serves it.
    QLocalServer::removeServer(m_socketName);
    if (!server->listen(m_socketName)) {
        if (error)
            *error =
                QStringLiteral("cannot listen on the control socket: ") + server->errorString();
        delete server;
        m_lock.Release();
        return false;
    }
    m_server = server;
    RemoveAtExit(m_socketName, m_lock.Path());
    connect(m_server, &QLocalServer::newConnection, this, &ServiceHost::onNewConnection);
    Publish();
    return true;
}

void ServiceHost::SetControlsAccepted(quint32 accepted)
{
    m_accepted = accepted;
    Publish();
}

void ServiceHost::SetState(quint32 state)
{
    m_state = state;
    Publish();
}

void ServiceHost::Publish()
{
    if (!m_server)
        return;
    ServiceRuntimeRecord record;
    record.process = IdentifyProcess(::getpid());
    record.state = m_state;
    record.controlsAccepted = ControlsAccepted();
    record.socketName = m_socketName;
    WriteServiceRuntime(m_serviceName, record);
}

void ServiceHost::onNewConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        if (m_connections >= kMaxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!PeerAllowed(socket)) {
            // The refusal is all it gets; the object goes once it is sent.
            socket->setProperty("answered", true);
            Reply(socket, SVC_ERROR_ACCESS_DENIED);
            if (socket->state() == QLocalSocket::UnconnectedState)
                socket->deleteLater();
            continue;
        }
        ++m_connections;
        connect(socket, &QObject::destroyed, this, [this] { --m_connections; });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { onReadable(socket); });
        // A client that connects and never sends must not hold a slot for ever.
        auto* idle = new QTimer(socket);
        idle->setSingleShot(true);
        connect(idle, &QTimer::timeout, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        idle->start(m_idleTimeoutMs);
        if (socket->bytesAvailable() > 0)
            onReadable(socket);
    }
}

void ServiceHost::onReadable(QLocalSocket* socket)
{
    if (socket->property("answered").toBool()) {
        socket->readAll();
        return;
    }
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kServiceRequestMaxBytes) {
            socket->abort();
            socket->deleteLater();
        }
        return;
    }
    QByteArray line = socket->readLine(kServiceRequestMaxBytes + 2);
    socket->setProperty("answered", true);
    if (!line.endsWith('\n')) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    quint32 code = 0;
    if (!ParseControlRequest(line, code)) {
        Reply(socket, SVC_ERROR_INVALID_PARAMETER);
        return;
    }
    const quint32 refusal = Refusal(code);
    if (refusal != 0) {
        Reply(socket, refusal);
        return;
    }
    Dispatch(socket, code);
}

quint32 ServiceHost::Refusal(quint32 code) const
{
    const bool pauseContinue = (m_accepted & SERVICE_ACCEPT_PAUSE_CONTINUE) != 0;
    switch (code) {
    case 1:
        if (m_state == SERVICE_STOP_PENDING || m_state == SERVICE_STOPPED)
            return SVC_ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
        return 0;
    case 2:
    case 3:
        if (!pauseContinue)
            return SVC_ERROR_INVALID_SERVICE_CONTROL;
        if (m_state != SERVICE_RUNNING && m_state != SERVICE_PAUSED)
            return SVC_ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
        return 0;
    case 4:
        return 0;
    case 5: // shutdown is the system's own, not the manager's to send
        return SVC_ERROR_INVALID_SERVICE_CONTROL;
    default:
        if (Pending(m_state))
            return SVC_ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
        return 0;
    }
}

void ServiceHost::Dispatch(QLocalSocket* socket, quint32 code)
{
    QPointer<QLocalSocket> guard(socket);
    switch (code) {
    case 1:
        SetState(SERVICE_STOP_PENDING);
        Reply(socket, 0);
        QTimer::singleShot(0, this, [this] { Q_EMIT StopRequested(); });
        return;
    case 2:
        SetState(SERVICE_PAUSE_PENDING);
        Q_EMIT PauseRequested();
        break;
    case 3:
        SetState(SERVICE_CONTINUE_PENDING);
        Q_EMIT ContinueRequested();
        break;
    case 4:
        Q_EMIT InterrogateRequested();
        break;
    default:
        Q_EMIT ControlRequested(code);
        break;
    }
    if (guard)
        Reply(guard, 0);
}

void ServiceHost::Reply(QLocalSocket* socket, quint32 error)
{
    ServiceReply reply;
    reply.error = error;
    reply.state = m_state;
    reply.controlsAccepted = ControlsAccepted();
    socket->write(FormatReply(reply));
    socket->disconnectFromServer();
}

} // namespace platform

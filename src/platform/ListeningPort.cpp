#include "platform/ListeningPort.h"

#include "platform/PortBinding.h"
#include "platform/SocketControl.h"

#include <QHash>
#include <QTcpSocket>
#include <QTimer>

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace platform
{

namespace
{

// A listener that met an accept error (no descriptors left, say) tries again
// after this pause rather than at once, so that the error is not told in a loop.
constexpr int kAcceptRetryMs = 100;

QHash<QString, QPointer<ListeningPort>>& Ports()
{
    static QHash<QString, QPointer<ListeningPort>> ports;
    return ports;
}

QString Key(const QHostAddress& address, quint16 port)
{
    return address.toString() + QLatin1Char(':') + QString::number(port);
}

} // namespace

ListeningPort* ListeningPort::Open(const QHostAddress& address, quint16 port, QObject* owner,
                                   int& err)
{
    if (port != 0) {
        if (ListeningPort* existing = Ports().value(Key(address, port)))
            return existing;
    }
    const int fd = BindPort(SOCK_STREAM, address, port, PortSharing::Exclusive, err);
    if (fd < 0)
        return nullptr;
    if (::listen(fd, SOMAXCONN) != 0) {
        err = errno;
        ::close(fd);
        return nullptr;
    }
    auto* listening = new ListeningPort(owner);
    if (!listening->m_server.setSocketDescriptor(fd)) {
        ::close(fd);
        delete listening;
        err = EINVAL;
        return nullptr;
    }
    listening->m_key = Key(address, listening->Port());
    Ports().insert(listening->m_key, listening);
    return listening;
}

bool ListeningPort::Close(const QHostAddress& address, quint16 port)
{
    QPointer<ListeningPort> listening = Ports().take(Key(address, port));
    if (!listening)
        return false;
    listening->ReleaseViews();
    listening->m_server.close();
    // Later: this may run inside the server's own connection signal.
    listening->deleteLater();
    return true;
}

ListeningPort::ListeningPort(QObject* owner) : QObject(owner)
{
    connect(&m_server, &QTcpServer::newConnection, this, &ListeningPort::OfferQueued);
    connect(&m_server, &QTcpServer::acceptError, this, &ListeningPort::OnAcceptError);
}

ListeningPort::~ListeningPort()
{
    if (Ports().value(m_key) == this)
        Ports().remove(m_key);
    ReleaseViews();
}

void ListeningPort::ReleaseViews()
{
    for (const QPointer<SocketControl>& view : std::exchange(m_views, {}))
        if (view)
            view->ListeningPortClosed(this);
}

void ListeningPort::Attach(SocketControl* view)
{
    m_views.removeAll(QPointer<SocketControl>());
    if (!m_views.contains(view))
        m_views.append(view);
    // Connections that came while nobody listened are offered now.
    if (m_server.hasPendingConnections())
        QMetaObject::invokeMethod(this, &ListeningPort::OfferQueued, Qt::QueuedConnection);
}

void ListeningPort::Detach(SocketControl* view)
{
    m_views.removeAll(QPointer<SocketControl>(view));
}

SocketControl* ListeningPort::FirstListening() const
{
    for (const QPointer<SocketControl>& view : m_views)
        if (view && view->State() == SocketControl::sckListening)
            return view;
    return nullptr;
}

void ListeningPort::OfferQueued()
{
    QPointer<ListeningPort> self(this);
    while (self && m_server.hasPendingConnections()) {
        SocketControl* view = FirstListening();
        if (!view)
            return; // they wait, queued, until a view listens again
        QTcpSocket* socket = m_server.nextPendingConnection();
        if (!socket)
            return;
        view->OfferConnection(socket);
    }
}

void ListeningPort::OnAcceptError(QAbstractSocket::SocketError error)
{
    QTimer::singleShot(kAcceptRetryMs, this, [this] { m_server.resumeAccepting(); });
    if (SocketControl* view = FirstListening())
        view->ListenerFailed(error);
}

} // namespace platform

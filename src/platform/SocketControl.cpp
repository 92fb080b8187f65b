#include "platform/SocketControl.h"

#include "platform/DatagramSocket.h"
#include "platform/ListeningPort.h"
#include "platform/PortBinding.h"
#include "runtime/CurrentError.h"

#include <QHash>
#include <QHostInfo>
#include <QSignalBlocker>
#include <QTcpSocket>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform
{

namespace
{

const QString kBadStateText =
    QStringLiteral("Wrong protocol or connection state for the requested transaction or request");

// Connections offered by a ConnectionRequest and not yet accepted, by request
// identifier (the connection's socket number). Any element may accept one.
QHash<qint32, QPointer<QTcpSocket>>& Pending()
{
    static QHash<qint32, QPointer<QTcpSocket>> pending;
    return pending;
}

struct SocketErrorText {
    qint16 number;
    const char* text;
};

SocketErrorText FromErrno(int err)
{
    switch (err) {
    case EADDRINUSE:
        return {10048, "Address in use"};
    case EADDRNOTAVAIL:
        return {10049, "Address not available from the local machine"};
    case EACCES:
    case EPERM:
        return {10013, "Permission denied"};
    case EMFILE:
    case ENFILE:
        return {10024, "Too many open files"};
    case ENOBUFS:
    case ENOMEM:
        return {10055, "No buffer space is available"};
    default:
        return {10022, "Invalid argument"};
    }
}

SocketErrorText FromQt(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return {10061, "Connection is forcefully rejected"};
    case QAbstractSocket::HostNotFoundError:
        return {11001, "Authoritative answer: Host not found"};
    case QAbstractSocket::SocketAccessError:
        return {10013, "Permission denied"};
    case QAbstractSocket::SocketResourceError:
        return {10055, "No buffer space is available"};
    case QAbstractSocket::SocketTimeoutError:
        return {10060, "Connection timed out"};
    case QAbstractSocket::DatagramTooLargeError:
        return {10040, "Datagram too large"};
    case QAbstractSocket::NetworkError:
        return {10050, "Network is down"};
    case QAbstractSocket::AddressInUseError:
        return {10048, "Address in use"};
    case QAbstractSocket::SocketAddressNotAvailableError:
        return {10049, "Address not available from the local machine"};
    case QAbstractSocket::UnsupportedSocketOperationError:
        return {10045, "Operation not supported"};
    default:
        return {10053, "Connection is aborted due to timeout or other failure"};
    }
}

QString AddressText(const QHostAddress& address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

// Bound UDP sockets that an element closed, by "address:port", kept open for a
// moment so that the element bound next on that port takes them over with the
// datagrams already queued on them: the console's next datagram may arrive
// while the listener is closing one element to bind the next.
struct ParkedUdp {
    int fd = -1;
    quint64 serial = 0; // tells a later parking on the same key from this one
};

QHash<QString, ParkedUdp>& Parked()
{
    static QHash<QString, ParkedUdp> parked;
    return parked;
}

constexpr int kParkedMs = 2000;

QString ParkKey(const QHostAddress& address, quint16 port)
{
    return address.toString() + QLatin1Char(':') + QString::number(port);
}

void DropParked(const QString& key)
{
    const ParkedUdp old = Parked().take(key);
    if (old.fd >= 0)
        ::close(old.fd);
}

template <typename T> void Release(QPointer<T>& socket, QObject* owner)
{
    if (!socket)
        return;
    QObject::disconnect(socket, nullptr, owner, nullptr);
    socket->abort();
    // Later, as the socket may be the sender of the signal being handled.
    socket->deleteLater();
    socket = nullptr;
}

} // namespace

QHostAddress ListenAddress()
{
    const QString configured = qEnvironmentVariable("NCLMOD_BIND_ADDRESS").trimmed();
    QHostAddress address;
    if (!configured.isEmpty() && address.setAddress(configured))
        return address;
    return QHostAddress(QHostAddress::AnyIPv4);
}

SocketControl::SocketControl(QObject* parent) : QObject(parent) {}

SocketControl::~SocketControl()
{
    ReleaseSockets();
}

qintptr SocketControl::SocketHandle() const
{
    if (m_listening)
        return m_listening->SocketHandle();
    if (m_tcp)
        return m_tcp->socketDescriptor();
    if (m_udp)
        return m_udp->Descriptor();
    return -1;
}

bool SocketControl::Fail(qint32 number, const QString& description)
{
    rt::RaiseError(number, description);
    return false;
}

void SocketControl::ReleaseSockets()
{
    if (m_listening) {
        m_listening->Detach(this);
        m_listening = nullptr;
    }
    Release(m_tcp, this);
    if (m_udp) {
        disconnect(m_udp, nullptr, this, nullptr);
        m_udp->Close();
        m_udp->deleteLater();
        m_udp = nullptr;
    }
    m_closeRequested = false;
}

bool SocketControl::Listen()
{
    if (m_protocol != sckTCPProtocol)
        return Fail(sckInvalidOp, kBadStateText);
    if (m_state == sckListening && m_listening && m_listening->Port() == m_localPort)
        return true;
    ReleaseSockets();
    m_received.clear();
    m_state = sckClosed;
    int err = 0;
    ListeningPort* port =
        ListeningPort::Open(ListenAddress(), quint16(m_localPort), parent() ? parent() : this, err);
    if (!port) {
        const SocketErrorText e = FromErrno(err);
        return Fail(e.number, QString::fromLatin1(e.text));
    }
    m_listening = port;
    m_localPort = port->Port();
    m_state = sckListening;
    port->Attach(this);
    return true;
}

void SocketControl::ListenerFailed(QAbstractSocket::SocketError error)
{
    m_state = sckError;
    const SocketErrorText e = FromQt(error);
    Q_EMIT Error(e.number, QString::fromLatin1(e.text));
}

void SocketControl::ListeningPortClosed(const ListeningPort* port)
{
    if (m_listening != port)
        return;
    m_listening = nullptr;
    if (m_state == sckListening)
        m_state = sckClosed;
}

bool SocketControl::AdoptParkedUdp(qint32 port)
{
    if (port == 0)
        return false;
    const ParkedUdp parked = Parked().take(ParkKey(ListenAddress(), quint16(port)));
    // Datagrams that arrived while it was parked make it readable at once.
    return parked.fd >= 0 && AttachUdp(parked.fd);
}

void SocketControl::ParkUdp()
{
    if (!m_udp || m_state != sckOpen)
        return;
    const QHostAddress address = m_udp->LocalAddress();
    const quint16 port = m_udp->LocalPort();
    if (port == 0)
        return;
    DatagramSocket* udp = m_udp;
    m_udp = nullptr;
    disconnect(udp, nullptr, this, nullptr);
    const int fd = udp->TakeDescriptor();
    // Later, as it may be the sender of the signal being handled.
    udp->deleteLater();
    static quint64 serial = 0;
    const QString key = ParkKey(address, port);
    DropParked(key);
    const ParkedUdp parked{fd, ++serial};
    Parked().insert(key, parked);
    // Not taken over in time: closed, whatever it still holds.
    QTimer::singleShot(kParkedMs, [key, parked] {
        if (Parked().value(key).serial == parked.serial)
            DropParked(key);
    });
}

bool SocketControl::OpenUdp(qint32 port)
{
    if (AdoptParkedUdp(port))
        return true;
    int err = 0;
    const int fd =
        BindPort(SOCK_DGRAM, ListenAddress(), quint16(port), PortSharing::Exclusive, err);
    if (fd < 0) {
        const SocketErrorText e = FromErrno(err);
        return Fail(e.number, QString::fromLatin1(e.text));
    }
    return AttachUdp(fd) || Fail(10022, QStringLiteral("Invalid argument"));
}

bool SocketControl::AttachUdp(int fd)
{
    auto* udp = new DatagramSocket(fd, this);
    udp->SetResponder(m_responder);
    connect(udp, &DatagramSocket::Received, this, &SocketControl::OnDatagram);
    connect(udp, &DatagramSocket::Failed, this, [this](int err) {
        const SocketErrorText e = FromErrno(err);
        Q_EMIT Error(e.number, QString::fromLatin1(e.text));
    });
    m_udp = udp;
    m_localPort = udp->LocalPort();
    m_state = sckOpen;
    return true;
}

void SocketControl::SetDatagramResponder(DatagramResponder* responder)
{
    m_responder = responder;
    if (m_udp)
        m_udp->SetResponder(responder);
}

bool SocketControl::Bind()
{
    if (m_protocol != sckUDPProtocol)
        return Fail(sckInvalidOp, kBadStateText);
    if (m_state == sckOpen && m_udp && m_udp->LocalPort() == m_localPort)
        return true;
    ReleaseSockets();
    m_received.clear();
    m_state = sckClosed;
    m_lastSender.clear();
    return OpenUdp(m_localPort);
}

void SocketControl::AdoptTcp(QTcpSocket* socket)
{
    socket->setParent(this);
    m_tcp = socket;
    m_closeRequested = false;
    connect(socket, &QTcpSocket::readyRead, this, &SocketControl::OnTcpReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, &SocketControl::OnTcpDisconnected);
    connect(socket, &QTcpSocket::errorOccurred, this, &SocketControl::OnTcpError);
    connect(socket, &QTcpSocket::bytesWritten, this, &SocketControl::OnBytesWritten);
}

bool SocketControl::Accept(qint32 requestID)
{
    QPointer<QTcpSocket> socket = Pending().take(requestID);
    if (!socket)
        return Fail(10022, QStringLiteral("Invalid argument"));
    ReleaseSockets();
    m_received.clear();
    m_protocol = sckTCPProtocol;
    AdoptTcp(socket);
    m_remoteHostIP = AddressText(socket->peerAddress());
    m_remotePort = socket->peerPort();
    m_localPort = socket->localPort();
    m_state = sckConnected;
    // What happened to the connection before it was taken still has to be told.
    if (socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &SocketControl::OnTcpReadyRead, Qt::QueuedConnection);
    if (socket->state() == QAbstractSocket::UnconnectedState)
        QMetaObject::invokeMethod(this, &SocketControl::OnTcpDisconnected, Qt::QueuedConnection);
    return true;
}

bool SocketControl::Connect()
{
    if (m_protocol != sckTCPProtocol)
        return Fail(sckInvalidOp, kBadStateText);
    ReleaseSockets();
    m_received.clear();
    auto* socket = new QTcpSocket(this);
    if (m_localPort != 0) {
        int err = 0;
        const int fd =
            BindPort(SOCK_STREAM, ListenAddress(), quint16(m_localPort), PortSharing::Shared, err);
        if (fd < 0) {
            delete socket;
            const SocketErrorText e = FromErrno(err);
            return Fail(e.number, QString::fromLatin1(e.text));
        }
        socket->setSocketDescriptor(fd, QAbstractSocket::BoundState);
    }
    AdoptTcp(socket);
    connect(socket, &QTcpSocket::hostFound, this, [this] {
        if (m_state == sckResolvingHost)
            m_state = sckHostResolved;
    });
    connect(socket, &QTcpSocket::stateChanged, this, [this](QAbstractSocket::SocketState state) {
        if (state == QAbstractSocket::ConnectingState)
            m_state = sckConnecting;
    });
    connect(socket, &QTcpSocket::connected, this, [this] {
        m_state = sckConnected;
        m_remoteHostIP = AddressText(m_tcp->peerAddress());
        m_localPort = m_tcp->localPort();
        Q_EMIT ConnectEvent();
    });
    m_state = sckResolvingHost;
    socket->connectToHost(m_remoteHost, quint16(m_remotePort));
    return true;
}

bool SocketControl::SendData(const QString& text)
{
    return SendData(text.toLatin1());
}

bool SocketControl::SendData(const QByteArray& bytes)
{
    if (m_protocol == sckUDPProtocol) {
        if (!m_udp && !OpenUdp(m_localPort))
            return false;
        QHostAddress target = m_lastSender;
        if (target.isNull() && !target.setAddress(m_remoteHost)) {
            const QHostInfo info = QHostInfo::fromName(m_remoteHost);
            if (info.addresses().isEmpty())
                return Fail(11001, QStringLiteral("Authoritative answer: Host not found"));
            target = info.addresses().first();
        }
        int err = 0;
        if (!m_udp->Send(bytes, target, quint16(m_remotePort), err)) {
            const SocketErrorText e = FromErrno(err);
            return Fail(e.number, QString::fromLatin1(e.text));
        }
        return true;
    }
    if (!m_tcp || m_state != sckConnected)
        return Fail(sckBadState, kBadStateText);
    m_tcp->write(bytes);
    return true;
}

QByteArray SocketControl::GetData()
{
    QByteArray data;
    data.swap(m_received);
    return data;
}

QString SocketControl::GetDataText()
{
    return QString::fromLatin1(GetData());
}

void SocketControl::Close()
{
    m_received.clear();
    ParkUdp();
    // A reply still on its way is sent before the connection goes.
    if (m_tcp && !m_closeRequested && m_tcp->state() == QAbstractSocket::ConnectedState &&
        m_tcp->bytesToWrite() > 0) {
        m_closeRequested = true;
        m_tcp->disconnectFromHost();
    }
    if (m_tcp && m_closeRequested && m_tcp->state() == QAbstractSocket::ClosingState) {
        m_state = sckClosing;
        return;
    }
    ReleaseSockets();
    m_state = sckClosed;
}

void SocketControl::OfferConnection(QTcpSocket* socket)
{
    socket->setParent(nullptr);
    const qint32 requestID = qint32(socket->socketDescriptor());
    Pending().insert(requestID, socket);
    m_remoteHostIP = AddressText(socket->peerAddress());
    m_remotePort = socket->peerPort();
    // The handler may destroy this element: nothing of it is used afterwards.
    Q_EMIT ConnectionRequest(requestID);
    // Not accepted: the connection is refused.
    if (QPointer<QTcpSocket> left = Pending().take(requestID)) {
        left->abort();
        left->deleteLater();
    }
}

void SocketControl::OnTcpReadyRead()
{
    if (!m_tcp || m_closeRequested)
        return;
    m_received += m_tcp->readAll();
    if (!m_received.isEmpty())
        Q_EMIT DataArrival(qint32(m_received.size()));
}

void SocketControl::OnTcpDisconnected()
{
    if (!m_tcp)
        return;
    if (m_closeRequested) {
        ReleaseSockets();
        m_state = sckClosed;
        return;
    }
    // Already told: the peer's close, or the error that ended the connection.
    if (m_state == sckClosing || m_state == sckError)
        return;
    m_state = sckClosing;
    Q_EMIT CloseEvent();
}

void SocketControl::OnTcpError()
{
    if (!m_tcp || m_closeRequested)
        return;
    const QAbstractSocket::SocketError error = m_tcp->error();
    // The peer closing is the Close event, not an error.
    if (error == QAbstractSocket::RemoteHostClosedError)
        return;
    m_state = sckError;
    const SocketErrorText e = FromQt(error);
    if (m_tcp->state() != QAbstractSocket::ConnectedState) {
        // A refused connect from a bound port leaves Qt's read notifier firing
        // on the dead descriptor without end; drop it before telling anyone.
        const QSignalBlocker blocker(m_tcp);
        m_tcp->abort();
    }
    Q_EMIT Error(e.number, QString::fromLatin1(e.text));
}

void SocketControl::OnBytesWritten(qint64 bytes)
{
    if (!m_tcp || m_closeRequested)
        return;
    const qint64 remaining = m_tcp->bytesToWrite();
    Q_EMIT SendProgress(qint32(bytes), qint32(remaining));
    if (remaining == 0)
        Q_EMIT SendComplete();
}

void SocketControl::OnDatagram(const QByteArray& data, const QHostAddress& from, quint16 port)
{
    m_received = data;
    m_lastSender = from;
    m_remoteHostIP = AddressText(from);
    m_remotePort = port;
    Q_EMIT DataArrival(qint32(m_received.size()));
}

QString SocketControl::StateName(qint16 state)
{
    switch (state) {
    case 0:
        return QStringLiteral(" 0   Default. Closed");
    case 1:
        return QStringLiteral("1   Open");
    case 2:
        return QStringLiteral(" 2   Listening");
    case 3:
        return QStringLiteral(" 3   Connection pending");
    case 4:
        return QStringLiteral(" 4   Resolving host");
    case 5:
        return QStringLiteral(" 5   Host resolved");
    case 6:
        return QStringLiteral(" 6   Connecting");
    case 7:
        return QStringLiteral(" 7   Connected");
    case 8:
        return QStringLiteral(" 8   Peer is closing the connection");
    case 9:
        return QStringLiteral(" 9   Error");
    default:
        return QStringLiteral(" UNKNOWN");
    }
}

} // namespace platform

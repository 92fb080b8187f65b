#pragma once
// The socket control: one TCP or UDP socket with the properties, operations,
// state numbers and events the agent's network code is written against.
//
// TCP listens (ConnectionRequest carries a request identifier that any
// element may Accept), connects out, sends and receives; UDP binds, receives
// datagrams and answers the last sender. A listening socket control is a view
// over the one lasting kernel listener of its address and port (see
// ListeningPort), so listening elements come and go while the port stays
// open; an outbound socket can use the listener's port as its local port.
// Events are Qt signals emitted from the event loop, one at a time.
//
// Failing operations return false and set the current error (rt::Err()) with
// the socket error number and its description.

#include <QAbstractSocket>
#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>

class QTcpSocket;

namespace platform
{

class DatagramResponder;
class DatagramSocket;
class ListeningPort;

// The address listeners and bound sockets use: NCLMOD_BIND_ADDRESS when set,
// else every IPv4 address.
QHostAddress ListenAddress();

class SocketControl : public QObject
{
    Q_OBJECT
public:
    enum : qint16 { sckTCPProtocol = 0, sckUDPProtocol = 1 };
    enum : qint16 {
        sckClosed = 0,
        sckOpen = 1,
        sckListening = 2,
        sckConnectionPending = 3,
        sckResolvingHost = 4,
        sckHostResolved = 5,
        sckConnecting = 6,
        sckConnected = 7,
        sckClosing = 8,
        sckError = 9
    };
    // Error numbers raised by the operations themselves, and those of a port
    // that cannot be listened on or bound.
    enum : qint32 {
        sckInvalidOp = 40020,
        sckBadState = 40006,
        sckAddressInUse = 10048,
        sckPermissionDenied = 10013,
        sckAddressNotAvailable = 10049
    };

    explicit SocketControl(QObject* parent = nullptr);
    ~SocketControl() override;

    qint32 LocalPort() const { return m_localPort; }
    void setLocalPort(qint32 port) { m_localPort = port; }
    qint32 RemotePort() const { return m_remotePort; }
    void setRemotePort(qint32 port) { m_remotePort = port; }
    QString RemoteHost() const { return m_remoteHost; }
    void setRemoteHost(const QString& host)
    {
        m_remoteHost = host;
        m_lastSender.clear();
    }
    // Dotted address of the peer of the last connection request, connection or datagram.
    QString RemoteHostIP() const { return m_remoteHostIP; }
    qint16 Protocol() const { return m_protocol; }
    void setProtocol(qint16 protocol) { m_protocol = protocol; }
    qint16 State() const { return m_state; }
    // The operating-system socket, -1 when there is none.
    qintptr SocketHandle() const;

    // TCP: listen on LocalPort. Already listening on that port: nothing to do;
    // any other open state is closed first. The port's lasting listener is
    // opened on first use, owned by this control's parent (the array) when it
    // has one, else by the control itself.
    bool Listen();
    // UDP: bind to LocalPort (0: any free port), as Listen for an open socket.
    bool Bind();
    // Takes the connection of a ConnectionRequest (from any element) on this one.
    bool Accept(qint32 requestID);
    // TCP: connect to RemoteHost:RemotePort, from LocalPort when it is not 0.
    bool Connect();
    // Text is sent as single-byte characters. UDP sends to the sender of the
    // last datagram, else to RemoteHost:RemotePort.
    bool SendData(const QString& text);
    bool SendData(const QByteArray& bytes);
    // Everything received since the last call (UDP: the last datagram).
    QByteArray GetData();
    QString GetDataText();
    // Closes the socket. A TCP connection with data still to send stays in
    // state 8 until the data is out.
    void Close();

    // UDP: answers datagrams where they are read, before any event (see
    // DatagramSocket); what it answers leaves RemoteHostIP and GetData as they
    // were. Not owned; nullptr: every datagram is a DataArrival.
    void SetDatagramResponder(DatagramResponder* responder);

    // The printed name of a state value.
    static QString StateName(qint16 state);

Q_SIGNALS:
    void ConnectionRequest(qint32 requestID);
    void DataArrival(qint32 bytesTotal);
    // The Close event (the peer closed the connection); Close() is the operation.
    void CloseEvent();
    void Error(qint16 number, const QString& description);
    void SendProgress(qint32 bytesSent, qint32 bytesRemaining);
    void SendComplete();
    // The Connect event (an outbound connection is up); Connect() is the operation.
    void ConnectEvent();

private:
    friend class SocketArray;   // unloading an element drops its sockets at once
    friend class ListeningPort; // offers connections and tells listening errors

    bool Fail(qint32 number, const QString& description);
    void ReleaseSockets();
    void AdoptTcp(QTcpSocket* socket);
    void OfferConnection(QTcpSocket* socket);
    void ListenerFailed(QAbstractSocket::SocketError error);
    void ListeningPortClosed(const ListeningPort* port);
    void OnTcpReadyRead();
    void OnTcpDisconnected();
    void OnTcpError();
    void OnBytesWritten(qint64 bytes);
    void OnDatagram(const QByteArray& data, const QHostAddress& from, quint16 port);
    bool OpenUdp(qint32 port);
    // Wraps a bound UDP descriptor as this element's socket; closes it on failure.
    bool AttachUdp(int fd);
    // Closing a bound UDP socket parks it for the next Bind on its port (see Parked).
    void ParkUdp();
    bool AdoptParkedUdp(qint32 port);

    qint32 m_localPort = 0;
    qint32 m_remotePort = 0;
    QString m_remoteHost;
    QString m_remoteHostIP;
    qint16 m_protocol = sckTCPProtocol;
    qint16 m_state = sckClosed;

    QPointer<ListeningPort> m_listening;
    QPointer<QTcpSocket> m_tcp;
    QPointer<DatagramSocket> m_udp;
    DatagramResponder* m_responder = nullptr;
    bool m_closeRequested = false; // the local side closed the TCP connection
    QByteArray m_received;
    QHostAddress m_lastSender;
};

} // namespace platform

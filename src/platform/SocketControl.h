#pragma once
// The socket control: one TCP or UDP socket with the properties, operations,
// state numbers and events the agent's network code is written against.
//
// TCP listens (ConnectionRequest carries a request identifier that any
// element may Accept), connects out, sends and receives; UDP binds, receives
// datagrams and answers the last sender. Listening and bound sockets set
// SO_REUSEADDR and SO_REUSEPORT, so elements can listen on the same port in
// turn and an outbound socket can use the listener's port as its local port.
// Events are Qt signals emitted from the event loop, one at a time.
//
// Failing operations return false and set the current error (rt::Err()) with
// the socket error number and its description.

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QTcpServer;
class QTcpSocket;

namespace platform
{

class DatagramResponder;
class DatagramSocket;

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
    // Error numbers raised by the operations themselves.
    enum : qint32 { sckInvalidOp = 40020, sckBadState = 40006 };

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
    // any other open state is closed first.
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
    friend class SocketArray; // unloading an element drops its sockets at once

    bool Fail(qint32 number, const QString& description);
    void ReleaseSockets();
    void AdoptTcp(QTcpSocket* socket);
    void OnNewConnections();
    void OfferConnection(QTcpSocket* socket);
    // A listening element that stops listening hands the connections queued on
    // it to another element listening on the same port (see Listeners).
    void HandOverQueuedConnections();
    void TakeOverConnection(QTcpSocket* socket);
    void OnHandedOverConnections();
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

    QPointer<QTcpServer> m_server;
    QPointer<QTcpSocket> m_tcp;
    QPointer<DatagramSocket> m_udp;
    DatagramResponder* m_responder = nullptr;
    bool m_closeRequested = false;            // the local side closed the TCP connection
    QList<QPointer<QTcpSocket>> m_handedOver; // taken over, not yet offered
    QByteArray m_received;
    QHostAddress m_lastSender;
};

} // namespace platform

#pragma once
// The listener: the array of server sockets on TCPPort (a TCP listener or a
// bound UDP socket, by ClientFormat), the rotation of its elements, closing
// and re-opening them after each exchange and after errors, and the
// connection log lines.
//
// One exchange over TCP: element k listens -> ConnectionRequest -> element
// k+1 is created (element k destroyed when k >= 1) and accepts -> data -> the
// peer closes -> Close -> reset_server(k+1) makes it listen again. Element 0
// is never destroyed. Elements are views over one lasting kernel listener per
// address and port (platform::ListeningPort), so connections keep arriving
// while elements are closed, reset and destroyed.
//
// Exchanges may overlap: an element whose exchange is still running when the
// next connection comes is destroyed only when that exchange ends. A
// connection that sends nothing for IdleLimitMs is closed, and one peer
// address has at most kMaxConnectionsPerPeer connections open.
//
// What arrives as data is handed, whole, to the request-data handler (see
// SetRequestDataHandler).

#include "platform/SocketArray.h"
#include "service/RateLimit.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>

class QTimer;

namespace service
{

class Listener : public QObject
{
    Q_OBJECT
public:
    // Receives the data of one DataArrival: the element's index and everything read.
    using RequestDataHandler = std::function<void(qint16 index, const QByteArray& data)>;

    explicit Listener(QObject* parent = nullptr);

    // Console connections one peer address may have open; the next is closed at once.
    static constexpr int kMaxConnectionsPerPeer = 32;
    // A connection that sends nothing for this long is closed: 30 s, or
    // NCLMOD_TEST_IDLE_LIMIT_MS, which only the tests set.
    int IdleLimitMs() const { return m_idleLimitMs; }

    // The server sockets, and the main window's state they go with.
    platform::SocketArray tcpServer;
    qint16 CurrentInstance = 0;
    // Set by a socket error, cleared whenever an element is put back to listening
    // or bound; the settings check and the status request call serv_init when set.
    bool ListenerNeedsReset = false;
    // The opt-in limit per peer address on connections and datagram replies.
    RateLimit limits;

    // Starts element instance on TCPPort (listening or bound, by ClientFormat).
    void serv_init(qint16 instance);
    // Closes element instance and opens it again.
    void reset_server(qint16 instance);
    // Moves CurrentInstance on from instance and returns it.
    qint16 NextInstance(qint16 instance);
    // Close with retries; true when the socket reached the closed state.
    bool CloseInstance(qint16 instance);
    bool clientClose(platform::SocketControl* socket);
    // Writes the state log line (debug on) and returns state.
    qint16 LogState(qint16 state);

    // "TCP" for 0, 1 and 3; "UDP" for 2 and 4; "" (and a trace line) otherwise.
    static QString ProtocolName(qint16 clientFormat);
    // UTC time of day as h:nn:ss.zzz, e.g. 9:05:07.045.
    static QString UtcStamp();
    // The line a person reads when the port cannot be listened on or bound,
    // for the socket error number the attempt raised.
    static QString PortUnavailableText(qint16 port, qint32 number, const QString& description);

    // Where the console request handler (ConsoleRequests) plugs in, and the
    // listener tests their own; with none, data is read and dropped.
    void SetRequestDataHandler(RequestDataHandler handler);

Q_SIGNALS:
    // Text for the main window's status label.
    void StatusText(const QString& text);
    // serv_init could not open the port before any element of this listener
    // had listened or bound: the socket error number and PortUnavailableText.
    void PortUnavailableAtStart(qint32 number, const QString& text);

public Q_SLOTS:
    void ConnectionRequest(qint16 index, qint32 requestID);
    void DataArrival(qint16 index, qint32 bytesTotal);
    void Close(qint16 index);
    void Error(qint16 index, qint16 number, const QString& description);
    void SendProgress(qint16 index, qint32 bytesSent, qint32 bytesRemaining);
    void SendComplete(qint16 index);

private:
    bool CloseRounds(const std::function<platform::SocketControl*()>& socket);
    platform::SocketControl* Element(qint16 index);
    // False, with a trace line, when the element's peer is over the rate limit.
    bool WithinRateLimit(const platform::SocketControl* element);
    bool InExchange(qint16 index) const;
    int OpenConnections(const QString& peer) const;
    // Destroys an element whose destruction waited for the end of its exchange.
    bool UnloadIfRetiring(qint16 index);
    // The lasting TCP listener of a port the options no longer name is closed.
    void ReleaseOldPort(qint16 port, bool udp);
    void RestartIdleTimer(qint16 index);
    void StopIdleTimer(qint16 index);
    void CloseIdle(qint16 index);

    RequestDataHandler m_requestData;
    QSet<qint16> m_retiring;
    QHash<qint16, QTimer*> m_idleTimers;
    int m_idleLimitMs = 30000;
    bool m_opened = false; // an element has listened or bound
    quint16 m_tcpPort = 0; // the port of the lasting TCP listener in use
};

} // namespace service

#pragma once
// The service side of the service manager: a running service's control socket
// and its runtime record.
//
// Open takes the data folder's service lock (one service per data folder),
// listens on the service's control socket and publishes the record. Lock and
// socket lie in the user's private runtime folder, the socket is the owner's
// alone, and a peer of another user (other than root) is refused besides. Each
// connection may send one request line; the host checks the control against
// the service's state and accepted controls, raises it and answers with the
// state that follows. Stop is answered first and raised afterwards, since
// its handler may end the process. Bad input (garbage, an oversized line, a
// client that never sends) closes that connection and nothing else.

#include "platform/ServiceRuntime.h"

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

namespace platform
{

class ServiceHost : public QObject
{
    Q_OBJECT
public:
    explicit ServiceHost(const QString& serviceName, QObject* parent = nullptr);
    ~ServiceHost() override;

    // False with a reason when another service runs from this data folder or
    // the socket cannot be listened on.
    bool Open(QString* error = nullptr);
    bool IsOpen() const { return m_server != nullptr; }

    QString ServiceName() const { return m_serviceName; }
    QString SocketName() const { return m_socketName; }
    quint32 State() const { return m_state; }
    // Stop is always accepted; pause and continue only when announced.
    quint32 ControlsAccepted() const { return m_accepted | SERVICE_ACCEPT_STOP; }
    void SetControlsAccepted(quint32 accepted);
    void SetState(quint32 state);

    // How long a connection may stay without a complete request.
    void SetIdleTimeoutForTesting(int milliseconds) { m_idleTimeoutMs = milliseconds; }

Q_SIGNALS:
    // Raised on the event loop; the receiver reports the resulting state with SetState.
    void StopRequested();
    void PauseRequested();
    void ContinueRequested();
    void InterrogateRequested();
    void ControlRequested(quint32 code);

private:
    void onNewConnection();
    void onReadable(QLocalSocket* socket);
    // The error for a control that the service cannot take now, 0 when it can.
    quint32 Refusal(quint32 code) const;
    void Dispatch(QLocalSocket* socket, quint32 code);
    void Reply(QLocalSocket* socket, quint32 error);
    void Publish();

    QString m_serviceName;
    QString m_socketName;
    QLocalServer* m_server = nullptr;
    DataFolderLock m_lock;
    quint32 m_state = SERVICE_START_PENDING;
    quint32 m_accepted = 0;
    int m_connections = 0;
    int m_idleTimeoutMs = 2000;
};

} // namespace platform

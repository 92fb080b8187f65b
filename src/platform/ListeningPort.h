#pragma once
// One kernel listening socket per address and port, kept open while its owner
// lives (for the agent's listener array: the whole run). Socket controls that
// Listen on the port are views over it: they come and go, are closed, reset
// and destroyed, and the kernel socket stays, so a connection never meets a
// closed port and none queued in the kernel is reset on their account.
//
// New connections go to the view that has listened longest, as its
// ConnectionRequest. While no view listens they wait in the queue and are
// offered as soon as one listens again.
//
// The port is bound exclusively: a second program (a second agent among
// them) that holds or binds the address and port is refused with "address in
// use". Only then is SO_REUSEPORT switched on, because Linux lets the agent's
// own outbound socket take the listener's port as its local port only when
// both carry it; a program that binds without it is still refused.

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>

namespace platform
{

class SocketControl;

class ListeningPort : public QObject
{
    Q_OBJECT
public:
    // The lasting listener on address:port, opened with owner as its parent on
    // first use (port 0: always a new one on a free port). nullptr with the
    // errno in err when the port cannot be had.
    static ListeningPort* Open(const QHostAddress& address, quint16 port, QObject* owner, int& err);
    // Closes the lasting listener on address:port, for a port or protocol
    // change: its views stop listening and connections still queued on it are
    // reset. False when there is none.
    static bool Close(const QHostAddress& address, quint16 port);

    quint16 Port() const { return m_server.serverPort(); }
    qintptr SocketHandle() const { return m_server.socketDescriptor(); }

    void Attach(SocketControl* view);
    void Detach(SocketControl* view);

private:
    explicit ListeningPort(QObject* owner);
    ~ListeningPort() override;
    // Tells the views that they no longer listen.
    void ReleaseViews();
    SocketControl* FirstListening() const;
    void OfferQueued();
    void OnAcceptError(QAbstractSocket::SocketError error);

    QString m_key;
    QTcpServer m_server;
    QList<QPointer<SocketControl>> m_views;
};

} // namespace platform

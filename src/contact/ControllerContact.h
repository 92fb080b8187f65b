#pragma once
// Outbound contact: the agent calls the controller (or a client of its list)
// on the outbound socket tcpClient: connect from TCPPort to the peer's
// TCPPort, send one command line (ControlFunction, "+", arguments), take one
// reply, close. The 2-second watchdog tmrServer (owned here) closes a
// contact that got no reply. Heartbeat replies go to the clock-setting
// engine's HeartbeatOK; every contact ends in the polling cycle's ReloadMode.

#include "contact/ClientPolling.h"
#include "platform/SocketControl.h"
#include "settings/OptionValues.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

namespace service
{
class Listener;
}
namespace timeset
{
class CNISTDisplay;
class CNISTtimeset;
} // namespace timeset

namespace contact
{

class ControllerContact : public QObject
{
    Q_OBJECT
public:
    // The main window's engine object (created on first use).
    using EngineAccess = std::function<timeset::CNISTtimeset&()>;

    ControllerContact(service::Listener& listener, timeset::CNISTDisplay& display,
                      EngineAccess engine, QObject* parent = nullptr);

    platform::SocketControl tcpClient;
    QTimer tmrServer;
    ClientPolling polling{*this};

    // The key given to the last contact, its start (tick milliseconds) and the
    // ServerFormat it set (text over TCP).
    QString ContactKey;
    float ContactStartMs = 0;
    qint16 ContactProtocol = settings::ServerFormat::Nist;

    // Address reuse on tcpClient's socket, so its local port may be the
    // listener's. A socket not yet open gets it when it is opened.
    bool SetReuseAddress();
    // Tells the controller at address that this computer is up ("U") or going down ("D").
    void Heartbeat(const QString& address, const QString& mac, const QString& upDown);
    void DoConnect(const QString& sIPAddr, const QString& sKey, const QString& sArg = QString());
    void cmdConnect(const QString& address, const QString& arg);
    // The peer of the last reply: its name (ClientKeyType not 0) or address, else the contact key.
    QString get_key() const;

    // Menu "contact": a heartbeat to the controller, or the message that none is set.
    using ShowMessage = std::function<void(const QString& text, const QString& title)>;
    bool ContactMenu(const ShowMessage& show);
    // Menu "controller address": asks for Servername and saves the options.
    using AskText = std::function<bool(const QString& title, const QString& prompt,
                                       const QString& defaultText, QString& answer)>;
    bool ControllerAddressMenu(const AskText& ask);

    void tcpClient_DataArrival(qint32 bytesTotal);
    void tcpClient_Error(qint16 number, const QString& description);
    void tmrServer_Timer();

private:
    float TickMs() const;
    void ResetOnClose();

    service::Listener& m_listener;
    timeset::CNISTDisplay& m_display;
    EngineAccess m_engine;
};

} // namespace contact

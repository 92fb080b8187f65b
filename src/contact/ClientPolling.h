#pragma once
// The polling cycle over the client list: one client per step, skipping
// inactive clients (and passive ones, except for time checks and pings), each
// remaining client getting the command letter of ControlFunction. A command
// that contacts the client continues the cycle when its contact ends (reply
// or watchdog); the others continue it at once.
//
// Also the main-window operations the dispatch reaches besides a contact:
// a ping, a remote time check and a wake-up packet.

#include "contact/IcmpEcho.h"
#include "contact/colClients.h"
#include "platform/WakeOnLanControl.h"

#include <QHash>
#include <QObject>
#include <QString>

namespace contact
{

class ControllerContact;

class ClientPolling : public QObject
{
    Q_OBJECT
public:
    explicit ClientPolling(ControllerContact& contact, QObject* parent = nullptr);

    colClients Clients;

    // What the main window shows of a cycle.
    QString cmdManualCaption = QStringLiteral("Start");
    bool MouseBusy = false;
    // While the window searches for service modules, no client is skipped.
    bool SearchingModules = false;
    QHash<QString, QString> TreeIcons; // client key -> icon name

    // The cycle's position (clients done) and its stop request.
    qint32 Position = 0;
    bool StopPolling = false;
    // The address of the client being served, and the UTC time text
    // (YY-MM-DD hh:mm:ss) a forced setting sends.
    QString CurrentTarget;
    QString CurrentDateTimeText;

    // Continues by ControlMode: 1 single client, 2 manual, 3 polling (the
    // next client is taken from the event loop).
    void ReloadMode();
    void PollNextClient();
    // Carries out one command letter for the client with this key at target.
    void SendClientCommand(const QString& key, const QString& target, const QString& letter);
    // Starts a cycle from the first client (ControlMode 3).
    void StartPollingCycle();

    void DoPing(const QString& target);
    // Reads the client's time with a time check ("T+").
    void GetRemoteTime(const QString& target, const QString& key);
    // A wake-up packet for the client's MAC address, to the broadcast address
    // in args (255.255.255.255 when args is empty).
    void DoWOL(const QString& target, const QString& key, const QString& args);

    // A time check's reply ("OK-T " + UTC date and time) for the client with
    // this key: its difference from this computer's clock, the contact delay.
    void RecordTimeCheck(const QString& key, const QString& reply, qint32 elapsedMs);

private:
    bool SkipClient(const cClient& client);
    void EndCycle();
    void SendForce(const QString& key, const QString& target, cClient* client, qint16 utcMs);
    void CommandFailed(qint32 number, const QString& description);
    void PingFinished(bool replied, qint32 roundTripMs);
    void WakeOnLanDone(const QString& text);

    ControllerContact& m_contact;
    IcmpEcho m_ping;
    platform::WakeOnLanControl m_wol;
    QString m_pingKey;
};

} // namespace contact

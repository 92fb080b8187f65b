#pragma once
// Who is served on the console port, and what the console may make this
// computer do: the values of HKLM\SOFTWARE\Nightcall\Security.
//
//   ConsoleAllow        addresses and networks (CIDR, IPv4 and IPv6, separated
//                       by commas or blanks; "*" for every address) whose
//                       console commands are served. Empty: loopback plus the
//                       addresses of the controller (ServerName); every
//                       address when no controller is named.
//   ConsoleUdpCommands  1: set, force, remote command and relay requests are
//                       taken over UDP too, whose source can be forged; 0: TCP only.
//   RemoteRun           1: a remote command may start a program; 0: it may not.
//   FileFetchRoot       empty: a file fetch may read any regular file; else
//                       only regular files below this folder, symlinks resolved.
//
// A refused request gets no reply, a trace line and, once an hour per
// address, an event-log line. Over UDP, whose source can be forged, a
// datagram smaller than its reply (and any file fetch) is only answered to an
// address that ConsoleAllow names, or loopback when it is empty and every
// address is admitted for want of a controller, so that the agent cannot be
// used to flood a third party.

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>

#include <chrono>

namespace service
{

class ConsoleAccess
{
public:
    using Network = QPair<QHostAddress, int>;
    static const QString kKeyPath; // below HKEY_LOCAL_MACHINE

    // Reads the values (writing the defaults of missing ones, so that they can
    // be read and changed with nclreg) and resolves the controller's name.
    // At start, warns when everyone may reach the console.
    void Load(bool atStart);

    // A ConsoleAllow text as networks; false with the first entry that is none.
    static bool ParseAllowList(const QString& text, QList<Network>& networks, QString& bad);

    bool Admits(const QString& peer) const;
    // Whether a reply larger than its request may go to the peer over UDP.
    bool MayAmplifyTo(const QString& peer) const;
    bool AdmitsEveryone() const { return m_everyone; }
    bool UdpCommands() const { return m_udpCommands; }
    bool RemoteRun() const { return m_remoteRun; }
    QString FileFetchRoot() const { return m_fileFetchRoot; }

    // Whether a request of `peer` is to be handled at all; a refusal is
    // traced (and event-logged) here.
    bool Serves(const QString& peer, bool moduleRole, bool udp, const QByteArray& request);

private:
    void Refuse(const QString& peer, const QString& why, bool eventLog);
    void Warn(const QString& text) const;

    // Before Load: loopback only, everything else as described.
    QList<Network> m_allowed{{QHostAddress(QHostAddress::LocalHost), 8},
                             {QHostAddress(QHostAddress::LocalHostIPv6), 128}};
    bool m_everyone = false;
    bool m_everyoneForWantOfController = false;
    bool m_udpCommands = true;
    bool m_remoteRun = true;
    QString m_fileFetchRoot;
    // When each refused address was last written to the event log.
    QHash<QString, std::chrono::steady_clock::time_point> m_lastLogged;
};

} // namespace service

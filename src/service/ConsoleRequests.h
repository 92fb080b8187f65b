#pragma once
// The service's request handler: what is done with the data that arrives on
// the listening socket.
//
// Module role ("M"): the enterprise console's commands, as text over TCP
// ("H+", "T+", "S+...", "F+...", "C+...", "X+...") or as datagrams over UDP
// whose first byte is the command letter. Time-server role (any other module
// type): a time client gets "Server: " and the time over TCP, an SNTP reply
// over UDP.
//
// Set and force requests are answered first, then handed to the clock-setting
// engine, so the reply carries the time before the correction.

#include "service/ConsoleAccess.h"
#include "service/SntpResponder.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

namespace timeset
{
class CNISTDisplay;
class CNISTtimeset;
} // namespace timeset

namespace platform
{
class SocketControl;
}

namespace service
{

class Listener;

// Remote command ("C"): the whole request text and the socket element; the
// result text is the response shown, sLog the action text.
using CommandHandler = std::function<QString(const QString& sData, qint16 index, QString& sLog)>;
// Relay switch ("X"): the request text and the relay board's COM port; the
// result text is the response shown, sStatus goes back to the console.
using RelayHandler =
    std::function<QString(const QString& sData, qint16 nLocalCOM, QString& sStatus, QString& sLog)>;

class ConsoleRequests : public QObject
{
    Q_OBJECT
public:
    // Plugs itself into the listener; display is told what the engine does
    // with set and force requests.
    ConsoleRequests(Listener& listener, timeset::CNISTDisplay& display, QObject* parent = nullptr);
    ~ConsoleRequests() override;

    // What "C" and "X" do: ConsoleActions plugs in the remote actions and the
    // relay switching, tests their own. Unplugged, the request is answered
    // with an empty response and nothing is done.
    CommandHandler do_command;
    RelayHandler do_Relay;
    // The engine that takes a set or force request; unset, each request gets
    // an engine of its own for the length of the call.
    std::function<timeset::CNISTtimeset&()> Engine;

    // One DataArrival of element index with everything it read.
    void DataArrival(qint16 index, const QByteArray& data);

    // Who is served, and what remote commands may do.
    ConsoleAccess& Access() { return m_access; }

Q_SIGNALS:
    // Text for the main window's status label (empty: the label is cleared).
    void StatusText(const QString& text);

private:
    void ModuleTcp(qint16 index, const QByteArray& data);
    void ModuleUdp(qint16 index, const QByteArray& data);
    void TimeServer(qint16 index, const QByteArray& data, qint16 clientFormat);
    void ShowRequest(const QString& peer, const QString& action, const QString& response);
    void SetClock(const QByteArray& request);
    void ReportArrivalError();
    // True, with a trace line, when a datagram gets no answer: it asks for
    // nothing (a reply, a text answer) or its peer is over the rate limit.
    bool Unanswered(const QByteArray& data, const platform::SocketControl& element);

    Listener& m_listener;
    timeset::CNISTDisplay& m_display;
    SntpResponder m_sntp;
    ConsoleAccess m_access;
};

} // namespace service

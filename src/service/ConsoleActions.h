#pragma once
// The console's remote commands ("C") and relay switchings ("X") plugged into
// the request handler: the main window holds one of these beside its
// ConsoleRequests. It owns the Wake-on-LAN control, the file-transfer state,
// the serial port and the relay timer, and sends file blocks on the
// listener's element of the request.

#include "service/RelaySwitching.h"
#include "service/RemoteActions.h"
#include "service/WakeOnLan.h"

#include <QObject>

namespace service
{

class ConsoleRequests;
class Listener;

class ConsoleActions : public QObject
{
public:
    ConsoleActions(ConsoleRequests& requests, Listener& listener, QObject* parent = nullptr);

    WakeOnLan wakeOnLan;
    RemoteActions remoteActions;
    RelaySwitching relaySwitching;

private:
    bool SendData(qint16 index, const QByteArray& bytes);

    Listener& m_listener;
};

} // namespace service

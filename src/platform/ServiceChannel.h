#pragma once
// The control socket between the service manager and a running service: one
// request line per connection, one reply line.
//
//   request  "CONTROL <code>\n"              code 1..255
//   reply    "OK <state> <accepted>\n"       the service's state after the control
//            "ERR <error>\n"                 a service-manager error number
//
// The client waits on a nested event loop, so a service and its manager may
// live in the same process (tests) and an interactive caller keeps its events.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace platform
{

constexpr int kServiceRequestMaxBytes = 64;

struct ServiceReply {
    quint32 error = 0; // 0: the control was taken
    quint32 state = 0;
    quint32 controlsAccepted = 0;
};

QByteArray FormatControlRequest(quint32 code);
// The code of a well-formed request line (without its line end); false otherwise.
bool ParseControlRequest(const QByteArray& line, quint32& code);
QByteArray FormatReply(const ServiceReply& reply);
bool ParseReply(const QByteArray& line, ServiceReply& reply);

// Sends one control to the socket and waits for the reply. Returns 0 and the
// reply, or a service-manager error: 1062 when nothing listens on the socket,
// 1053 when no reply came in time.
quint32 SendServiceControl(const QString& socketName, quint32 code, ServiceReply& reply,
                           int timeoutMs = 5000);

} // namespace platform

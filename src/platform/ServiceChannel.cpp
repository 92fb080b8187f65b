#include "platform/ServiceChannel.h"

#include "platform/ServiceErrors.h"

#include <QEventLoop>
#include <QLocalSocket>
#include <QTimer>

namespace platform
{

namespace
{

// A decimal number of at most 10 digits, nothing else.
bool ParseNumber(const QByteArray& text, quint32& value)
{
    if (text.isEmpty() || text.size() > 10)
        return false;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    bool ok = false;
    value = text.toUInt(&ok);
    return ok;
}

} // namespace

QByteArray FormatControlRequest(quint32 code)
{
    return "CONTROL " + QByteArray::number(code) + '\n';
}

bool ParseControlRequest(const QByteArray& line, quint32& code)
{
    if (!line.startsWith("CONTROL "))
        return false;
    quint32 value = 0;
    if (!ParseNumber(line.mid(8), value) || value < 1 || value > 255)
        return false;
    code = value;
    return true;
}

QByteArray FormatReply(const ServiceReply& reply)
{
    if (reply.error != 0)
        return "ERR " + QByteArray::number(reply.error) + '\n';
    return "OK " + QByteArray::number(reply.state) + ' ' +
           QByteArray::number(reply.controlsAccepted) + '\n';
}

bool ParseReply(const QByteArray& line, ServiceReply& reply)
{
    const QList<QByteArray> parts = line.trimmed().split(' ');
    reply = ServiceReply();
    if (parts.size() == 2 && parts[0] == "ERR")
        return ParseNumber(parts[1], reply.error) && reply.error != 0;
    if (parts.size() == 3 && parts[0] == "OK")
        return ParseNumber(parts[1], reply.state) && ParseNumber(parts[2], reply.controlsAccepted);
    return false;
}

quint32 SendServiceControl(const QString& socketName, quint32 code, ServiceReply& reply,
                           int timeoutMs)
{
    reply = ServiceReply();
    if (socketName.isEmpty())
        return SVC_ERROR_SERVICE_NOT_ACTIVE;
    QLocalSocket socket;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QByteArray received;
    bool refused = false;
    // Signals may come inside connectToServer already, before the loop runs.
    bool done = false;
    const auto finish = [&] {
        done = true;
        loop.quit();
    };
    QObject::connect(&deadline, &QTimer::timeout, &loop, finish);
    QObject::connect(&socket, &QLocalSocket::connected, &loop,
                     [&] { socket.write(FormatControlRequest(code)); });
    QObject::connect(&socket, &QLocalSocket::readyRead, &loop, [&] {
        received += socket.read(kServiceRequestMaxBytes);
        if (received.contains('\n') || received.size() >= kServiceRequestMaxBytes)
            finish();
    });
    QObject::connect(&socket, &QLocalSocket::disconnected, &loop, finish);
    QObject::connect(&socket, &QLocalSocket::errorOccurred, &loop,
                     [&](QLocalSocket::LocalSocketError error) {
                         if (error == QLocalSocket::ServerNotFoundError ||
                             error == QLocalSocket::ConnectionRefusedError)
                             refused = true;
                         if (error != QLocalSocket::PeerClosedError)
                             finish();
                     });
    deadline.start(timeoutMs);
    socket.connectToServer(socketName);
    if (!done)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (socket.isOpen())
        received += socket.readAll();
    socket.abort();
    if (refused && received.isEmpty())
        return SVC_ERROR_SERVICE_NOT_ACTIVE;
    const qsizetype end = received.indexOf('\n');
    if (end < 0 || !ParseReply(received.left(end), reply))
        return SVC_ERROR_SERVICE_REQUEST_TIMEOUT;
    return reply.error;
}

} // namespace platform

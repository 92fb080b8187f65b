#include "platform/WakeOnLanControl.h"

#include <QHostAddress>
#include <QMetaObject>
#include <QRegularExpression>
#include <QUdpSocket>

#include <sys/socket.h>

namespace platform
{

namespace
{

constexpr quint16 kDefaultPort = 9;
constexpr int kMacRepeats = 16;

bool ParseIPv4(const QString& text, QHostAddress& address)
{
    return address.setAddress(text.trimmed()) &&
           address.protocol() == QAbstractSocket::IPv4Protocol;
}

} // namespace

bool ParseMacAddress(const QString& text, QByteArray& bytes)
{
    static const QRegularExpression hexGroup(QStringLiteral("^[0-9A-Fa-f]{1,2}$"));
    const QChar separator = text.contains(QLatin1Char(':')) ? QLatin1Char(':') : QLatin1Char('-');
    const QStringList groups = text.trimmed().split(separator);
    if (groups.size() != 6)
        return false;
    bytes.clear();
    for (const QString& group : groups) {
        if (!hexGroup.match(group).hasMatch())
            return false;
        bytes.append(char(group.toUInt(nullptr, 16)));
    }
    return true;
}

QByteArray MagicPacket(const QByteArray& mac)
{
    QByteArray packet(6, char(0xFF));
    for (int i = 0; i < kMacRepeats; ++i)
        packet.append(mac);
    return packet;
}

quint16 WakeOnLanPort()
{
    bool ok = false;
    const uint port = qEnvironmentVariable("NCLMOD_WOL_PORT").toUInt(&ok);
    return ok && port >= 1 && port <= 65535 ? quint16(port) : kDefaultPort;
}

WakeOnLanControl::WakeOnLanControl(QObject* parent) : QObject(parent) {}

void WakeOnLanControl::SendWOL()
{
    const QString failure = Send();
    // The outcome is an event of its own, after the caller has returned.
    if (failure.isEmpty()) {
        QMetaObject::invokeMethod(
            this,
            [this, mac = m_mac, broadcast = m_broadcast, local = m_local] {
                Q_EMIT WOLSuccess(QStringLiteral("Magic packet sent"), mac, broadcast, local);
            },
            Qt::QueuedConnection);
    } else {
        QMetaObject::invokeMethod(
            this, [this, failure] { Q_EMIT WOLError(failure); }, Qt::QueuedConnection);
    }
}

QString WakeOnLanControl::Send()
{
    QByteArray mac;
    if (!ParseMacAddress(m_mac, mac))
        return QStringLiteral("Invalid MAC address: ") + m_mac;
    QHostAddress broadcast;
    if (!ParseIPv4(m_broadcast, broadcast))
        return QStringLiteral("Invalid broadcast address: ") + m_broadcast;
    QHostAddress local(QHostAddress::AnyIPv4);
    if (!m_local.trimmed().isEmpty() && !ParseIPv4(m_local, local))
        return QStringLiteral("Invalid local address: ") + m_local;

    QUdpSocket socket;
    if (!socket.bind(local, 0))
        return QStringLiteral("Cannot send from ") + m_local + QStringLiteral(": ") +
               socket.errorString();
    // Broadcast addresses need the socket's permission to broadcast.
    const int on = 1;
    ::setsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    const QByteArray packet = MagicPacket(mac);
    if (socket.writeDatagram(packet, broadcast, WakeOnLanPort()) != packet.size())
        return QStringLiteral("Cannot send to ") + m_broadcast + QStringLiteral(": ") +
               socket.errorString();
    return {};
}

} // namespace platform

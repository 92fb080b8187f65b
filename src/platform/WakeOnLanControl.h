#pragma once
// The Wake-on-LAN control: three addresses, a send call, and events for the
// outcome. Send builds the standard magic packet (six bytes 0xFF, then the
// six MAC bytes sixteen times) and sends it as one UDP datagram from the
// local address to the broadcast address, on port 9 unless NCLMOD_WOL_PORT
// names another. The outcome always arrives later, as an event from the
// event loop: WOLError with a reason, or WOLSuccess.

#include <QByteArray>
#include <QObject>
#include <QString>

namespace platform
{

// Six groups of one or two hex digits joined by "-" (or ":"); false otherwise.
bool ParseMacAddress(const QString& text, QByteArray& bytes);
// The 102-byte packet for a six-byte MAC address.
QByteArray MagicPacket(const QByteArray& mac);
// NCLMOD_WOL_PORT when it is a port number, else 9.
quint16 WakeOnLanPort();

class WakeOnLanControl : public QObject
{
    Q_OBJECT
public:
    explicit WakeOnLanControl(QObject* parent = nullptr);

    QString BroadcastIP() const { return m_broadcast; }
    void setBroadcastIP(const QString& address) { m_broadcast = address; }
    QString MACAddress() const { return m_mac; }
    void setMACAddress(const QString& mac) { m_mac = mac; }
    // Empty: the system picks the local address.
    QString LocalIP() const { return m_local; }
    void setLocalIP(const QString& address) { m_local = address; }

    void SendWOL();

Q_SIGNALS:
    void WOLError(const QString& text);
    void WOLSuccess(const QString& text, const QString& mac, const QString& broadcast,
                    const QString& local);

private:
    // The reason the packet did not go out; empty when it did.
    QString Send();

    QString m_broadcast;
    QString m_mac;
    QString m_local;
};

} // namespace platform

#pragma once
// The computer's Ethernet adapters and their hardware (MAC) addresses.

#include <QByteArray>
#include <QList>
#include <QString>

namespace platform
{

struct NetworkAdapter {
    QString name;
    QString macAddress; // six upper-case hex pairs joined by "-", e.g. "00-1A-2B-3C-4D-5E"
    QString description;
};

// Ethernet adapters with a hardware address, in the system's order.
QList<NetworkAdapter> EthernetAdapters();
// The address the adapter query gives by default (the last Ethernet
// adapter's), "" when there is none: the default of the MACaddr option and of
// the MAC address menu entry.
QString AdapterQueryMac();
// "00:1a:2b:3c:4d:5e" -> "00-1A-2B-3C-4D-5E"; "" when it is not six hex pairs.
QString FormatMacAddress(const QString& hardwareAddress);
// The MAC text of raw address bytes: two upper-case hex digits a byte, joined
// by "-"; an address of fewer than six bytes is completed with "00" groups.
QString MacAddressText(const QByteArray& address);

// The adapter query: description and MAC text of the last Ethernet adapter,
// or of the one at a 1-based position when position is above 0 (empty texts
// when there is none there). Returns the number of Ethernet adapters found.
qint16 GetEthernetAdapter(QString& description, QString& mac, qint16 position = 0);
// The same choice made on a given list.
qint16 PickEthernetAdapter(const QList<NetworkAdapter>& adapters, qint16 position,
                           QString& description, QString& mac);

} // namespace platform

#pragma once
// The computer's Ethernet adapters and their hardware (MAC) addresses.

#include <QList>
#include <QString>

namespace platform
{

struct NetworkAdapter {
    QString name;
    QString macAddress; // six upper-case hex pairs joined by "-", e.g. "00-1A-2B-3C-4D-5E"
};

// Ethernet adapters with a hardware address, in the system's order.
QList<NetworkAdapter> EthernetAdapters();
// The first Ethernet adapter's address, "" when there is none.
QString FirstEthernetMac();
// "00:1a:2b:3c:4d:5e" -> "00-1A-2B-3C-4D-5E"; "" when it is not six hex pairs.
QString FormatMacAddress(const QString& hardwareAddress);

} // namespace platform

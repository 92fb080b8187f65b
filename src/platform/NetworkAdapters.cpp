#include "platform/NetworkAdapters.h"

#include <QNetworkInterface>
#include <QRegularExpression>

namespace platform
{

QString FormatMacAddress(const QString& hardwareAddress)
{
    static const QRegularExpression sixPairs(
        QStringLiteral("^[0-9A-Fa-f]{2}([:-][0-9A-Fa-f]{2}){5}$"));
    if (!sixPairs.match(hardwareAddress).hasMatch())
        return {};
    QString mac = hardwareAddress.toUpper();
    mac.replace(QLatin1Char(':'), QLatin1Char('-'));
    return mac;
}

QList<NetworkAdapter> EthernetAdapters()
{
    QList<NetworkAdapter> adapters;
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& iface : interfaces) {
        if (iface.type() != QNetworkInterface::Ethernet)
            continue;
        const QString mac = FormatMacAddress(iface.hardwareAddress());
        // An all-zero address is a virtual interface without hardware.
        if (mac.isEmpty() || mac == QLatin1String("00-00-00-00-00-00"))
            continue;
        adapters.append({iface.name(), mac});
    }
    return adapters;
}

QString FirstEthernetMac()
{
    const QList<NetworkAdapter> adapters = EthernetAdapters();
    return adapters.isEmpty() ? QString() : adapters.first().macAddress;
}

} // namespace platform

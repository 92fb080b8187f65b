#include "platform/NetworkAdapters.h"

#include <QNetworkInterface>
#include <QRegularExpression>
#include <QStringList>

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
        adapters.append({iface.name(), mac, iface.humanReadableName()});
    }
    return adapters;
}

QString AdapterQueryMac()
{
    QString description;
    QString mac;
    GetEthernetAdapter(description, mac);
    return mac;
}

QString MacAddressText(const QByteArray& address)
{
    QStringList groups;
    for (int i = 0; i < qMax(6, int(address.size())); ++i) {
        const uint byte = i < address.size() ? uchar(address.at(i)) : 0;
        groups.append(QString::number(byte, 16).toUpper().rightJustified(2, QLatin1Char('0')));
    }
    return groups.join(QLatin1Char('-'));
}

qint16 PickEthernetAdapter(const QList<NetworkAdapter>& adapters, qint16 position,
                           QString& description, QString& mac)
{
    description.clear();
    mac.clear();
    const qsizetype count = qMin<qsizetype>(adapters.size(), 32767);
    const qsizetype index = position > 0 ? position - 1 : count - 1;
    if (index >= 0 && index < count) {
        description = adapters.at(index).description;
        mac = adapters.at(index).macAddress;
    }
    return qint16(count);
}

qint16 GetEthernetAdapter(QString& description, QString& mac, qint16 position)
{
    return PickEthernetAdapter(EthernetAdapters(), position, description, mac);
}

} // namespace platform

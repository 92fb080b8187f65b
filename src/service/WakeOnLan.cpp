#include "service/WakeOnLan.h"

#include "logging/DebugLog.h"
#include "platform/NetworkAdapters.h"
#include "settings/AppState.h"
#include "settings/COptions.h"
#include "settings/OptionStore.h"

namespace service
{

WakeOnLan::WakeOnLan(QObject* parent) : QObject(parent)
{
    connect(&ctlUltraWOL1, &platform::WakeOnLanControl::WOLError, this,
            &WakeOnLan::ctlUltraWOL1_WOLError);
    connect(&ctlUltraWOL1, &platform::WakeOnLanControl::WOLSuccess, this,
            &WakeOnLan::ctlUltraWOL1_WOLSuccess);
}

QString WakeOnLan::do_WOL(const QString& sBcast, const QString& sLcl, const QString& sMAC,
                          QString& sLog)
{
    sLog = QStringLiteral("WOL: ");
    ctlUltraWOL1.setBroadcastIP(sBcast);
    ctlUltraWOL1.setMACAddress(sMAC);
    ctlUltraWOL1.setLocalIP(sLcl);
    ctlUltraWOL1.SendWOL();
    return QStringLiteral("OK");
}

void WakeOnLan::ctlUltraWOL1_WOLError(const QString& text)
{
    NCL_TRACE(QStringLiteral("WOL Error: ") + text);
}

void WakeOnLan::ctlUltraWOL1_WOLSuccess(const QString& text, const QString& mac,
                                        const QString& broadcast, const QString& local)
{
    NCL_TRACE(QStringLiteral("WOL: ") + text + QStringLiteral(" MAC addr: ") + mac +
              QStringLiteral(", Bcast IP: ") + broadcast + QStringLiteral(", Local IP: ") + local);
}

QString WakeOnLan::DefaultMacAddress()
{
    const QString stored = settings::Options().MACaddr();
    if (!stored.isEmpty())
        return stored;
    QString description;
    QString mac;
    platform::GetEthernetAdapter(description, mac);
    return mac;
}

bool WakeOnLan::EnterMacAddress(const AskText& ask)
{
    QString answer;
    const bool given = ask(QStringLiteral("MAC Address"),
                           QStringLiteral("Enter the MAC address of the adapter card"),
                           DefaultMacAddress(), answer);
    if (!given || answer.isEmpty()) {
        NCL_TRACE(QStringLiteral("Enter MAC address: No entry or cancel"));
        return false;
    }
    settings::COptions& options = settings::Options();
    options.setMACaddr(answer);
    const settings::AppState& app = settings::App();
    if (settings::RegistrySet(options, app.AppTitle))
        settings::Registry_Set(app.RegOptionsKey, options);
    return true;
}

} // namespace service

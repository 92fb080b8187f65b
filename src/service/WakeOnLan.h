#pragma once
// Waking another computer: the console's "WOL" remote command hands the
// broadcast address, the local address and the MAC address to the
// Wake-on-LAN control; its outcome only reaches the debug trace. Also the
// operator's entry of this computer's own MAC address (option MACaddr).

#include "platform/WakeOnLanControl.h"

#include <QObject>
#include <QString>

#include <functional>

namespace service
{

class WakeOnLan : public QObject
{
    Q_OBJECT
public:
    explicit WakeOnLan(QObject* parent = nullptr);

    platform::WakeOnLanControl ctlUltraWOL1;

    // Always "OK": whether the packet went out is told later by the control's events.
    QString do_WOL(const QString& sBcast, const QString& sLcl, const QString& sMAC, QString& sLog);

    // The MAC address offered to the operator: MACaddr, else the last Ethernet adapter's.
    static QString DefaultMacAddress();
    // Asks for the MAC address (ask: title, prompt, default, answer; false on
    // cancel). A non-empty answer is stored unchanged as MACaddr and the
    // options are saved. True when it was stored.
    using AskText = std::function<bool(const QString& title, const QString& prompt,
                                       const QString& defaultText, QString& answer)>;
    static bool EnterMacAddress(const AskText& ask);

private:
    void ctlUltraWOL1_WOLError(const QString& text);
    void ctlUltraWOL1_WOLSuccess(const QString& text, const QString& mac, const QString& broadcast,
                                 const QString& local);
};

} // namespace service

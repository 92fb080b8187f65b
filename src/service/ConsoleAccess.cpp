#include "service/ConsoleAccess.h"

#include "logging/DebugLog.h"
#include "logging/EventLog.h"
#include "platform/RegistryStore.h"
#include "settings/AppState.h"
#include "settings/COptions.h"

#include <QHostInfo>
#include <QRegularExpression>

#include <iterator>

namespace service
{

const QString ConsoleAccess::kKeyPath = QStringLiteral("SOFTWARE\\Nightcall\\Security");

namespace
{

// A request at least this long cannot be amplified by any reply of the
// agent over UDP (its largest is the 48-byte datagram).
constexpr qsizetype kLargestDatagramReply = 48;
// Refused addresses remembered for the hourly event-log line; beyond this a
// flood of forged sources is traced only.
constexpr int kRememberedAddresses = 4096;
constexpr auto kEventLogInterval = std::chrono::hours(1);

const QString kEveryone = QStringLiteral("*");

struct Value {
    const char* name;
    quint32 type;
    const char* defaultText;
};
const Value kValues[] = {
    {"ConsoleAllow", platform::REG_SZ, ""},
    {"ConsoleUdpCommands", platform::REG_DWORD, "1"},
    {"RemoteRun", platform::REG_DWORD, "1"},
    {"FileFetchRoot", platform::REG_SZ, ""},
};

// The values of the key as text; missing ones are written with their default.
QHash<QString, QString> ReadValues()
{
    QHash<QString, QString> values;
    for (const Value& v : kValues)
        values.insert(QLatin1String(v.name), QLatin1String(v.defaultText));
    platform::RegistryStore& store = platform::Registry();
    platform::HKEY key = 0;
    if (store.CreateKey(platform::HKEY_LOCAL_MACHINE, ConsoleAccess::kKeyPath, key) !=
        platform::ERROR_SUCCESS)
        return values;
    for (const Value& v : kValues) {
        const QString name = QLatin1String(v.name);
        quint32 type = 0;
        quint32 size = 0;
        QByteArray data;
        if (store.QueryValue(key, name, type, size, &data) == platform::ERROR_SUCCESS) {
            values[name] = type == platform::REG_DWORD ? QString::number(platform::DwordOf(data))
                                                       : platform::SzText(data);
            continue;
        }
        const QByteArray initial = v.type == platform::REG_DWORD
                                       ? platform::DwordBytes(QByteArray(v.defaultText).toUInt())
                                       : platform::SzBytes(QLatin1String(v.defaultText));
        store.SetValue(key, name, v.type, initial);
    }
    store.CloseKey(key);
    return values;
}

bool SwitchOn(const QString& text)
{
    const QString t = text.trimmed().toLower();
    return !(t == QLatin1String("0") || t == QLatin1String("false") || t == QLatin1String("off") ||
             t == QLatin1String("no"));
}

// The controller's addresses, each as a one-address network.
QList<ConsoleAccess::Network> ControllerNetworks(const QString& name)
{
    QList<QHostAddress> addresses;
    const QHostAddress literal(name);
    if (!literal.isNull())
        addresses.append(literal);
    else
        addresses = QHostInfo::fromName(name).addresses();
    QList<ConsoleAccess::Network> networks;
    for (const QHostAddress& address : addresses)
        networks.append({address, address.protocol() == QAbstractSocket::IPv6Protocol ? 128 : 32});
    if (networks.isEmpty())
        NCL_TRACE(QStringLiteral("ConsoleAllow: the controller name ") + name +
                  QStringLiteral(" has no address; only loopback is admitted"));
    return networks;
}

QString AllowedText(const QList<ConsoleAccess::Network>& networks)
{
    QStringList parts;
    for (const auto& [address, prefix] : networks)
        parts.append(address.toString() + QLatin1Char('/') + QString::number(prefix));
    return parts.join(QStringLiteral(", "));
}

} // namespace

bool ConsoleAccess::ParseAllowList(const QString& text, QList<Network>& networks, QString& bad)
{
    static const QRegularExpression separators(QStringLiteral("[,;\\s]+"));
    networks.clear();
    for (const QString& entry : text.split(separators, Qt::SkipEmptyParts)) {
        if (entry == kEveryone) {
            networks.append(QHostAddress::parseSubnet(QStringLiteral("0.0.0.0/0")));
            networks.append(QHostAddress::parseSubnet(QStringLiteral("::/0")));
            continue;
        }
        // A bare address is a network of one.
        const Network network = QHostAddress::parseSubnet(entry);
        if (network.first.isNull()) {
            bad = entry;
            return false;
        }
        networks.append(network);
    }
    return true;
}

void ConsoleAccess::Load(bool atStart)
{
    const QHash<QString, QString> values = ReadValues();
    m_udpCommands = SwitchOn(values.value(QStringLiteral("ConsoleUdpCommands")));
    m_remoteRun = SwitchOn(values.value(QStringLiteral("RemoteRun")));
    m_fileFetchRoot = values.value(QStringLiteral("FileFetchRoot")).trimmed();

    const QString allow = values.value(QStringLiteral("ConsoleAllow")).trimmed();
    const QString controller = settings::Options().Servername().trimmed();
    m_allowed = {{QHostAddress(QHostAddress::LocalHost), 8},
                 {QHostAddress(QHostAddress::LocalHostIPv6), 128}};
    m_everyone = false;
    m_everyoneForWantOfController = false;
    if (!allow.isEmpty()) {
        QString bad;
        if (!ParseAllowList(allow, m_allowed, bad))
            Warn(QStringLiteral("ConsoleAllow: \"") + bad +
                 QStringLiteral("\" is no address or network; only the entries before it are "
                                "admitted"));
    } else if (controller.isEmpty()) {
        m_everyone = true;
        m_everyoneForWantOfController = true;
    } else {
        m_allowed += ControllerNetworks(controller);
    }
    for (const auto& [address, prefix] : m_allowed)
        m_everyone = m_everyone || prefix == 0;
    NCL_TRACE(QStringLiteral("ConsoleAllow: ") +
              (m_everyone ? QStringLiteral("every address") : AllowedText(m_allowed)) +
              QStringLiteral("; UDP commands ") + (m_udpCommands ? "on" : "off") +
              QStringLiteral("; remote run ") + (m_remoteRun ? "on" : "off") +
              QStringLiteral("; file fetch root ") +
              (m_fileFetchRoot.isEmpty() ? QStringLiteral("(any file)") : m_fileFetchRoot));
    if (atStart && m_everyone &&
        settings::App().ModuleType == settings::ModuleType::ServiceModule) {
        const QString where = QStringLiteral(" in HKLM\\") + kKeyPath;
        Warn(m_remoteRun ? QStringLiteral("Every address that reaches the console port may run "
                                          "programs on this computer: set ConsoleAllow (or "
                                          "RemoteRun to 0)") +
                               where
                         : QStringLiteral("Every address that reaches the console port may use "
                                          "the console commands: set ConsoleAllow") +
                               where);
    }
}

bool ConsoleAccess::Admits(const QString& peer) const
{
    if (m_everyone)
        return true;
    const QHostAddress address(peer);
    if (address.isNull())
        return false;
    for (const auto& network : m_allowed) {
        if (address.isInSubnet(network))
            return true;
    }
    return false;
}

bool ConsoleAccess::MayAmplifyTo(const QString& peer) const
{
    if (!m_everyoneForWantOfController)
        return Admits(peer);
    const QHostAddress address(peer);
    return address.isLoopback();
}

bool ConsoleAccess::Serves(const QString& peer, bool moduleRole, bool udp,
                           const QByteArray& request)
{
    if (!moduleRole) {
        // Time clients are everyone; only a reply larger than its request
        // waits for an admitted source.
        if (udp && request.size() < kLargestDatagramReply && !MayAmplifyTo(peer)) {
            Refuse(peer, QStringLiteral("a datagram shorter than its reply"), false);
            return false;
        }
        return true;
    }
    if (!Admits(peer)) {
        Refuse(peer, QStringLiteral("the address is not in ConsoleAllow"), true);
        return false;
    }
    const char command = request.isEmpty() ? 0 : request.at(0);
    if (udp && !m_udpCommands &&
        (command == 'S' || command == 'F' || command == 'C' || command == 'X')) {
        Refuse(peer,
               QStringLiteral("\"") + QLatin1Char(command) +
                   QStringLiteral("\" over UDP is off (ConsoleUdpCommands)"),
               false);
        return false;
    }
    const bool fileFetch = command == 'C' && request.mid(2, 3) == "ncl";
    if (udp && (request.size() < kLargestDatagramReply || fileFetch) && !MayAmplifyTo(peer)) {
        Refuse(peer, QStringLiteral("a datagram shorter than its reply"), false);
        return false;
    }
    return true;
}

void ConsoleAccess::Refuse(const QString& peer, const QString& why, bool eventLog)
{
    const QString text =
        QStringLiteral("Request from ") + peer + QStringLiteral(" not served: ") + why;
    NCL_TRACE(text);
    if (!eventLog)
        return;
    const auto now = std::chrono::steady_clock::now();
    const auto last = m_lastLogged.constFind(peer);
    if (last != m_lastLogged.constEnd() && now - *last < kEventLogInterval)
        return;
    if (last == m_lastLogged.constEnd() && m_lastLogged.size() >= kRememberedAddresses) {
        for (auto it = m_lastLogged.begin(); it != m_lastLogged.end();)
            it = now - it.value() >= kEventLogInterval ? m_lastLogged.erase(it) : std::next(it);
        if (m_lastLogged.size() >= kRememberedAddresses)
            return;
    }
    m_lastLogged.insert(peer, now);
    logging::LogEvent(text, logging::EventWarning, settings::Options().LoggingEvntFileName());
}

void ConsoleAccess::Warn(const QString& text) const
{
    NCL_TRACE(text);
    logging::LogEvent(text, logging::EventWarning, settings::Options().LoggingEvntFileName());
    // The system's journal hears it whether or not events go there.
    if (!settings::Options().LoggingNTEvntOn())
        logging::LogNTEvent(text, logging::EventWarning, 1);
}

} // namespace service

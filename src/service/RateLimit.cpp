#include "service/RateLimit.h"

#include "logging/DebugLog.h"
#include "logging/EventLog.h"
#include "platform/RegistryStore.h"
#include "settings/AppState.h"
#include "settings/COptions.h"

#include <QtEndian>

#include <chrono>
#include <cstring>

namespace service
{

const QString kLimitsKey = QStringLiteral("SOFTWARE\\Nightcall\\Limits");

namespace
{

struct Range {
    const char* name;
    qint32 low;
    qint32 high;
    qint32 LimitSettings::*field;
};
const Range kRanges[] = {
    {"Interval", -19, 12, &LimitSettings::interval},
    {"Burst", 1, 255, &LimitSettings::burst},
    {"Leak", 1, 4, &LimitSettings::leak},
};

// A REG_DWORD is read as a signed number, so that 0xFFFFFFFD is -3; text
// (REG_SZ) may be written as "-3" directly.
bool NumberOf(const platform::RegValue& value, qint32& number)
{
    if (value.type == platform::REG_DWORD) {
        number = qint32(platform::DwordOf(value.data));
        return true;
    }
    bool ok = false;
    number = platform::SzText(value.data).trimmed().toInt(&ok);
    return ok && value.type == platform::REG_SZ;
}

QString ValueText(const platform::RegValue& value)
{
    return value.type == platform::REG_DWORD
               ? QString::number(qint32(platform::DwordOf(value.data)))
               : platform::SzText(value.data);
}

// In the event log, where an operator who set the value looks.
void ReportBadValue(const Range& range, const platform::RegValue& value)
{
    const QString text =
        QStringLiteral("Rate limit: ") + QLatin1String(range.name) + QStringLiteral(" \"") +
        ValueText(value) + QStringLiteral("\" is not a number from ") + QString::number(range.low) +
        QStringLiteral(" to ") + QString::number(range.high) + QStringLiteral(" in HKLM\\") +
        kLimitsKey +
        (range.field == &LimitSettings::interval
             ? QStringLiteral("; the limit is off")
             : QStringLiteral("; ") + QString::number(LimitSettings().*range.field) +
                   QStringLiteral(" is used"));
    NCL_TRACE(text);
    logging::LogEvent(text, logging::EventWarning, settings::Options().LoggingEvntFileName());
}

qint64 MonotonicNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

LimitSettings ReadLimits()
{
    LimitSettings settings;
    platform::RegistryStore& store = platform::Registry();
    platform::HKEY key = 0;
    if (store.OpenKey(platform::HKEY_LOCAL_MACHINE, kLimitsKey, key) != platform::ERROR_SUCCESS)
        return settings;
    QList<platform::RegValue> values;
    store.EnumValues(key, values);
    store.CloseKey(key);
    for (const Range& range : kRanges) {
        for (const platform::RegValue& value : values) {
            if (value.name.compare(QLatin1String(range.name), Qt::CaseInsensitive) != 0)
                continue;
            qint32 number = 0;
            const bool good =
                NumberOf(value, number) && number >= range.low && number <= range.high;
            if (!good) {
                ReportBadValue(range, value);
                break;
            }
            settings.*range.field = number;
            if (range.field == &LimitSettings::interval)
                settings.on = true;
        }
    }
    NCL_TRACE(settings.on
                  ? QStringLiteral("Rate limit: interval ") + QString::number(settings.interval) +
                        QStringLiteral(", burst ") + QString::number(settings.burst) +
                        QStringLiteral(", leak ") + QString::number(settings.leak)
                  : QStringLiteral("Rate limit: off"));
    return settings;
}

void RateLimit::Configure(const LimitSettings& settings)
{
    m_settings = settings;
    m_on = settings.on;
    const qint64 second = 1000000000;
    m_intervalNs =
        settings.interval >= 0 ? second << settings.interval : second >> -settings.interval;
    m_toleranceNs = qint64(settings.burst - 1) * m_intervalNs;
    m_leakMask = (1u << settings.leak) - 1;
    m_peers.clear();
}

bool RateLimit::Allow(const Q_IPV6ADDR& address)
{
    return !m_on || AllowAt(address, MonotonicNs());
}

bool RateLimit::Allow(const QHostAddress& address)
{
    if (!m_on)
        return true;
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    // Mapped by hand: QHostAddress keeps a plain IPv4 address unmapped.
    Q_IPV6ADDR mapped{};
    if (isV4) {
        mapped.c[10] = mapped.c[11] = 0xff;
        qToBigEndian(v4, mapped.c + 12);
    } else {
        mapped = address.toIPv6Address();
    }
    return AllowAt(mapped, MonotonicNs());
}

bool RateLimit::AllowAt(const Q_IPV6ADDR& address, qint64 nowNs)
{
    if (!m_on)
        return true;
    Key key;
    std::memcpy(&key.high, address.c, 8);
    std::memcpy(&key.low, address.c + 8, 8);
    auto found = m_peers.find(key);
    if (found == m_peers.end()) {
        if (m_peers.size() >= kMaxAddresses)
            MakeRoom(nowNs);
        found = m_peers.insert(key, Peer{nowNs, 0});
    }
    Peer& peer = *found;
    // Each answer moves the due time on by one interval; a peer may run ahead
    // of it by burst - 1 intervals.
    const qint64 due = qMax(peer.due, nowNs);
    if (due - nowNs <= m_toleranceNs) {
        peer.due = due + m_intervalNs;
        return true;
    }
    ++peer.limited;
    return (peer.limited & m_leakMask) == 0;
}

void RateLimit::MakeRoom(qint64 nowNs)
{
    // A peer whose due time has passed is in the state of a new one.
    m_peers.removeIf([nowNs](const auto& entry) { return entry.value().due <= nowNs; });
    if (m_peers.size() >= kMaxAddresses)
        m_peers.clear();
}

} // namespace service

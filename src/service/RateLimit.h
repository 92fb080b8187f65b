#pragma once
// An opt-in limit on how often one source address is answered: UDP replies
// and accepted TCP connections. Off unless the registry key
// HKLM\SOFTWARE\Nightcall\Limits holds an Interval value.
//
// It works as chrony's ratelimit does: an address may be answered on average
// once per 2^Interval seconds, with bursts of up to Burst answers; of the
// requests over the limit every 2^Leak-th is answered anyway, so that a peer
// sending in a victim's name cannot cut the victim off completely.

#include <QHash>
#include <QHostAddress>
#include <QString>
#include <QtGlobal>

namespace service
{

struct LimitSettings {
    bool on = false;
    qint32 interval = 3; // log2 of the seconds between answers, -19 to 12
    qint32 burst = 8;    // 1 to 255
    qint32 leak = 2;     // 1 to 4
};

// The registry key of the limit, under HKEY_LOCAL_MACHINE.
extern const QString kLimitsKey;

// The settings in the registry key; a value out of range or not a number is
// reported and its default used (an Interval like that leaves the limit off).
LimitSettings ReadLimits();

class RateLimit
{
public:
    // New settings start every address afresh.
    void Configure(const LimitSettings& settings);
    bool On() const { return m_on; }
    const LimitSettings& Settings() const { return m_settings; }

    // True when address may be answered now (always when the limit is off).
    // IPv4 addresses count as their IPv4-mapped IPv6 form.
    bool Allow(const Q_IPV6ADDR& address);
    bool Allow(const QHostAddress& address);
    // The same at a given monotonic time in nanoseconds, for tests.
    bool AllowAt(const Q_IPV6ADDR& address, qint64 nowNs);

    // Addresses remembered at most; beyond, those at rest are forgotten.
    static constexpr int kMaxAddresses = 16384;

private:
    struct Key {
        quint64 high = 0;
        quint64 low = 0;
        friend bool operator==(const Key& a, const Key& b)
        {
            return a.high == b.high && a.low == b.low;
        }
        friend size_t qHash(const Key& key, size_t seed = 0)
        {
            return qHashMulti(seed, key.high, key.low);
        }
    };
    struct Peer {
        qint64 due = 0;      // when the peer's next answer is due if it keeps to the interval
        quint32 limited = 0; // requests refused so far, for the leak
    };
    void MakeRoom(qint64 nowNs);

    bool m_on = false;
    LimitSettings m_settings;
    qint64 m_intervalNs = 0;
    qint64 m_toleranceNs = 0;
    quint32 m_leakMask = 0;
    QHash<Key, Peer> m_peers;
};

} // namespace service

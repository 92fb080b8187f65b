#include "contact/IcmpEcho.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace contact
{

namespace
{

constexpr int kPayloadSize = 16;

quint16 Checksum(const unsigned char* data, std::size_t length)
{
    quint32 sum = 0;
    for (std::size_t i = 0; i + 1 < length; i += 2)
        sum += quint32(data[i] << 8 | data[i + 1]);
    if (length % 2)
        sum += quint32(data[length - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return quint16(~sum);
}

qint64 MonotonicMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

} // namespace

IcmpEcho::IcmpEcho(QObject* parent) : QObject(parent)
{
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, [this] { Finish(false); });
}

IcmpEcho::~IcmpEcho()
{
    CloseSocket();
}

void IcmpEcho::CloseSocket()
{
    delete m_notifier;
    m_notifier = nullptr;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_timeout.stop();
}

bool IcmpEcho::Send(const QString& address, int timeoutMs, QString& error)
{
    CloseSocket();
    QHostAddress host;
    bool isV4 = false;
    const quint32 v4 = host.setAddress(address) ? host.toIPv4Address(&isV4) : 0;
    if (!isV4) {
        error = QStringLiteral("not an IPv4 address: ") + address;
        return false;
    }
    // The unprivileged kind first; a raw socket needs root.
    m_raw = false;
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (m_fd < 0) {
        m_raw = true;
        m_fd = ::socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
    }
    if (m_fd < 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    m_target = htonl(v4);
    m_id = quint16(::getpid() ^ quintptr(this));
    ++m_sequence;

    unsigned char packet[8 + kPayloadSize] = {};
    packet[0] = ICMP_ECHO;
    packet[4] = quint8(m_id >> 8);
    packet[5] = quint8(m_id);
    packet[6] = quint8(m_sequence >> 8);
    packet[7] = quint8(m_sequence);
    const quint16 sum = Checksum(packet, sizeof packet);
    packet[2] = quint8(sum >> 8);
    packet[3] = quint8(sum);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = m_target;
    m_sentAt = MonotonicMs();
    if (::sendto(m_fd, packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        CloseSocket();
        return false;
    }
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &IcmpEcho::OnReadable);
    m_timeout.start(timeoutMs);
    return true;
}

void IcmpEcho::OnReadable()
{
    unsigned char buffer[1500];
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    for (;;) {
        const ssize_t n = ::recvfrom(m_fd, buffer, sizeof buffer, 0,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n <= 0)
            return;
        // A raw socket sees the IP header, and every ICMP packet of the host.
        std::size_t offset = 0;
        if (m_raw)
            offset = std::size_t(buffer[0] & 0x0F) * 4;
        if (std::size_t(n) < offset + 8 || from.sin_addr.s_addr != m_target)
            continue;
        const unsigned char* icmp = buffer + offset;
        const quint16 id = quint16(icmp[4] << 8 | icmp[5]);
        const quint16 sequence = quint16(icmp[6] << 8 | icmp[7]);
        // The datagram kind has its identifier set by the system.
        if (icmp[0] == ICMP_ECHOREPLY && sequence == m_sequence && (!m_raw || id == m_id)) {
            Finish(true);
            return;
        }
    }
}

void IcmpEcho::Finish(bool replied)
{
    const qint32 roundTrip = qint32(MonotonicMs() - m_sentAt);
    CloseSocket();
    Q_EMIT Finished(replied, roundTrip);
}

} // namespace contact

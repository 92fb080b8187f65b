// The binary parsers of the engine: SNTP replies and the four-byte time.
#include "timeset/CNISTtimeset.h"

#include "logging/DebugLog.h"
#include "runtime/TextFormat.h"
#include "timeset/TimeConversions.h"

#include <cmath>

namespace timeset
{

namespace
{

constexpr int kSntpPacketSize = 48;
constexpr int kTransmitSeconds = 40;
constexpr int kTransmitFraction = 44;
// Replies from before this year come from a server whose clock is not set.
constexpr int kEarliestYear = 2001;

} // namespace

rt::Date CNISTtimeset::byte_to_date(const QByteArray& bytes) const
{
    return timeset::byte_to_date(bytes);
}

QByteArray CNISTtimeset::date_to_byte(rt::Date value) const
{
    return timeset::date_to_byte(value);
}

float CNISTtimeset::byte_to_frac(const QByteArray& bytes) const
{
    return timeset::byte_to_frac(bytes);
}

bool CNISTtimeset::check_received_date(rt::Date value) const
{
    if (!std::isfinite(value)) {
        NCL_TRACE(QStringLiteral("Bad date"));
        return false;
    }
    if (rt::FromDate(value).year < kEarliestYear) {
        NCL_TRACE(QStringLiteral("Bad year"));
        return false;
    }
    return true;
}

bool CNISTtimeset::SNTP_check_mode(quint8 firstByte) const
{
    if ((firstByte & 3) == 3) {
        NCL_TRACE(QStringLiteral("-is a client (should be a server)"));
        return false;
    }
    if ((firstByte & 4) == 4)
        return true;
    NCL_TRACE(QStringLiteral("Unknown mode: ") + QString::number(firstByte));
    return false;
}

float CNISTtimeset::SNTP_get_fraction(const QByteArray& datagram) const
{
    return timeset::byte_to_frac(datagram.mid(kTransmitFraction, 4));
}

bool CNISTtimeset::SNTP_parse_packet(const QByteArray& datagram)
{
    if (datagram.size() < kSntpPacketSize) {
        NCL_TRACE(QStringLiteral("Protocol Error."));
        return false;
    }
    const rt::Date received = timeset::byte_to_date(datagram.mid(kTransmitSeconds, 4));
    if (!check_received_date(received)) {
        NCL_TRACE(QStringLiteral("Protocol Error."));
        return false;
    }
    NCL_TRACE(QStringLiteral("Date Received: ") + rt::GeneralDate(received));
    m_NISTDate = rt::GeneralDate(received);

    m_NISTSecFrac = SNTP_get_fraction(datagram);
    NCL_TRACE(QStringLiteral("Fractional part: ") +
              rt::FormatNumber(m_NISTSecFrac, QStringLiteral("0.0000")));
    // A wrong mode does not fail the parse; it marks the server unhealthy.
    m_NISTServerHealth = SNTP_check_mode(quint8(datagram.at(0))) ? 0 : 3;
    return true;
}

bool CNISTtimeset::Time_parse_bytes(const QByteArray& bytes)
{
    if (bytes.size() < 4) {
        NCL_TRACE(QStringLiteral("Protocol Error."));
        return false;
    }
    const rt::Date received = timeset::byte_to_date(bytes.left(4));
    if (!check_received_date(received)) {
        NCL_TRACE(QStringLiteral("Protocol Error."));
        return false;
    }
    NCL_TRACE(QStringLiteral("Date Received: ") + rt::GeneralDate(received));
    m_NISTDate = rt::GeneralDate(received);
    return true;
}

} // namespace timeset

#include "service/TimeReplies.h"

#include "logging/DebugLog.h"
#include "platform/SystemClock.h"
#include "runtime/CurrentError.h"
#include "runtime/DateTime.h"
#include "runtime/TextFormat.h"
#include "service/Listener.h"
#include "settings/AppState.h"
#include "timeset/TimeConversions.h"

#include <cstring>

namespace service
{

namespace
{

const QString kModule = QStringLiteral("frmMainEntSrvc");
const QString kSendProcedure = QStringLiteral("send_NTP_time");

// Fields of the NTP packet that the reply fills in.
constexpr int kReferenceId = 12;
constexpr int kReferenceTime = 16;
constexpr int kOriginateTime = 24;
constexpr int kReceiveTime = 32;
constexpr int kTransmitTime = 40;

void PutBytes(QByteArray& packet, int at, const QByteArray& bytes)
{
    for (int i = 0; i < bytes.size(); ++i)
        packet[at + i] = bytes.at(i);
}

// The 4 NTP seconds bytes of a whole UTC second. The conversion is the
// engine's; a busy server asks for the same second thousands of times, so
// the last one is kept.
const char* NtpSecondsOf(qint64 utcSecond)
{
    static qint64 cachedSecond = -1;
    static char cached[4];
    if (utcSecond != cachedSecond) {
        const platform::SystemTime utc = platform::SystemClock::UtcRecordAt(utcSecond * 1000);
        const QByteArray bytes = timeset::date_to_byte(
            rt::MakeDate(utc.wYear, utc.wMonth, utc.wDay, utc.wHour, utc.wMinute, utc.wSecond));
        std::memcpy(cached, bytes.constData(), 4);
        cachedSecond = utcSecond;
    }
    return cached;
}

QString Two(int value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

void ReportSendError(const QString& message)
{
    logging::ReportError(logging::Error, message, rt::Err().number, kModule, kSendProcedure, 0);
}

} // namespace

UtcReading UtcReading::Now()
{
    return UtcReading{platform::Clock().NowUtcMs()};
}

float UtcReading::Fraction() const
{
    const qint64 ms = ((utcMs % 1000) + 1000) % 1000;
    return timeset::digits_to_fraction(qint16(ms));
}

bool IsSntpRequest(quint8 first)
{
    const int mode = first & 7;
    const int version = (first >> 3) & 7;
    return (mode == 3 || mode == 1) && version >= 1 && version <= 4;
}

void BuildSntpReply(const char* request, const UtcReading& now, char* reply)
{
    const qint64 second = now.utcMs >= 0 ? now.utcMs / 1000 : (now.utcMs - 999) / 1000;
    const char* seconds = NtpSecondsOf(second);
    quint8 f0 = 0;
    quint8 f1 = 0;
    FracToBytes(now.Fraction(), f0, f1);

    std::memcpy(reply, request, kDatagramSize);
    // Request byte 0 plus 1, whole: a client's mode 3 becomes mode 4, server.
    reply[0] = char(quint8(request[0]) + 1);
    reply[1] = 1;         // stratum
    reply[2] = 4;         // poll
    reply[3] = char(238); // precision, -18
    std::memcpy(reply + kReferenceId, "TDWN", 4);
    std::memcpy(reply + kReferenceTime, seconds, 4);
    // The originate timestamp is the client's transmit time when it sent one.
    const int originate = quint8(request[kTransmitTime]) > 0 ? kTransmitTime : kOriginateTime;
    std::memmove(reply + kOriginateTime, request + originate, 8);
    std::memcpy(reply + kReceiveTime, seconds, 4);
    reply[kReceiveTime + 4] = char(f0);
    reply[kReceiveTime + 5] = char(f1);
    std::memcpy(reply + kTransmitTime, seconds, 4);
    reply[kTransmitTime + 4] = char(f0);
    reply[kTransmitTime + 5] = char(f1);
    reply[kTransmitTime + 6] = 0;
    reply[kTransmitTime + 7] = 0;
}

QByteArray SntpReply(const QByteArray& request, const UtcReading& now)
{
    if (request.size() < kDatagramSize)
        return QByteArray();
    QByteArray reply(kDatagramSize, Qt::Uninitialized);
    BuildSntpReply(request.constData(), now, reply.data());
    return reply;
}

void FracToBytes(float f, quint8& f0, quint8& f1)
{
    const double scaled = double(f) * 256.0;
    const int first = int(scaled);
    f0 = quint8(first);
    f1 = quint8(int((scaled - first) * 256.0));
}

QByteArray TextDatagram(const QString& text)
{
    if (text.size() > kDatagramSize)
        return QByteArray();
    QByteArray datagram(kDatagramSize, '\0');
    PutBytes(datagram, 0, text.toLatin1());
    return datagram;
}

QString HexDump(const QString& title, const QByteArray& bytes)
{
    QString line = title;
    for (int i = 0; i < bytes.size(); ++i)
        line += QStringLiteral(" [%1]%2").arg(i).arg(quint8(bytes.at(i)), 0, 16).toUpper();
    return line + QStringLiteral(" <-(Hex) size: ") + QString::number(bytes.size() - 1);
}

QString PrintableText(const QByteArray& datagram)
{
    QString text;
    for (const char byte : datagram) {
        const quint8 code = quint8(byte);
        if (code >= 32 && code <= 126)
            text += QLatin1Char(byte);
    }
    return text;
}

QString UtcDateTimeText(const UtcReading& now)
{
    const platform::SystemTime t = platform::SystemClock::UtcRecordAt(now.utcMs);
    const QString text = QStringLiteral("%1-%2-%3 %4:%5:%6.%7")
                             .arg(t.wYear, 4, 10, QLatin1Char('0'))
                             .arg(Two(t.wMonth), Two(t.wDay))
                             .arg(t.wHour)
                             .arg(Two(t.wMinute), Two(t.wSecond))
                             .arg(t.wMilliseconds, 3, 10, QLatin1Char('0'));
    NCL_TRACE(QStringLiteral("System Date Time String: _") + text + QLatin1Char('_'));
    return text;
}

QString UtcShortDateTime(const UtcReading& now)
{
    const platform::SystemTime t = platform::SystemClock::UtcRecordAt(now.utcMs);
    return Two(t.wYear % 100) + QLatin1Char('-') + Two(t.wMonth) + QLatin1Char('-') + Two(t.wDay) +
           QLatin1Char(' ') + Two(t.wHour) + QLatin1Char(':') + Two(t.wMinute) + QLatin1Char(':') +
           Two(t.wSecond);
}

QString FractionText(float fraction)
{
    return rt::FormatNumber(double(fraction), QStringLiteral(".###"));
}

bool send_NTP_time(Listener& listener, const QByteArray& request)
{
    const QByteArray reply = SntpReply(request, UtcReading::Now());
    if (reply.isEmpty()) {
        rt::RaiseError(9, QStringLiteral("Subscript out of range"));
        ReportSendError(QStringLiteral("Port Error in sending NTP data."));
        return false;
    }
    platform::SocketControl* element = listener.tcpServer.Item(listener.CurrentInstance);
    if (!element) {
        rt::RaiseError(340, QStringLiteral("Control array element doesn't exist"));
        ReportSendError(QStringLiteral("Port Error in sending NTP data."));
        return false;
    }
    NCL_TRACE(QStringLiteral("SERVER NTP Ports:----------Remote: ") +
              QString::number(element->RemotePort()) + QStringLiteral(" Local: ") +
              QString::number(element->LocalPort()));
    if (!element->SendData(reply)) {
        ReportSendError(QStringLiteral("Port Error in sending NTP data."));
        return false;
    }
    NCL_TRACE(HexDump(QStringLiteral("SERVER Sent NTP time:"), reply));
    return true;
}

bool SendUdpString(Listener& listener, const QString& text)
{
    const QByteArray datagram = TextDatagram(text);
    platform::SocketControl* element = listener.tcpServer.Item(listener.CurrentInstance);
    if (datagram.isEmpty() || !element) {
        rt::RaiseError(9, QStringLiteral("Subscript out of range"));
        ReportSendError(QStringLiteral("Port Error in sending UDP data."));
        return false;
    }
    if (!element->SendData(datagram)) {
        ReportSendError(QStringLiteral("Port Error in sending UDP data."));
        return false;
    }
    NCL_TRACE(HexDump(QStringLiteral("CLIENT Sent UDP string:"), datagram));
    NCL_TRACE(QStringLiteral("Local port: ") + QString::number(element->LocalPort()) +
              QStringLiteral(", remote port: ") + QString::number(element->RemotePort()) +
              QStringLiteral(", Instance: ") + QString::number(listener.CurrentInstance));
    return true;
}

bool SendNistText(Listener& listener, qint16 index, const QByteArray& request)
{
    platform::SocketControl* element = listener.tcpServer.Item(index);
    if (!element)
        return false;
    NCL_TRACE(QStringLiteral("SERVER  NIST(TD)client, local port: ") +
              QString::number(element->LocalPort()) + QStringLiteral(", remote port: ") +
              QString::number(element->RemotePort()));
    const QString peer = element->RemoteHostIP();
    const QString text = QString::fromLatin1(request);
    const qsizetype plus = text.indexOf(QLatin1Char('+'));
    // A peer the socket cannot name may name itself before a "+"; for the log only.
    if (peer.isEmpty() && plus >= 0) {
        NCL_TRACE(QStringLiteral("TD Client, embeded IP check"));
        NCL_TRACE(QStringLiteral(" IP: ") + text.left(plus));
    }
    return element->SendData(QStringLiteral("Server: ") + UtcShortDateTime(UtcReading::Now()));
}

} // namespace service

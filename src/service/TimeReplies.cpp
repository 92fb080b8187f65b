#include "service/TimeReplies.h"

#include "logging/DebugLog.h"
#include "platform/SystemClock.h"
#include "runtime/CurrentError.h"
#include "runtime/DateTime.h"
#include "runtime/TextFormat.h"
#include "service/Listener.h"
#include "settings/AppState.h"
#include "timeset/TimeConversions.h"

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

QString Two(int value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

// The request's first byte plus 1: a client's mode 3 becomes mode 4, server.
// A client that marks itself unsynchronised (leap indicator 3, as ntpdig
// does) would get that alarm echoed and drop the reply, so the server
// answers it with leap indicator 0.
quint8 FirstByte(quint8 request)
{
    constexpr quint8 kAlarm = 0xC0;
    const bool alarmedClient = (request & kAlarm) == kAlarm && (request & 7) == 3;
    return quint8((alarmedClient ? request & ~kAlarm : request) + 1);
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

QByteArray SntpReply(const QByteArray& request, const UtcReading& now)
{
    if (request.size() < kDatagramSize)
        return QByteArray();
    const platform::SystemTime utc = platform::SystemClock::UtcRecordAt(now.utcMs);
    const rt::Date whole =
        rt::MakeDate(utc.wYear, utc.wMonth, utc.wDay, utc.wHour, utc.wMinute, utc.wSecond);
    const QByteArray seconds = timeset::date_to_byte(whole);
    quint8 f0 = 0;
    quint8 f1 = 0;
    FracToBytes(now.Fraction(), f0, f1);

    QByteArray reply = request.left(kDatagramSize);
    reply[0] = char(FirstByte(quint8(request.at(0))));
    reply[1] = 1;         // stratum
    reply[2] = 4;         // poll
    reply[3] = char(238); // precision, -18
    PutBytes(reply, kReferenceId, QByteArrayLiteral("TDWN"));
    PutBytes(reply, kReferenceTime, seconds);
    // The originate timestamp is the client's transmit time when it sent one.
    const int originate = quint8(request.at(kTransmitTime)) > 0 ? kTransmitTime : kOriginateTime;
    PutBytes(reply, kOriginateTime, request.mid(originate, 8));
    PutBytes(reply, kReceiveTime, seconds);
    reply[kReceiveTime + 4] = char(f0);
    reply[kReceiveTime + 5] = char(f1);
    PutBytes(reply, kTransmitTime, seconds);
    reply[kTransmitTime + 4] = char(f0);
    reply[kTransmitTime + 5] = char(f1);
    reply[kTransmitTime + 6] = 0;
    reply[kTransmitTime + 7] = 0;
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

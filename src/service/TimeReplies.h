#pragma once
// The replies the service sends on its listening socket: the SNTP reply built
// from a client's request, the 48-byte text datagram, the "Server: " text
// reply of the time server, and the hex dump that logs datagrams.
//
// Every reply that carries the time takes it from one clock reading
// (UtcReading), so the seconds and the fraction of one reply can never come
// from two sides of a second boundary.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace service
{

class Listener;

// One reading of the agent's UTC clock, in milliseconds since 1970.
struct UtcReading {
    qint64 utcMs = 0;
    static UtcReading Now();
    // The fraction of the second, 0 to 0.999.
    float Fraction() const;
};

constexpr int kDatagramSize = 48;

// The reply to a 48-byte SNTP request; empty when the request is shorter.
QByteArray SntpReply(const QByteArray& request, const UtcReading& now);
// The same into reply (48 bytes) from a request of at least 48 bytes.
void BuildSntpReply(const char* request, const UtcReading& now, char* reply);
// Whether a datagram whose first byte is this asks for the time: version 1
// to 4 and mode 3 (client) or 1 (symmetric active). Anything else, above
// all a reply (mode 2 or 4; the text replies "OK-..." are mode 7), gets no
// answer, so that two servers never answer each other's answers.
bool IsSntpRequest(quint8 first);
// The two leading bytes of the NTP fraction of f (0 <= f < 1).
void FracToBytes(float f, quint8& f0, quint8& f1);
// The text as single-byte codes in 48 zeroed bytes; empty when it does not fit.
QByteArray TextDatagram(const QString& text);
// "title [0]1B [1]0 <-(Hex) size: 1"
QString HexDump(const QString& title, const QByteArray& bytes);
// The characters of the bytes 32 to 126, in order.
QString PrintableText(const QByteArray& datagram);

// "2026-12-04 9:05:07.045"
QString UtcDateTimeText(const UtcReading& now);
// "26-12-04 20:55:06"
QString UtcShortDateTime(const UtcReading& now);
// ".5" for 0.5, ".123" for 0.123, "." for 0.
QString FractionText(float fraction);

// Builds the SNTP reply to request and sends it on element CurrentInstance;
// a failure is reported, nothing goes to the peer. True when sent.
bool send_NTP_time(Listener& listener, const QByteArray& request);
// Sends the text datagram on element CurrentInstance; true when sent.
bool SendUdpString(Listener& listener, const QString& text);
// The time server's reply to a TCP request on element index: "Server: " and the time.
bool SendNistText(Listener& listener, qint16 index, const QByteArray& request);

} // namespace service

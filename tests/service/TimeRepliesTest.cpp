// The reply bytes and texts: the SNTP reply built from a request, the text
// datagram, the hex dump, the printable text of a datagram and the time texts.
#include "service/TimeReplies.h"
#include "service/Listener.h"

#include "timeset/EngineTestSupport.h"

#include <QDateTime>
#include <QTimeZone>

#include <gtest/gtest.h>

using service::UtcReading;

namespace
{

// 2026-12-04 20:55:06 UTC and msec.
UtcReading At(int msec)
{
    const QDateTime t(QDate(2026, 12, 4), QTime(20, 55, 6, msec), QTimeZone::utc());
    return UtcReading{t.toMSecsSinceEpoch()};
}

QByteArray Request(quint8 first, quint8 transmitHigh)
{
    QByteArray request(48, '\0');
    for (int i = 0; i < 48; ++i)
        request[i] = char(100 + i); // every byte recognisable
    request[0] = char(first);
    request[40] = char(transmitHigh);
    return request;
}

quint32 Seconds(const QByteArray& packet, int at)
{
    quint32 value = 0;
    for (int i = 0; i < 4; ++i)
        value = (value << 8) | quint8(packet.at(at + i));
    return value;
}

} // namespace

TEST(TimeReplies, SntpReplyFieldByFieldAndItsVariants)
{
    const QByteArray request = Request(27, 0xEE);
    const QByteArray reply = service::SntpReply(request, At(123));
    ASSERT_EQ(reply.size(), 48);
    EXPECT_EQ(reply.left(4), QByteArray::fromHex("1c0104ee"));
    EXPECT_EQ(reply.mid(4, 8), request.mid(4, 8));
    EXPECT_EQ(reply.mid(12, 4), QByteArray("TDWN"));
    EXPECT_EQ(reply.mid(20, 4), request.mid(20, 4));
    EXPECT_EQ(reply.mid(24, 8), request.mid(40, 8)); // originate = client's transmit time
    EXPECT_EQ(reply.mid(38, 2), request.mid(38, 2));

    // 2026-12-04 20:55:06 UTC is 4005406506 seconds after 1900.
    for (const int at : {16, 32, 40})
        EXPECT_EQ(Seconds(reply, at), 4005406506u) << at;
    // 0.123 s is 31/256 and 124/65536; the last two bytes stay zero.
    EXPECT_EQ(reply.mid(36, 2), QByteArray::fromHex("1f7c"));
    EXPECT_EQ(reply.mid(44, 4), QByteArray::fromHex("1f7c0000"));

    // A request without a transmit time gets its own bytes 24 to 31 back.
    const QByteArray bare = Request(0x54, 0);
    EXPECT_EQ(service::SntpReply(bare, At(0)).mid(24, 8), bare.mid(24, 8));
    // Seconds and fraction come from one reading: .999 never rounds into the next second.
    const QByteArray late = service::SntpReply(bare, At(999));
    EXPECT_EQ(Seconds(late, 40), 4005406506u);
    EXPECT_EQ(late.mid(44, 2), QByteArray::fromHex("ffbe"));
    EXPECT_EQ(service::SntpReply(bare, At(250)).mid(44, 2), QByteArray::fromHex("4000"));

    // Byte 0 plus 1 whole, leap indicator included.
    EXPECT_EQ(quint8(service::SntpReply(Request(0xE3, 0xEE), At(0))[0]), 0xE4);
    EXPECT_EQ(quint8(service::SntpReply(Request(0xFF, 0xEE), At(0))[0]), 0x00);

    for (int size : {0, 1, 2, 47})
        EXPECT_TRUE(service::SntpReply(QByteArray(size, 'T'), At(0)).isEmpty()) << size;
    EXPECT_EQ(service::SntpReply(QByteArray(60, '\x1b'), At(0)).size(), 48);
}

TEST(TimeReplies, OnlyRequestsAreAnswered)
{
    // Client mode 3 and symmetric mode 1 of versions 1 to 4 are requests;
    // version 0, versions 5 to 7, other modes and text answers are not.
    for (const char first : QByteArray::fromHex("1b23e30b2109"))
        EXPECT_TRUE(service::IsSntpRequest(quint8(first))) << int(quint8(first));
    for (const char first : QByteArray::fromHex("032b3b1c24e41a1d1e1f4f555a00"))
        EXPECT_FALSE(service::IsSntpRequest(quint8(first))) << int(quint8(first));
}

TEST(TimeReplies, TextDatagramDumpAndPrintableText)
{
    EXPECT_EQ(service::TextDatagram("OK-H"), QByteArray("OK-H") + QByteArray(44, '\0'));
    EXPECT_EQ(service::TextDatagram(QString(48, 'x')).size(), 48);
    EXPECT_TRUE(service::TextDatagram(QString(49, 'x')).isEmpty());

    EXPECT_EQ(service::HexDump("X", QByteArray("\x1b\x00", 2)), "X [0]1B [1]0 <-(Hex) size: 1");
    EXPECT_EQ(service::HexDump("E", QByteArray()), "E <-(Hex) size: -1");

    EXPECT_EQ(service::PrintableText(QByteArray("C+run\x00\x1f\x7f\xffme ~", 14)), "C+runme ~");
}

TEST(TimeReplies, TimeTexts)
{
    EXPECT_EQ(service::UtcDateTimeText(At(45)), "2026-12-04 20:55:06.045");
    const QDateTime morning(QDate(2026, 1, 2), QTime(9, 5, 7, 5), QTimeZone::utc());
    EXPECT_EQ(service::UtcDateTimeText(UtcReading{morning.toMSecsSinceEpoch()}),
              "2026-01-02 9:05:07.005");
    EXPECT_EQ(service::UtcShortDateTime(UtcReading{morning.toMSecsSinceEpoch()}),
              "26-01-02 09:05:07");
    // The trace's stamp: UTC, whatever the zone, and the hour without a leading zero.
    enginetest::ScopedZone zone("America/New_York");
    enginetest::ScopedFixedClock fixed(morning.toMSecsSinceEpoch());
    EXPECT_EQ(service::Listener::UtcStamp(), "9:05:07.005");

    struct Case {
        int msec;
        const char* text;
    };
    for (const Case& c :
         {Case{500, ".5"}, Case{123, ".123"}, Case{250, ".25"}, Case{7, ".007"}, Case{0, "."}})
        EXPECT_EQ(service::FractionText(At(c.msec).Fraction()), c.text) << c.msec;
}

// The reply bytes and texts: the SNTP reply built from a request, the text
// datagram, the hex dump, the printable text of a datagram and the time texts.
#include "service/TimeReplies.h"

#include <QDateTime>
#include <QTimeZone>

#include <gtest/gtest.h>

using service::UtcReading;

namespace
{

// 2026-12-04 20:55:06.250 UTC.
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
    const QByteArray reply = service::SntpReply(request, At(250));
    ASSERT_EQ(reply.size(), 48);
    EXPECT_EQ(quint8(reply[0]), 28);
    EXPECT_EQ(quint8(reply[1]), 1);
    EXPECT_EQ(quint8(reply[2]), 4);
    EXPECT_EQ(quint8(reply[3]), 238);
    EXPECT_EQ(reply.mid(4, 8), request.mid(4, 8));
    EXPECT_EQ(reply.mid(12, 4), QByteArray("TDWN"));
    EXPECT_EQ(reply.mid(20, 4), request.mid(20, 4));
    EXPECT_EQ(reply.mid(24, 8), request.mid(40, 8)); // originate = client's transmit time
    EXPECT_EQ(reply.mid(38, 2), request.mid(38, 2));

    // 2026-12-04 20:55:06 UTC is 4005406506 seconds after 1900.
    const quint32 expected = 4005406506u;
    EXPECT_EQ(Seconds(reply, 16), expected);
    EXPECT_EQ(Seconds(reply, 32), expected);
    EXPECT_EQ(Seconds(reply, 40), expected);
    // 0.25 s: F0 = 64, F1 = 0, and the last two bytes zero.
    EXPECT_EQ(reply.mid(36, 2), QByteArray("\x40\x00", 2));
    EXPECT_EQ(reply.mid(44, 4), QByteArray("\x40\x00\x00\x00", 4));

    // A request without a transmit time gets its own bytes 24 to 31 back.
    const QByteArray bare = Request(0x54, 0);
    EXPECT_EQ(service::SntpReply(bare, At(0)).mid(24, 8), bare.mid(24, 8));
    EXPECT_EQ(quint8(service::SntpReply(bare, At(0))[0]), 0x55);
    // Seconds and fraction come from one reading: .999 never rounds into the next second.
    const QByteArray late = service::SntpReply(bare, At(999));
    EXPECT_EQ(Seconds(late, 40), 4005406506u);
    EXPECT_EQ(quint8(late[44]), 255);

    // Byte 0 plus 1 whole, leap indicator included.
    EXPECT_EQ(quint8(service::SntpReply(Request(0xE3, 0xEE), At(0))[0]), 0xE4);
    EXPECT_EQ(quint8(service::SntpReply(Request(0xFF, 0xEE), At(0))[0]), 0x00);

    for (int size : {0, 1, 2, 47})
        EXPECT_TRUE(service::SntpReply(QByteArray(size, 'T'), At(0)).isEmpty()) << size;
    EXPECT_EQ(service::SntpReply(QByteArray(60, '\x1b'), At(0)).size(), 48);
}

TEST(TimeReplies, OnlyRequestsAreAnswered)
{
    struct Case {
        quint8 first;
        bool request;
    };
    const Case cases[] = {
        {0x1B, true},  {0x23, true},  {0xE3, true},  {0x0B, true},  {0x21, true},
        {0x09, true},  {0x03, false}, {0x2B, false}, {0x3B, false}, {0x1C, false},
        {0x24, false}, {0xE4, false}, {0x1A, false}, {0x1D, false}, {0x1E, false},
        {0x1F, false}, {'O', false},  {'U', false},  {'Z', false},  {0x00, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(service::IsSntpRequest(c.first), c.request) << int(c.first);
}

TEST(TimeReplies, FracToBytes)
{
    struct Case {
        float f;
        quint8 f0, f1;
    };
    const Case cases[] = {{0.0f, 0, 0},         {0.5f, 128, 0},    {0.25f, 64, 0},
                          {1.0f / 512, 0, 128}, {0.123f, 31, 124}, {0.999f, 255, 190}};
    for (const Case& c : cases) {
        quint8 f0 = 0, f1 = 0;
        service::FracToBytes(c.f, f0, f1);
        EXPECT_EQ(f0, c.f0) << c.f;
        EXPECT_EQ(f1, c.f1) << c.f;
    }
}

TEST(TimeReplies, TextDatagramDumpAndPrintableText)
{
    const QByteArray ok = service::TextDatagram("OK-H");
    ASSERT_EQ(ok.size(), 48);
    EXPECT_EQ(ok.left(4), QByteArray("OK-H"));
    EXPECT_EQ(ok.mid(4), QByteArray(44, '\0'));
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

    struct Case {
        int msec;
        const char* text;
    };
    for (const Case& c :
         {Case{500, ".5"}, Case{123, ".123"}, Case{250, ".25"}, Case{7, ".007"}, Case{0, "."}})
        EXPECT_EQ(service::FractionText(At(c.msec).Fraction()), c.text) << c.msec;
}

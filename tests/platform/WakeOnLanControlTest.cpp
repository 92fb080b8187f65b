// The Wake-on-LAN control on loopback, and the MAC texts of the adapter query.
#include "platform/WakeOnLanControl.h"
#include "platform/NetworkAdapters.h"

#include "EventWait.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QNetworkDatagram>
#include <QUdpSocket>

#include <gtest/gtest.h>

using namespace platform;
using testsupport::Spin;
using testsupport::WaitFor;

// The adapter query's text and the texts people type; a refused text reads as
// no bytes. The port from the environment.
TEST(WakeOnLanControlTest, ReadsMacTextsAndThePort)
{
    QByteArray bytes;
    for (const auto& [text, hex] : {std::pair{"0-c-29-3a-5b-7c", "000c293a5b7c"},
                                    {"00:0c:29:3A:5B:FF", "000c293a5bff"},
                                    {" 01-02-03-04-05-06 ", "010203040506"}}) {
        EXPECT_TRUE(ParseMacAddress(QString::fromLatin1(text), bytes)) << text;
        EXPECT_EQ(bytes.toHex(), hex) << text;
    }
    for (const char* bad : {"00-0C-29-3A-5B-7C-01", "00-0C-29-3A-5B-GG", "00-0C-29-3A-5B-100",
                            "00--29-3A-5B-7C", "00-0C-29-3A-5B-+1", "00-0C:29-3A-5B-7C", ""})
        EXPECT_FALSE(ParseMacAddress(QString::fromLatin1(bad), bytes)) << bad;
    EXPECT_EQ(FormatMacAddress("00:0c:29:3a:5b:7c"), "00-0C-29-3A-5B-7C");
    EXPECT_EQ(FormatMacAddress("0a:0b"), "");
    // The port is 9 unless NCLMOD_WOL_PORT names another (as the sending test does).
    for (const auto& [value, port] : {std::pair{"0", 9}, {"70000", 9}, {"nine", 9}, {"", 9}}) {
        testsupport::ScopedEnv variable("NCLMOD_WOL_PORT", value);
        EXPECT_EQ(WakeOnLanPort(), port) << value;
    }
}

TEST(WakeOnLanControlTest, SendsTheMagicPacketOrRaisesTheErrorEvent)
{
    QUdpSocket listener;
    ASSERT_TRUE(listener.bind(QHostAddress("127.0.0.1"), 0));
    testsupport::ScopedEnv port("NCLMOD_WOL_PORT", QByteArray::number(listener.localPort()));
    const struct {
        const char* broadcast;
        const char* mac;
        const char* local;
        const char* event; // "error: " and its start, or "sent: " and what it names
    } cases[] = {
        {"127.0.0.1", "00-0C-29-3A-5B", "127.0.0.1", "error: Invalid MAC address: 00-0C-29-3A-5B"},
        {"127.0.0.300", "00-0C-29-3A-5B-7C", "", "error: Invalid broadcast address: 127.0.0.300"},
        {"127.0.0.1", "00-0C-29-3A-5B-7C", "my-host", "error: Invalid local address: my-host"},
        {"127.0.0.1", "00-0C-29-3A-5B-7C", "192.0.2.1", "error: Cannot send from 192.0.2.1: "},
        {"127.0.0.1", "00-0C-29-3A-5B-7C", "127.0.0.1",
         "sent: Magic packet sent|00-0C-29-3A-5B-7C|127.0.0.1|127.0.0.1"},
    };
    for (const auto& c : cases) {
        WakeOnLanControl control;
        QStringList events;
        QObject::connect(&control, &WakeOnLanControl::WOLError,
                         [&](const QString& text) { events.append("error: " + text); });
        QObject::connect(
            &control, &WakeOnLanControl::WOLSuccess,
            [&](const QString& text, const QString& mac, const QString& broadcast,
                const QString& local) {
                events.append("sent: " + QStringList{text, mac, broadcast, local}.join('|'));
            });
        control.setBroadcastIP(c.broadcast);
        control.setMACAddress(c.mac);
        control.setLocalIP(c.local);
        control.SendWOL();
        EXPECT_TRUE(events.isEmpty()); // the outcome comes as a later event
        ASSERT_TRUE(WaitFor([&] { return !events.isEmpty(); })) << c.event;
        Spin(5);
        ASSERT_EQ(events.size(), 1) << c.event;
        // Error texts end with what the system said.
        const QString event = events[0];
        EXPECT_EQ(event.startsWith("sent") ? event : event.left(qstrlen(c.event)), c.event);
    }
    // Only the good request sent anything: six 0xFF bytes, then the MAC 16 times.
    const QByteArray expected =
        QByteArray(6, char(0xFF)) + QByteArray::fromHex("000c293a5b7c").repeated(16);
    ASSERT_TRUE(WaitFor([&] { return listener.hasPendingDatagrams(); }));
    EXPECT_EQ(listener.receiveDatagram().data(), expected);
    QCoreApplication::processEvents();
    EXPECT_FALSE(listener.hasPendingDatagrams());
}

// Every caller asks for the default adapter (position 0), the last one.
TEST(NetworkAdaptersTest, QueryGivesTheLastAdapter)
{
    const QList<NetworkAdapter> two = {{"eth0", "02-00-00-00-00-01", "first card"},
                                       {"eth1", "02-00-00-00-00-02", "second card"}};
    const struct {
        QList<NetworkAdapter> adapters;
        const char* description;
        const char* mac;
    } cases[] = {{two, "second card", "02-00-00-00-00-02"}, {{}, "", ""}};
    for (const auto& c : cases) {
        QString description = "stale";
        QString mac = "stale";
        EXPECT_EQ(PickEthernetAdapter(c.adapters, 0, description, mac), c.adapters.size());
        EXPECT_EQ(description, c.description) << c.adapters.size();
        EXPECT_EQ(mac, c.mac) << c.adapters.size();
    }
}

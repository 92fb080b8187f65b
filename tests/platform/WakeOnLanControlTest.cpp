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
using testsupport::WaitFor;

namespace
{

// What the control reported.
struct Events {
    explicit Events(WakeOnLanControl& control)
    {
        QObject::connect(&control, &WakeOnLanControl::WOLError,
                         [this](const QString& text) { errors.append(text); });
        QObject::connect(&control, &WakeOnLanControl::WOLSuccess,
                         [this](const QString& text, const QString& mac, const QString& broadcast,
                                const QString& local) {
                             successes.append({text, mac, broadcast, local});
                         });
    }
    QStringList errors;
    QList<QStringList> successes;
};

} // namespace

// The adapter query's text and the texts people type; a refused text reads as
// no bytes.
TEST(WakeOnLanControlTest, ReadsMacTexts)
{
    const char* cases[][2] = {{"0-c-29-3a-5b-7c", "000c293a5b7c"},
                              {"00:0c:29:3A:5B:FF", "000c293a5bff"},
                              {" 01-02-03-04-05-06 ", "010203040506"},
                              {"00-0C-29-3A-5B-7C-01", ""},
                              {"00-0C-29-3A-5B-GG", ""},
                              {"00-0C-29-3A-5B-100", ""},
                              {"00--29-3A-5B-7C", ""},
                              {"00-0C-29-3A-5B-+1", ""},
                              {"00-0C:29-3A-5B-7C", ""},
                              {"", ""}};
    for (const auto& c : cases) {
        QByteArray bytes;
        EXPECT_EQ(ParseMacAddress(QString::fromLatin1(c[0]), bytes), *c[1] != 0) << c[0];
        if (*c[1]) {
            EXPECT_EQ(bytes.toHex(), c[1]) << c[0];
        }
    }
    EXPECT_EQ(MacAddressText(QByteArray::fromHex("000c293a5b7c")), "00-0C-29-3A-5B-7C");
    EXPECT_EQ(MacAddressText(QByteArray::fromHex("0a0b")), "0A-0B-00-00-00-00");
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
        const char* error; // empty: sent
    } cases[] = {
        {"127.0.0.1", "00-0C-29-3A-5B", "127.0.0.1", "Invalid MAC address: 00-0C-29-3A-5B"},
        {"127.0.0.300", "00-0C-29-3A-5B-7C", "", "Invalid broadcast address: 127.0.0.300"},
        {"", "00-0C-29-3A-5B-7C", "", "Invalid broadcast address: "},
        {"127.0.0.1", "00-0C-29-3A-5B-7C", "my-host", "Invalid local address: my-host"},
        {"127.0.0.1", "00-0C-29-3A-5B-7C", "192.0.2.1", "Cannot send from 192.0.2.1: "},
        {"127.0.0.1", "00-0C-29-3A-5B-7C", "127.0.0.1", ""},
    };
    for (const auto& c : cases) {
        WakeOnLanControl control;
        Events events(control);
        control.setBroadcastIP(c.broadcast);
        control.setMACAddress(c.mac);
        control.setLocalIP(c.local);
        control.SendWOL();
        EXPECT_TRUE(events.successes.isEmpty()); // the outcome comes as a later event
        if (*c.error) {
            ASSERT_TRUE(WaitFor([&] { return events.errors.size() == 1; })) << c.error;
            EXPECT_TRUE(events.errors.at(0).startsWith(c.error))
                << events.errors.at(0).toStdString();
            EXPECT_TRUE(events.successes.isEmpty());
            continue;
        }
        ASSERT_TRUE(WaitFor(
            [&] { return listener.hasPendingDatagrams() && events.successes.size() == 1; }));
        EXPECT_TRUE(events.errors.isEmpty());
        EXPECT_EQ(events.successes.at(0), QStringList({"Magic packet sent", "00-0C-29-3A-5B-7C",
                                                       "127.0.0.1", "127.0.0.1"}));
    }
    // Only the good request sent anything: six 0xFF bytes, then the MAC 16 times.
    QByteArray expected(6, char(0xFF));
    for (int i = 0; i < 16; ++i)
        expected += QByteArray::fromHex("000c293a5b7c");
    EXPECT_EQ(listener.receiveDatagram().data(), expected);
    QCoreApplication::processEvents();
    EXPECT_FALSE(listener.hasPendingDatagrams());
}

TEST(WakeOnLanControlTest, PortComesFromTheEnvironment)
{
    const struct {
        const char* value;
        quint16 port;
    } cases[] = {{"4009", 4009}, {"0", 9}, {"70000", 9}, {"nine", 9}, {"", 9}};
    for (const auto& c : cases) {
        testsupport::ScopedEnv port("NCLMOD_WOL_PORT", c.value);
        EXPECT_EQ(WakeOnLanPort(), c.port) << c.value;
    }
}

TEST(NetworkAdaptersTest, QueryGivesTheLastAdapterOrTheOneAtAPosition)
{
    const QList<NetworkAdapter> adapters = {{"eth0", "02-00-00-00-00-01", "first card"},
                                            {"eth1", "02-00-00-00-00-02", "second card"}};
    const struct {
        qint16 position;
        const char* description;
        const char* mac;
    } cases[] = {{0, "second card", "02-00-00-00-00-02"},
                 {1, "first card", "02-00-00-00-00-01"},
                 {2, "second card", "02-00-00-00-00-02"},
                 {3, "", ""},
                 {-1, "second card", "02-00-00-00-00-02"}};
    for (const auto& c : cases) {
        QString description = "stale";
        QString mac = "stale";
        EXPECT_EQ(PickEthernetAdapter(adapters, c.position, description, mac), 2);
        EXPECT_EQ(description, c.description) << c.position;
        EXPECT_EQ(mac, c.mac) << c.position;
    }
    QString description;
    QString mac;
    EXPECT_EQ(PickEthernetAdapter({}, 0, description, mac), 0);
    EXPECT_TRUE(mac.isEmpty());
}

// The request handler on a real listener over loopback: every console request
// form over TCP and UDP with its reply bytes and status label, the plug-in
// points of "C" and "X", set requests reaching the clock, and the time server.
#include "service/ConsoleRequests.h"
#include "logging/DebugLog.h"
#include "platform/RegistryStore.h"
#include "platform/SystemClock.h"
#include "service/TimeReplies.h"
#include "timeset/CNISTtimeset.h"

#include "ListenerFixture.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimeZone>
#include <QUdpSocket>

#include <gtest/gtest.h>

using testsupport::WaitFor;

namespace
{

class ConsoleRequestsTest : public loopback::ListenerFixture
{
protected:
    void SetUp() override
    {
        ListenerFixture::SetUp();
        settings::Options().setMACaddr(QStringLiteral("00:0C:29:AB:CD:EF"));
        settings::Options().setServerFormat(0);
        platform::SetClockForTesting(&clock);
        ASSERT_TRUE(udpPeer.bind(QHostAddress::LocalHost, 0));
        QObject::connect(&requests, &service::ConsoleRequests::StatusText,
                         [this](const QString& text) { labels << text; });
        // "C" and "X" plug-ins that show what they were handed.
        requests.do_command = [this](const QString& sData, qint16, QString& sLog) {
            commands << sData;
            sLog = "ran " + sData;
            return QStringLiteral("done");
        };
        requests.do_Relay = [](const QString& sData, qint16, QString& sStatus, QString& sLog) {
            sStatus = QStringLiteral("relay 1 on");
            sLog = "switched " + sData;
            return QStringLiteral("OK1");
        };
    }
    void TearDown() override { platform::SetClockForTesting(nullptr); }

    // Sends one TCP request (from the given loopback address) and returns what
    // comes back within waitMs.
    QByteArray Tcp(const QByteArray& request, int waitMs = 2000, const char* from = "127.0.0.1")
    {
        QTcpSocket peer;
        peer.bind(QHostAddress(QString::fromLatin1(from)), 0);
        peer.connectToHost(QHostAddress::LocalHost, quint16(port));
        if (!WaitFor([&] { return peer.state() == QAbstractSocket::ConnectedState; }))
            return "<no connection>";
        peer.write(request);
        WaitFor([&] { return peer.bytesAvailable() > 0; }, waitMs);
        testsupport::Spin(20);
        return peer.readAll();
    }

    // Sends one datagram (from the fixture's peer unless another is given)
    // and returns the first reply that comes within waitMs.
    QByteArray Udp(const QByteArray& datagram, int waitMs = 2000, QUdpSocket* from = nullptr)
    {
        QUdpSocket& peer = from ? *from : udpPeer;
        peer.writeDatagram(datagram, QHostAddress::LocalHost, quint16(port));
        if (!WaitFor([&] { return peer.hasPendingDatagrams(); }, waitMs))
            return QByteArray();
        return peer.receiveDatagram().data();
    }

    // Sends the datagrams at once and collects replies until `replies` came.
    QList<QByteArray> Burst(const QList<QByteArray>& datagrams, int replies)
    {
        for (const QByteArray& datagram : datagrams)
            udpPeer.writeDatagram(datagram, QHostAddress::LocalHost, quint16(port));
        QList<QByteArray> got;
        WaitFor([&] {
            while (udpPeer.hasPendingDatagrams())
                got << udpPeer.receiveDatagram().data();
            return got.size() >= replies;
        });
        return got;
    }

    static void SetSecurity(const char* name, const QString& text)
    {
        loopback::SetMachineValue(service::ConsoleAccess::kKeyPath, name, platform::REG_SZ,
                                  platform::SzBytes(text));
    }
    // A datagram of 48 bytes: this first byte, a transmit time, n as its last byte.
    static QByteArray Datagram(quint8 first, int n = 0)
    {
        QByteArray datagram(48, '\0');
        datagram[0] = char(first);
        datagram[40] = char(0xEE);
        datagram[47] = char(n);
        return datagram;
    }

    QString LastLabel() const { return labels.isEmpty() ? QString() : labels.last(); }
    static bool Matches(const QString& pattern, const QByteArray& text)
    {
        return QRegularExpression("^" + pattern + "$").match(QString::fromLatin1(text)).hasMatch();
    }

    platform::SimulatedClock clock{home.file("simclock")};
    enginetest::RecordingDisplay display;
    service::ConsoleRequests requests{listener, display};
    QStringList labels;
    QStringList commands;
    QUdpSocket udpPeer;
};

// Every request form with its reply and status label. An address that
// ConsoleAllow does not name gets no reply, a trace line per request and one
// event-log line; over the rate limit a connection is closed unanswered and
// unshown, while another address has an allowance of its own. Then the time
// server's reply.
TEST_F(ConsoleRequestsTest, TcpRequestsAndTheirReplies)
{
    SetSecurity("ConsoleAllow", "127.0.0.1 127.0.0.2");
    settings::Options().setLoggingEvntOn(true);
    settings::Options().setLoggingEvntFileName(home.file("evntfile.txt"));
    requests.Access().Load(false);
    listener.serv_init(0);
    struct Case {
        QByteArray request;
        QString reply; // a pattern; empty: no reply
        QString action;
        QString response;
        const char* from = "127.0.0.1";
    };
    const Case cases[] = {
        // Data without "+" gets nothing, and the next request is served as usual.
        {"T", "", "", ""},
        {QByteArray(70000, 'A'), "", "", ""},
        {"H+", "OK-H 00:0C:29:AB:CD:EF", "Check Heartbeat", "OK"},
        {"H+ignored body", "OK-H 00:0C:29:AB:CD:EF", "Check Heartbeat", "OK", "127.0.0.2"},
        {"T+", R"(OK-T \d{4}-\d\d-\d\d \d{1,2}:\d\d:\d\d\.\d{3})", "Check client time", "OK"},
        {"TT+x", "Unknown", "Unknown command", "Error"},
        {"\x01\xff+", "Unknown", "Unknown command", "Error"},
        {"C+notepad.exe", "OK-C", "ran C+notepad.exe", "done"},
        {"X+1ON", "OK-X relay 1 on", "switched X+1ON", "OK1"},
        {"H+", "", "", "", "127.0.0.3"},
        {"C+touch x", "", "", "", "127.0.0.3"},
    };
    for (const Case& c : cases) {
        const QByteArray reply = Tcp(c.request, c.reply.isEmpty() ? 300 : 2000, c.from);
        EXPECT_TRUE(Matches(c.reply, reply))
            << c.request.left(8).toHex().constData() << " -> " << reply.constData();
        if (!c.reply.isEmpty()) {
            EXPECT_TRUE(Matches(R"(\S+ \S+ Request from )" + QRegularExpression::escape(c.from) +
                                    "\r\n\r\n" + QRegularExpression::escape(c.action) +
                                    R"(\r\n\r\nResponse: )" + c.response,
                                LastLabel().toLatin1()))
                << LastLabel().toStdString();
        }
    }
    EXPECT_EQ(
        Trace().count("Request from 127.0.0.3 not served: the address is not in ConsoleAllow"), 2);
    EXPECT_EQ(testsupport::ReadFile(home.file("evntfile.txt")).count("Request from 127.0.0.3"), 1);

    listener.limits.Configure({true, 12, 1, 4});
    EXPECT_EQ(Tcp("H+"), QByteArray("OK-H 00:0C:29:AB:CD:EF"));
    EXPECT_EQ(Tcp("H+", 2000, "127.0.0.2"), QByteArray("OK-H 00:0C:29:AB:CD:EF"));
    const qsizetype shown = labels.size();
    QTcpSocket limited;
    limited.connectToHost(QHostAddress::LocalHost, quint16(port));
    EXPECT_TRUE(WaitFor([&] { return limited.state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_EQ(limited.readAll(), QByteArray());
    EXPECT_TRUE(Logged("Rate limit: connection from 127.0.0.1 closed"));

    // A time server answers any request with the time, runs nothing and shows nothing.
    settings::App().ModuleType = QStringLiteral("E");
    EXPECT_TRUE(
        Matches(R"(Server: \d\d-\d\d-\d\d \d\d:\d\d:\d\d)", Tcp("C+shutdown", 2000, "127.0.0.4")));
    EXPECT_EQ(labels.size(), shown);
    EXPECT_EQ(commands, QStringList("C+notepad.exe"));
}

// Set and force are answered first, then the engine moves the clock to the
// console's time, 7 seconds ahead. Over UDP the request is an SNTP packet whose
// first byte is the letter and whose transmit time the engine reads
// (ServerFormat 2); the letter S reads as a client's mode, which the engine's
// mode check refuses (status 100).
TEST_F(ConsoleRequestsTest, SetAndForceAnswerFirstThenMoveTheClock)
{
    enginetest::ScopedOptions options;
    options->setSetMaxThreshold(86400);
    listener.serv_init(0);
    timeset::CNISTtimeset engine;
    requests.Engine = [&]() -> timeset::CNISTtimeset& { return engine; };
    const struct {
        bool udp;
        char letter;
        const char* reply; // a pattern
        qint16 status;
        const char* action;
    } cases[] = {
        {false, 'S', R"(OK-S \d\d-\d\d-\d\d \d\d:\d\d:\d\d\.\d{0,3})", 0, "Set client time"},
        {false, 'F', R"(OK-F \d\d-\d\d-\d\d \d\d:\d\d:\d\d)", 0, "Force client time"},
        {true, 'S', R"((?s).{48})", 100, "Set client time"},
        {true, 'F', R"((?s).{48})", 0, "Force client time"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.letter << (c.udp ? " over UDP" : " over TCP"));
        if (c.udp && options->ServerFormat() != 2) {
            options->setClientFormat(2);
            options->setServerFormat(2);
            listener.serv_init(listener.CurrentInstance);
        }
        testsupport::WriteFile(home.file("simclock"), "-7000");
        display.calls.clear();
        QElapsedTimer exchange;
        exchange.start();
        const qint64 console = clock.NowUtcMs() + 7000;
        const QDateTime at = QDateTime::fromMSecsSinceEpoch(console, QTimeZone::utc());
        const QByteArray reply = c.udp ? Udp(enginetest::SntpPacket(console, quint8(c.letter)))
                                       : Tcp(QByteArray(1, c.letter) + "+ " +
                                             at.toString("yyyy-MM-dd hh:mm:ss zzz").toLatin1());
        ASSERT_TRUE(WaitFor([&] { return display.calls.contains("NISTdone"); }));
        EXPECT_TRUE(Matches(c.reply, reply)) << reply.toHex().constData();
        EXPECT_EQ(engine.SettingStatus(), c.status);
        const qint64 offset = testsupport::ReadFile(home.file("simclock")).toLongLong();
        EXPECT_TRUE(c.status ? offset == -7000 : offset <= 1 && offset >= -exchange.elapsed() - 1)
            << offset;
        EXPECT_TRUE(LastLabel().endsWith(QString(c.action) + "\r\n\r\nResponse: OK"));
    }
}

TEST_F(ConsoleRequestsTest, UdpDatagramsRepliesAndRebinding)
{
    settings::Options().setClientFormat(2);
    listener.serv_init(0);

    EXPECT_TRUE(Logged("Service server listening on UDP port " + QString::number(port) + "\r\n"));
    EXPECT_EQ(Udp("H+"), service::TextDatagram("OK-H"));
    EXPECT_TRUE(LastLabel().endsWith("Check Heartbeat\r\n\r\nResponse: OK"));
    // The text handed on to a plug-in is the printable bytes of the datagram.
    EXPECT_EQ(Udp(QByteArray("C+run\x00\x07 me", 10)), service::TextDatagram("OK-C"));
    EXPECT_EQ(commands, QStringList("C+run me"));

    const QByteArray reply = Udp(Datagram(0xE3));
    ASSERT_EQ(reply.size(), 48);
    EXPECT_EQ(quint8(reply[0]), 0xE4); // the SNTP reply, built as the time replies' own tests show
    EXPECT_TRUE(LastLabel().endsWith("Check client time SNTP\r\n\r\nResponse: OK"));
    EXPECT_EQ(Udp(Datagram('T')).at(0), 'U');
    EXPECT_EQ(listener.CurrentInstance, 4);

    // Replies get nothing and the element stays bound, so that two agents
    // never answer each other: a text answer and an SNTP reply stand for the
    // time replies' own table of first bytes.
    for (const QByteArray& datagram : {service::TextDatagram("OK-H"), Datagram(0xE4)})
        EXPECT_TRUE(Udp(datagram, 200).isEmpty()) << int(datagram[0]);
    EXPECT_EQ(listener.CurrentInstance, 4);
    EXPECT_TRUE(Logged("No reply to a datagram that is no request: first byte E4 (mode 4, "
                       "version 4)"));

    // Too short for a request: no reply; a short SNTP request: no reply but a rebinding.
    EXPECT_TRUE(Udp(QByteArray(), 200).isEmpty());
    EXPECT_TRUE(Udp("H", 200).isEmpty());
    EXPECT_EQ(listener.CurrentInstance, 4);
    EXPECT_TRUE(Udp(QByteArray(47, 'T'), 200).isEmpty());
    EXPECT_EQ(listener.CurrentInstance, 5);

    // A burst is answered whole across the rebindings it causes.
    EXPECT_EQ(Burst(QList<QByteArray>(50, "H+"), 50),
              QList<QByteArray>(50, service::TextDatagram("OK-H")));

    // A stranger gets nothing, even a datagram as large as its reply; with
    // UDP commands off an admitted peer's "S" gets nothing, its "H" a reply.
    SetSecurity("ConsoleAllow", "127.0.0.1");
    SetSecurity("ConsoleUdpCommands", "0");
    requests.Access().Load(false);
    QUdpSocket stranger;
    ASSERT_TRUE(stranger.bind(QHostAddress("127.0.0.3"), 0));
    EXPECT_TRUE(Udp(Datagram('H'), 300, &stranger).isEmpty());
    EXPECT_TRUE(Udp(Datagram('S'), 300).isEmpty());
    EXPECT_TRUE(Logged("not served: \"S\" over UDP is off (ConsoleUdpCommands)"));
    EXPECT_EQ(Udp("H+"), service::TextDatagram("OK-H"));
    EXPECT_EQ(display.calls.count("NISTdone"), 0);

    // The same port as a time server, with the trace on (the request handler
    // answers) and off (answered where the datagrams are read, in batches):
    // nothing for a reply, bursts answered whole, the rate limit, the element
    // kept and nothing shown.
    settings::App().ModuleType = QStringLiteral("E");
    const qint16 bound = listener.CurrentInstance;
    const qsizetype shown = labels.size();
    for (const bool traced : {true, false}) {
        SCOPED_TRACE(traced ? "traced" : "not traced");
        logging::DebugOn = traced;
        EXPECT_TRUE(Udp(Datagram(0x1C), 200).isEmpty());

        // A burst, a short datagram amid it: every request answered, in order.
        QList<QByteArray> burst;
        QList<int> expected, order;
        for (int i = 0; i < 100; ++i) {
            burst << (i == 50 ? QByteArray(47, '\x23') : Datagram(0x23, i));
            if (i != 50)
                expected << i;
        }
        for (const QByteArray& reply : Burst(burst, 99))
            order << quint8(reply.at(31));
        EXPECT_EQ(order, expected);

        // One at once and one per 4096 s: the second goes unanswered.
        listener.limits.Configure({true, 12, 1, 4});
        EXPECT_EQ(Udp(Datagram(0x23, 1)).size(), 48);
        EXPECT_TRUE(Udp(Datagram(0x23, 2), 150).isEmpty());
        listener.limits.Configure({});
    }
    logging::DebugOn = true;
    EXPECT_EQ(listener.CurrentInstance, bound);
    EXPECT_TRUE(Logged("Rate limit: no reply to 127.0.0.1"));
    EXPECT_EQ(labels.size(), shown);
}

// Who is served: loopback and the controller by default, everyone without a
// controller (but then no reply larger than its datagram leaves for a
// stranger), and only its members with an explicit list.
TEST_F(ConsoleRequestsTest, ConsoleAllowDecidesWhoIsServed)
{
    const struct {
        const char* allow;
        const char* controller;
        const char* peer;
        bool admitted;
        bool amplified;
    } cases[] = {
        {"", "192.0.2.7", "127.0.0.9", true, true},
        {"", "192.0.2.7", "::1", true, true},
        {"", "192.0.2.7", "192.0.2.7", true, true},
        {"", "192.0.2.7", "192.0.2.8", false, false},
        {"", "", "203.0.113.5", true, false},
        {"", "", "127.0.0.1", true, true},
        {"127.0.0.2", "192.0.2.7", "127.0.0.2", true, true},
        {"127.0.0.2", "192.0.2.7", "127.0.0.3", false, false},
        {"127.0.0.2", "192.0.2.7", "192.0.2.7", false, false},
        {"10.0.0.0/8, 2001:db8::/32", "", "10.200.1.1", true, true},
        {"10.0.0.0/8, 2001:db8::/32", "", "2001:db8::5", true, true},
        {"10.0.0.0/8, 2001:db8::/32", "", "2001:db9::5", false, false},
        {"*", "", "198.51.100.1", true, true},
        {"10.0.0.0/8 bogus 192.0.2.1", "", "10.1.1.1", true, true},
        {"10.0.0.0/8 bogus 192.0.2.1", "", "192.0.2.1", false, false},
        {"127.0.0.2", "", "not an address", false, false},
    };
    for (const auto& c : cases) {
        SetSecurity("ConsoleAllow", QString::fromLatin1(c.allow));
        settings::Options().setServername(QString::fromLatin1(c.controller));
        service::ConsoleAccess access;
        access.Load(false);
        const std::string what = std::string(c.allow) + " | " + c.controller + " | " + c.peer;
        EXPECT_EQ(access.Admits(c.peer), c.admitted) << what;
        EXPECT_EQ(access.MayAmplifyTo(c.peer), c.amplified) << what;
    }
    EXPECT_TRUE(Logged("ConsoleAllow: \"bogus\" is no address or network"));

    // At start, with everyone admitted and remote run on, one warning names the setting.
    QStringList journal;
    static QStringList* sink = &journal;
    logging::SetNTEventSinkForTesting([](const QString& text, qint16) { sink->append(text); });
    SetSecurity("ConsoleAllow", "*");
    service::ConsoleAccess access;
    access.Load(true);
    logging::SetNTEventSinkForTesting(nullptr);
    ASSERT_EQ(journal.size(), 1);
    EXPECT_TRUE(journal[0].contains("may run programs on this computer: set ConsoleAllow"));
}

} // namespace

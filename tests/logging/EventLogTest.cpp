// Event dispatch: the event-log file, the operating system's log and syslog.
#include "logging/EventLog.h"
#include "logging/ScopedTrace.h"
#include "schedule/RecordsFixture.h"

#include <QHostAddress>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QUrl>

#include <gtest/gtest.h>

namespace
{

// A syslog collector on a free loopback port.
class Collector
{
public:
    Collector() { socket.bind(QHostAddress::LocalHost, 0); }
    QString address() const { return "127.0.0.1:" + QString::number(socket.localPort()); }
    QStringList received(int waitMs = 300)
    {
        QStringList out;
        socket.waitForReadyRead(waitMs);
        while (socket.hasPendingDatagrams())
            out.append(QString::fromLatin1(socket.receiveDatagram().data()));
        return out;
    }
    QUdpSocket socket;
};

class EventDispatch : public recordstest::RecordsFixture
{
protected:
    EventDispatch()
    {
        options().setLoggingEvntOn(true);
        options().setLoggingNTEvntOn(true);
        options().setLoggingSyslogOn(true);
        options().setLoggingSyslogServ(collector.address());
    }
    Collector collector;
};

// Each type has its label, and its syslog priority is facility 12 times 8
// plus the type plus 2.
TEST_F(EventDispatch, EveryChannelGetsTheEventAndTheFileStartsWithItsHeader)
{
    const QString path = home.file("evntfile.txt");
    logging::LogEvent("Options changed, getting new options", 4, path);
    At(rt::MakeDate(2026, 3, 10, 9, 0, 5));
    logging::LogEvent("Time difference too large", 2, path);
    logging::LogEvent("Cannot listen", 1, path);

    EXPECT_EQ(testsupport::ReadFile(path),
              "Event Log                    3/10/2026 09:00:00\r\n"
              "Date     Time      Type    Action\r\n"
              "-----    ----      ----    -----\r\n"
              "26-03-10 09:00:00  Info    Options changed, getting new options\r\n"
              "26-03-10 09:00:05  Warning Time difference too large\r\n"
              "26-03-10 09:00:05  Error   Cannot listen\r\n");
    EXPECT_EQ(collector.received(),
              QStringList({"<102> NCLmod: Info    Options changed, getting new options",
                           "<100> NCLmod: Warning Time difference too large",
                           "<99> NCLmod: Error   Cannot listen"}));
    EXPECT_EQ(ntEvents,
              QStringList({"4|26-03-10 09:00:00  Info    Options changed, getting new options",
                           "2|26-03-10 09:00:05  Warning Time difference too large",
                           "1|26-03-10 09:00:05  Error   Cannot listen"}));
}

// An event file that cannot be written is reported and stops that event's
// dispatch; an empty name does too, unless the file channel is off. A syslog
// failure costs only a trace line.
TEST_F(EventDispatch, ChannelFailuresAreReportedAndTheAgentGoesOn)
{
    testsupport::ScopedTrace trace(home.path());
    const QString bad = home.file("no-such-folder/evntfile.txt");
    logging::LogEvent("first", 4, bad);
    ASSERT_EQ(ntEvents.size(), 1);
    EXPECT_TRUE(ntEvents[0].startsWith("4|Couldn't write log file to " + bad + "\r"))
        << qPrintable(ntEvents[0]);
    EXPECT_TRUE(ntEvents[0].contains("Origination: modMain\r\nID: PrintEvntBody 10"));
    EXPECT_TRUE(collector.received().isEmpty()) << "the dispatch stops at the failure";

    // Syslog comes after the file: the next event was filed as well.
    logging::LogEvent("next", 4, home.file("evntfile.txt"));
    EXPECT_EQ(collector.received().size(), 1);

    ntEvents.clear();
    logging::LogEvent("lost", 4, "");
    EXPECT_TRUE(collector.received().isEmpty());
    EXPECT_TRUE(ntEvents.isEmpty());
    options().setLoggingEvntOn(false);
    logging::LogEvent("no file wanted", 4, "");
    EXPECT_EQ(collector.received().size(), 1) << "without the file channel the others go on";

    // Names rejected before any lookup, so no query leaves the machine.
    ASSERT_TRUE(QUrl::toAce("bad..host").isEmpty());
    EXPECT_FALSE(logging::SyslogMessage("Info    x", "NCLmod", "bad..host", 12, 4));
    EXPECT_FALSE(logging::SyslogMessage("Info    x", "NCLmod", "", 12, 4));
    // Nobody listens there: the datagram is still handed over.
    Collector closed;
    const QString unreachable = closed.address();
    closed.socket.close();
    EXPECT_TRUE(logging::SyslogMessage("Info    x", "NCLmod", unreachable, 12, 4));
    // And the sender still works afterwards.
    EXPECT_TRUE(logging::SyslogMessage("Info    y", "NCLmod", collector.address(), 12, 4));
    EXPECT_EQ(collector.received(), QStringList{"<102> NCLmod: Info    y"});

    const QString log = trace.Text();
    EXPECT_TRUE(log.contains("Error sending syslog: 11001\r\n")) << qPrintable(log);
    EXPECT_TRUE(log.contains("No Target IP address or Hostname specified -  No message sent"));
    EXPECT_TRUE(log.contains("syslog : Message:_<102> NCLmod: Info    y_ Sent OK."));
}

} // namespace

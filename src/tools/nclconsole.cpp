// nclconsole: a command-line console for the agent's request protocol.
//
//   nclconsole [--host H] [--port P] [--udp] [--timeout MS] COMMAND [ARGS]
//
// Sends one console request over TCP (text) or UDP (a datagram whose first
// byte is the command letter) and prints the reply; "sntp" asks for the time
// as an SNTP client, "listen" plays the controller that agents send their
// heartbeats to; "status" sums up the agent's time, offset and MAC address.
// Exit code: 0 on the reply the command expects, 1 on no reply, a refusal or
// another reply (a time server's, say), 2 on bad usage.
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QMap>
#include <QNetworkDatagram>
#include <QSocketNotifier>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimeZone>
#include <QUdpSocket>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <optional>

namespace
{

constexpr int kExitReply = 0;
constexpr int kExitNoReply = 1;
constexpr int kExitUsage = 2;
constexpr int kDatagramSize = 48;
// Seconds from 1900-01-01 (NTP) to 1970-01-01 (Unix).
constexpr qint64 kNtpToUnixSeconds = 2208988800LL;
// After the first bytes of a TCP reply, more may follow for this long.
constexpr int kTcpQuietMs = 100;

const char* const kUsage =
    "usage: nclconsole [--host H] [--port P] [--udp] [--timeout MS] COMMAND [ARGS]\n"
    "\n"
    "commands:\n"
    "  heartbeat          H: the agent answers OK-H and its MAC address\n"
    "  time               T: the agent's UTC time (UDP: an SNTP reply)\n"
    "  set [TIME]         S: set the agent's clock to TIME (\"YYYY-MM-DD hh:mm:ss mmm\", UTC);\n"
    "                     without TIME, this computer's UTC time\n"
    "  force [TIME]       F: as set, whatever the agent's thresholds say\n"
    "                     (--udp: an SNTP request carrying the time; the agent needs\n"
    "                     ServerFormat 2 to read it; see --help force)\n"
    "  command TEXT       C: a remote command\n"
    "  relay TEXT         X: a relay command\n"
    "  raw TEXT           TEXT sent as it stands (no command letter added)\n"
    "  sntp               ask for the time as an SNTP client; prints offset and round trip\n"
    "  listen             act as the controller: answer heartbeats, one line each\n"
    "  status             the agent's time, its offset from this computer's clock with\n"
    "                     the round trip, and its MAC address (like chronyc tracking)\n"
    "\n"
    "options:\n"
    "  --host H           the agent's address (default 127.0.0.1)\n"
    "  --port P           the agent's port, 1 to 32767 (TCPPort; default 1001)\n"
    "  --udp              send a datagram instead of a TCP request\n"
    "  --timeout MS       how long to wait for the reply (default 3000)\n"
    "  --verbose          also print on standard error what is sent\n"
    "  --help             this text, or the command's own with a command\n"
    "  --version          the program's version\n"
    "\n"
    "exit code: 0 on the reply the command expects, 1 on no reply, a refusal or\n"
    "another reply, 2 on bad usage\n";

struct CommandHelp {
    const char* name;
    const char* text;
};

const CommandHelp kCommandHelp[] = {
    {"heartbeat", "nclconsole [options] heartbeat\n  Sends H+ (UDP: a datagram beginning H+) and "
                  "prints the reply, e.g. \"OK-H 00:11:22:33:44:55\".\n"},
    {"time", "nclconsole [options] time\n  Sends T+ and prints the agent's UTC time, e.g. "
             "\"OK-T 2026-12-04 9:05:07.045\".\n  Over UDP the agent answers with an SNTP reply, "
             "which is printed field by field.\n"},
    {"set", "nclconsole [options] set [YYYY-MM-DD hh:mm:ss mmm]\n  Sends \"S+ date time "
            "milliseconds\" (UTC); without a time, this computer's UTC time.\n  The reply carries "
            "the agent's time before it sets its clock.\n"
            "  With --udp: a 48-byte SNTP request whose first byte is S and whose transmit\n"
            "  time is the time to set; the agent reads it only with ServerFormat 2, and\n"
            "  answers with an SNTP reply. The agent's SNTP mode check takes the letter S\n"
            "  for a client's packet: it records \"Server error\" (status 100) and does not\n"
            "  set its clock. Use force to set a clock over UDP.\n"},
    {"force", "nclconsole [options] force [YYYY-MM-DD hh:mm:ss mmm]\n  As set, with F+: the "
              "agent sets its clock even below its setting threshold.\n"
              "  With --udp: as set, first byte F; the agent (ServerFormat 2) sets its clock\n"
              "  to the transmit time when the difference reaches its setting threshold.\n"
              "  Every contact the agent makes to its controller (the heartbeat at start,\n"
              "  among others) switches its ServerFormat to 0 until it reads its options\n"
              "  again: for a service, store ServerFormat 2 and send control 128\n"
              "  (nclsc control Nightcall 128) after its start.\n"},
    {"command", "nclconsole [options] command TEXT\n  Sends C+TEXT, a remote command; the agent "
                "answers OK-C.\n"},
    {"relay", "nclconsole [options] relay TEXT\n  Sends X+TEXT, a relay command; the agent "
              "answers OK-X and the relay status.\n"},
    {"raw", "nclconsole [options] raw TEXT\n  Sends TEXT exactly as given (over UDP as a "
            "datagram of exactly those bytes).\n"},
    {"sntp", "nclconsole [--host H] [--port P] [--timeout MS] sntp\n  Sends an SNTP client "
             "request (version 4, mode 3) and prints the server's time,\n  the offset of its "
             "clock from this computer's and the round trip.\n"},
    {"listen", "nclconsole listen [--host H] [--port P] [--count N]\n  Listens on TCP port P "
               "(default 1001; on address H only when given) as the agents' controller: answers "
               "each\n  heartbeat (H+U MAC or H+D MAC) with "
               "OK-H and prints one line per agent:\n  time, address, up or down, MAC address. "
               "Ends after N heartbeats when --count is given.\n"},
    {"status", "nclconsole [options] status\n  Asks for the agent's time and its heartbeat and "
               "prints, like chronyc tracking, the agent's\n  time, its offset from this "
               "computer's clock (half the round trip is the uncertainty),\n  the round trip and "
               "the agent's MAC address (over TCP only: a UDP heartbeat carries none).\n"},
};

struct Arguments {
    QString host = QStringLiteral("127.0.0.1");
    bool hostGiven = false;
    quint16 port = 1001;
    bool udp = false;
    bool verbose = false;
    int timeoutMs = 3000;
    int count = 0;
    bool help = false;
    bool version = false;
    QString command;
    QStringList words;
};

void Print(const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void PrintError(const QString& text)
{
    std::fprintf(stderr, "nclconsole: %s\n", text.toLocal8Bit().constData());
}

int Usage(const QString& problem)
{
    PrintError(problem);
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

bool ParseNumber(const QString& text, int low, int high, int& out)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < low || value > high)
        return false;
    out = value;
    return true;
}

// Empty on success, else what is wrong.
QString Parse(const QStringList& argv, Arguments& args)
{
    for (int i = 0; i < argv.size(); ++i) {
        const QString& word = argv[i];
        const bool hasValue = i + 1 < argv.size();
        int number = 0;
        if (word == QLatin1String("--help") || word == QLatin1String("-h")) {
            args.help = true;
        } else if (word == QLatin1String("--version")) {
            args.version = true;
        } else if (word == QLatin1String("--udp")) {
            args.udp = true;
        } else if (word == QLatin1String("--verbose") || word == QLatin1String("-v")) {
            args.verbose = true;
        } else if (word == QLatin1String("--host")) {
            if (!hasValue)
                return QStringLiteral("--host needs an address");
            args.host = argv[++i];
            args.hostGiven = true;
        } else if (word == QLatin1String("--port")) {
            // The agent's TCPPort is a signed 16-bit option.
            if (!hasValue || !ParseNumber(argv[++i], 1, 32767, number))
                return QStringLiteral("--port needs a number from 1 to 32767");
            args.port = quint16(number);
        } else if (word == QLatin1String("--timeout")) {
            if (!hasValue || !ParseNumber(argv[++i], 1, 3600000, number))
                return QStringLiteral("--timeout needs milliseconds (1 or more)");
            args.timeoutMs = number;
        } else if (word == QLatin1String("--count")) {
            if (!hasValue || !ParseNumber(argv[++i], 1, 1000000000, number))
                return QStringLiteral("--count needs a number (1 or more)");
            args.count = number;
        } else if (word.startsWith(QLatin1String("--")) && args.command != QLatin1String("raw")) {
            return QStringLiteral("unknown option ") + word;
        } else if (args.command.isEmpty()) {
            args.command = word;
        } else {
            args.words << word;
        }
    }
    return QString();
}

// --- NTP timestamps of this computer's clock -------------------------------

quint64 NtpFromUnixMs(qint64 unixMs)
{
    const qint64 seconds = unixMs / 1000 + kNtpToUnixSeconds;
    const quint64 fraction = (quint64(unixMs % 1000) << 32) / 1000;
    return (quint64(seconds) << 32) | fraction;
}

// Milliseconds since 1970 (with a fraction) of an NTP timestamp in the current era.
double UnixMsFromNtp(quint64 ntp)
{
    const double seconds = double(ntp >> 32) - double(kNtpToUnixSeconds);
    return seconds * 1000.0 + double(ntp & 0xFFFFFFFFu) * 1000.0 / 4294967296.0;
}

quint64 ReadNtp(const QByteArray& packet, int at)
{
    quint64 value = 0;
    for (int i = 0; i < 8; ++i)
        value = (value << 8) | quint8(packet.at(at + i));
    return value;
}

void WriteNtp(QByteArray& packet, int at, quint64 value)
{
    for (int i = 7; i >= 0; --i) {
        packet[at + i] = char(value & 0xFF);
        value >>= 8;
    }
}

double NowUnixMs()
{
    return double(QDateTime::currentMSecsSinceEpoch());
}

QString UtcText(double unixMs)
{
    const qint64 whole = qint64(std::floor(unixMs));
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(whole, QTimeZone::utc());
    return t.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")) + QStringLiteral(" UTC");
}

// "S+ 2026-12-04 20:55:06 250": the four fields the agent's engine reads.
QString ConsoleTimeText(const QString& marker, qint64 unixMs)
{
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(unixMs, QTimeZone::utc());
    return marker + QStringLiteral(" ") + t.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) +
           QStringLiteral(" ") + QString::number(t.time().msec());
}

// --- requests ---------------------------------------------------------------

struct Request {
    QByteArray bytes;
    bool sntpReply = false;     // the UDP reply is an SNTP packet
    bool stampWhenSent = false; // the transmit time is the moment of sending
    bool showTransmit = false;  // --verbose shows the transmit time
    qint64 transmitMs = 0;      // the transmit time, milliseconds since 1970
};

// "YYYY-MM-DD hh:mm:ss mmm" (UTC) in milliseconds since 1970; false when it is not that.
bool ParseConsoleTime(const QString& text, qint64& unixMs)
{
    const QStringList parts = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() < 2 || parts.size() > 3)
        return false;
    QDateTime t = QDateTime::fromString(parts[0] + QLatin1Char(' ') + parts[1],
                                        QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    int ms = 0;
    if (!t.isValid() || (parts.size() == 3 && !ParseNumber(parts[2], 0, 999, ms)))
        return false;
    t.setTimeZone(QTimeZone::utc());
    unixMs = t.toMSecsSinceEpoch() + ms;
    return true;
}

// The datagram of a set or force: an SNTP request whose first byte is the
// command letter, with the time to set as its transmit time (bytes 40-47).
QByteArray SettingDatagram(char letter, qint64 unixMs)
{
    QByteArray datagram(kDatagramSize, '\0');
    datagram[0] = letter;
    WriteNtp(datagram, 40, NtpFromUnixMs(unixMs));
    return datagram;
}

QByteArray Padded(const QByteArray& text)
{
    QByteArray datagram = text;
    if (datagram.size() < kDatagramSize)
        datagram.append(kDatagramSize - datagram.size(), '\0');
    return datagram;
}

// Empty bytes when the command is not known.
Request BuildRequest(const Arguments& args)
{
    const QString& c = args.command;
    const QByteArray rest = args.words.join(QLatin1Char(' ')).toLatin1();
    Request request;
    if (c == QLatin1String("heartbeat")) {
        request.bytes = "H+";
    } else if (c == QLatin1String("time")) {
        request.bytes = "T+";
        if (args.udp) {
            // An SNTP request whose first byte is the command letter.
            request.bytes = QByteArray(kDatagramSize, '\0');
            request.bytes[0] = 'T';
            request.sntpReply = true;
            request.stampWhenSent = true;
            return request;
        }
    } else if (c == QLatin1String("set") || c == QLatin1String("force")) {
        const bool set = c == QLatin1String("set");
        if (args.udp) {
            qint64 when = QDateTime::currentMSecsSinceEpoch();
            request.stampWhenSent = rest.isEmpty();
            if (!request.stampWhenSent && !ParseConsoleTime(QString::fromLatin1(rest), when))
                return {};
            request.bytes = SettingDatagram(set ? 'S' : 'F', when);
            request.transmitMs = when;
            request.sntpReply = true;
            request.showTransmit = true;
            return request;
        }
        const QString marker = set ? QStringLiteral("S+") : QStringLiteral("F+");
        request.bytes =
            rest.isEmpty() ? ConsoleTimeText(marker, QDateTime::currentMSecsSinceEpoch()).toLatin1()
                           : marker.toLatin1() + ' ' + rest;
    } else if (c == QLatin1String("command")) {
        request.bytes = "C+" + rest;
    } else if (c == QLatin1String("relay")) {
        request.bytes = "X+" + rest;
    } else if (c == QLatin1String("raw")) {
        request.bytes = rest;
        return request;
    }
    if (args.udp)
        request.bytes = Padded(request.bytes);
    return request;
}

// "sent 22 bytes: S+ 2026-12-04 20:55:06 250": the text up to the first zero
// byte, other unprintable bytes as \xNN, so a person can see what went out.
void PrintSent(const QByteArray& bytes)
{
    QString text;
    for (const char c : bytes) {
        if (c == '\0')
            break;
        if (c >= ' ' && c <= '~')
            text += QLatin1Char(c);
        else
            text += QStringLiteral("\\x%1").arg(quint8(c), 2, 16, QLatin1Char('0'));
    }
    PrintError(QStringLiteral("sent %1 bytes: ").arg(bytes.size()) + text);
}

QString Where(const Arguments& args)
{
    return args.host + QLatin1Char(':') + QString::number(args.port);
}

// What to check when nothing came back: the transports do not meet, or the
// port is another.
void PrintNoReply(const Arguments& args, const QString& what)
{
    PrintError(what + QStringLiteral(" at ") + Where(args) +
               (args.udp ? QStringLiteral(": is the agent on TCP (ClientFormat 0)? is the port "
                                          "right? is it running?")
                         : QStringLiteral(": is the agent on UDP (ClientFormat 2)? is the port "
                                          "right? is it running?")));
}

// The start of the reply each command gets from an agent in module role; a
// time server answers every request with its time instead.
QByteArray ExpectedReply(const QString& command)
{
    static const QMap<QString, QByteArray> expected{
        {QStringLiteral("heartbeat"), "OK-H"}, {QStringLiteral("time"), "OK-T "},
        {QStringLiteral("set"), "OK-S "},      {QStringLiteral("force"), "OK-F "},
        {QStringLiteral("command"), "OK-C"},   {QStringLiteral("relay"), "OK-X"},
    };
    return expected.value(command);
}

int UnexpectedReply(const Arguments& args, const QString& expected)
{
    PrintError(QStringLiteral("that is not the reply to ") + args.command + QStringLiteral(" (") +
               expected + QStringLiteral("): is ") + Where(args) +
               QStringLiteral(" a time server rather than the agent's module role?"));
    return kExitNoReply;
}

struct Exchange {
    QByteArray reply;
    double sentMs = 0;
    double arrivedMs = 0;
};

// One TCP request and its reply; false (with the reason printed) when none came.
bool TcpExchange(const Arguments& args, Exchange& exchange,
                 std::optional<QByteArray> prepared = std::nullopt)
{
    QTcpSocket socket;
    socket.connectToHost(args.host, args.port);
    if (!socket.waitForConnected(args.timeoutMs)) {
        PrintNoReply(args,
                     QStringLiteral("no connection (") + socket.errorString() + QLatin1Char(')'));
        return false;
    }
    // Built once connected, so a set or force carries the time of sending.
    const QByteArray bytes = prepared ? *prepared : BuildRequest(args).bytes;
    exchange.sentMs = NowUnixMs();
    socket.write(bytes);
    socket.flush();
    if (args.verbose)
        PrintSent(bytes);
    if (socket.waitForReadyRead(args.timeoutMs)) {
        exchange.arrivedMs = NowUnixMs();
        exchange.reply = socket.readAll();
        // Replies carry no line end: take what follows closely.
        while (socket.waitForReadyRead(kTcpQuietMs))
            exchange.reply += socket.readAll();
    }
    socket.abort();
    if (exchange.reply.isEmpty()) {
        PrintNoReply(args, QStringLiteral("no reply"));
        return false;
    }
    return true;
}

int RunTcp(const Arguments& args)
{
    Exchange exchange;
    if (!TcpExchange(args, exchange))
        return kExitNoReply;
    Print(QString::fromLatin1(exchange.reply));
    const QByteArray expected = ExpectedReply(args.command);
    if (!exchange.reply.startsWith(expected))
        return UnexpectedReply(args, QString::fromLatin1(expected) + QStringLiteral("..."));
    return kExitReply;
}

void PrintSntp(const QByteArray& reply, double sentMs, double arrivedMs)
{
    const quint8 first = quint8(reply.at(0));
    Print(QStringLiteral("SNTP reply: first byte %1 (mode %2), stratum %3, poll %4, precision %5, "
                         "reference %6")
              .arg(first)
              .arg(first & 7)
              .arg(quint8(reply.at(1)))
              .arg(qint8(reply.at(2)))
              .arg(qint8(reply.at(3)))
              .arg(QString::fromLatin1(reply.mid(12, 4))));
    const double receive = UnixMsFromNtp(ReadNtp(reply, 32));
    const double transmit = UnixMsFromNtp(ReadNtp(reply, 40));
    Print(QStringLiteral("originate: ") + QString::fromLatin1(reply.mid(24, 8).toHex(' ')));
    Print(QStringLiteral("receive: ") + UtcText(receive));
    Print(QStringLiteral("transmit: ") + UtcText(transmit));
    const double offset = ((receive - sentMs) + (transmit - arrivedMs)) / 2.0;
    const double roundTrip = (arrivedMs - sentMs) - (transmit - receive);
    Print(QStringLiteral("offset: %1 ms, round trip: %2 ms")
              .arg(offset, 0, 'f', 3)
              .arg(roundTrip, 0, 'f', 3));
}

// A text datagram: the characters up to the first zero byte.
QString DatagramText(const QByteArray& reply)
{
    const qsizetype end = reply.indexOf('\0');
    return QString::fromLatin1(end < 0 ? reply : reply.left(end));
}

// Text datagrams carry the short replies ("OK-H"); anything else of full
// size is an SNTP reply.
bool IsSntpReply(const QByteArray& reply)
{
    return !reply.startsWith("OK-") && reply.size() >= kDatagramSize;
}

// One datagram and its answer; kExitReply when one came (with the reason
// printed when not). request: what to send; unset, the request of args, built
// at the moment of sending.
int UdpExchange(const Arguments& args, Exchange& exchange, Request& request,
                std::optional<Request> prepared = std::nullopt)
{
    QUdpSocket socket;
    const QHostAddress target(args.host);
    if (target.isNull())
        return Usage(QStringLiteral("--udp needs a numeric --host address"));
    if (!socket.bind(QHostAddress(target.protocol() == QAbstractSocket::IPv6Protocol
                                      ? QHostAddress::AnyIPv6
                                      : QHostAddress::AnyIPv4),
                     0)) {
        PrintError(QStringLiteral("cannot bind: ") + socket.errorString());
        return kExitNoReply;
    }
    request = prepared ? *prepared : BuildRequest(args);
    exchange.sentMs = NowUnixMs();
    QByteArray& bytes = request.bytes;
    if (request.stampWhenSent) {
        request.transmitMs = qint64(exchange.sentMs);
        WriteNtp(bytes, 40, NtpFromUnixMs(request.transmitMs));
    }
    if (socket.writeDatagram(bytes, target, args.port) != bytes.size()) {
        PrintError(QStringLiteral("cannot send: ") + socket.errorString());
        return kExitNoReply;
    }
    if (args.verbose && request.showTransmit)
        PrintError(QStringLiteral("sent %1 bytes: %2, an SNTP request with transmit time ")
                       .arg(bytes.size())
                       .arg(QLatin1Char(bytes.at(0))) +
                   UtcText(double(request.transmitMs)));
    else if (args.verbose)
        PrintSent(bytes);
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < args.timeoutMs) {
        if (!socket.hasPendingDatagrams() &&
            !socket.waitForReadyRead(int(args.timeoutMs - waited.elapsed())))
            break;
        const QNetworkDatagram datagram = socket.receiveDatagram();
        if (!datagram.isValid())
            continue; // e.g. the port was unreachable: wait on for the time left
        exchange.arrivedMs = NowUnixMs();
        exchange.reply = datagram.data();
        return kExitReply;
    }
    PrintNoReply(args, QStringLiteral("no reply"));
    return kExitNoReply;
}

int RunUdp(const Arguments& args, std::optional<Request> prepared = std::nullopt)
{
    Exchange exchange;
    Request request;
    if (const int code = UdpExchange(args, exchange, request, prepared); code != kExitReply)
        return code;
    const bool sntp = IsSntpReply(exchange.reply);
    if (sntp)
        PrintSntp(exchange.reply, exchange.sentMs, exchange.arrivedMs);
    else
        Print(DatagramText(exchange.reply));
    if (args.command == QLatin1String("raw") || args.command == QLatin1String("sntp"))
        return kExitReply;
    const QByteArray expected = ExpectedReply(args.command).trimmed();
    if (request.sntpReply != sntp || (!sntp && !exchange.reply.startsWith(expected)))
        return UnexpectedReply(args, request.sntpReply ? QStringLiteral("an SNTP reply")
                                                       : QString::fromLatin1(expected));
    return kExitReply;
}

int RunSntp(const Arguments& args)
{
    Arguments udp = args;
    udp.udp = true;
    Request request;
    request.bytes = QByteArray(kDatagramSize, '\0');
    request.bytes[0] = char(0x23); // leap 0, version 4, mode 3 (client)
    request.sntpReply = true;
    request.stampWhenSent = true;
    return RunUdp(udp, request);
}

// --- status -------------------------------------------------------------------

// "OK-T 2026-12-04 9:05:07.045": the agent's UTC time in milliseconds since 1970.
std::optional<double> TimeCheckMs(const QByteArray& reply)
{
    if (!reply.startsWith("OK-T "))
        return std::nullopt;
    QDateTime t = QDateTime::fromString(QString::fromLatin1(reply.mid(5)).trimmed(),
                                        QStringLiteral("yyyy-MM-dd H:mm:ss.zzz"));
    if (!t.isValid())
        return std::nullopt;
    t.setTimeZone(QTimeZone::utc());
    return double(t.toMSecsSinceEpoch());
}

void PrintStatusLine(const char* name, const QString& value)
{
    Print(QStringLiteral("%1 : ").arg(QLatin1String(name), -15) + value);
}

// The agent's time against this computer's, as chronyc tracking shows a
// source: the offset is taken at the middle of the round trip, so half the
// round trip bounds its error.
int RunStatus(const Arguments& args)
{
    Arguments time = args;
    time.command = QStringLiteral("time");
    Exchange exchange;
    std::optional<double> agentMs;
    if (args.udp) {
        Request request;
        if (const int code = UdpExchange(time, exchange, request); code != kExitReply)
            return code;
        if (IsSntpReply(exchange.reply))
            agentMs = (UnixMsFromNtp(ReadNtp(exchange.reply, 32)) +
                       UnixMsFromNtp(ReadNtp(exchange.reply, 40))) /
                      2.0;
    } else {
        if (!TcpExchange(time, exchange))
            return kExitNoReply;
        agentMs = TimeCheckMs(exchange.reply);
    }
    if (!agentMs)
        return UnexpectedReply(time, args.udp ? QStringLiteral("an SNTP reply")
                                              : QStringLiteral("OK-T and a time"));
    const double roundTrip = exchange.arrivedMs - exchange.sentMs;
    const double offset = *agentMs - (exchange.sentMs + exchange.arrivedMs) / 2.0;

    QString mac = QStringLiteral("(a UDP heartbeat carries none)");
    if (!args.udp) {
        Arguments heartbeat = args;
        heartbeat.command = QStringLiteral("heartbeat");
        Exchange beat;
        if (!TcpExchange(heartbeat, beat))
            return kExitNoReply;
        if (!beat.reply.startsWith("OK-H"))
            return UnexpectedReply(heartbeat, QStringLiteral("OK-H..."));
        mac = QString::fromLatin1(beat.reply.mid(4)).trimmed();
        if (mac.isEmpty())
            mac = QStringLiteral("(none set)");
    }
    PrintStatusLine("Agent",
                    Where(args) + (args.udp ? QStringLiteral(" UDP") : QStringLiteral(" TCP")));
    PrintStatusLine("Agent time", UtcText(*agentMs));
    // Whole milliseconds, as the agent's clock gives them; adding 0.0 turns -0 into 0.
    const double shownMs = std::round(offset) + 0.0;
    const QString side = shownMs > 0   ? QStringLiteral("agent ahead of this computer")
                         : shownMs < 0 ? QStringLiteral("agent behind this computer")
                                       : QStringLiteral("agent level with this computer");
    PrintStatusLine("Offset", QStringLiteral("%1%2 seconds (%3)")
                                  .arg(shownMs >= 0 ? QStringLiteral("+") : QString())
                                  .arg(shownMs / 1000.0, 0, 'f', 3)
                                  .arg(side));
    PrintStatusLine("Round trip", QStringLiteral("%1 seconds").arg(roundTrip / 1000.0, 0, 'f', 3));
    PrintStatusLine("MAC address", mac);
    return kExitReply;
}

// --- the controller -----------------------------------------------------------

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int)
{
    g_stop = 1;
}

// "H+U 00:11:22:33:44:55": up/down letter and MAC address; false for anything else.
bool ParseHeartbeat(const QString& text, QString& upDown, QString& mac)
{
    const qsizetype plus = text.indexOf(QLatin1String("H+"));
    if (plus < 0)
        return false;
    upDown = text.mid(plus + 2, 1);
    mac = text.mid(plus + 4).trimmed();
    return upDown == QLatin1String("U") || upDown == QLatin1String("D");
}

int RunListen(const Arguments& args)
{
    QTcpServer server;
    // With --host the controller takes one address, so it can share a port
    // number with agents bound to other loopback addresses.
    const QHostAddress address = args.hostGiven ? QHostAddress(args.host) : QHostAddress::Any;
    if (address.isNull()) {
        PrintError(QStringLiteral("listen needs a numeric --host address"));
        return kExitUsage;
    }
    if (!server.listen(address, args.port)) {
        PrintError(QStringLiteral("cannot listen on port ") + QString::number(args.port) +
                   QStringLiteral(": ") + server.errorString());
        return kExitNoReply;
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    PrintError(QStringLiteral("listening on port ") + QString::number(server.serverPort()));
    int heard = 0;
    while (!g_stop && (args.count == 0 || heard < args.count)) {
        if (!server.waitForNewConnection(200))
            continue;
        QTcpSocket* socket = server.nextPendingConnection();
        QByteArray data;
        if (socket->waitForReadyRead(args.timeoutMs)) {
            data = socket->readAll();
            while (socket->waitForReadyRead(kTcpQuietMs))
                data += socket->readAll();
        }
        QString upDown;
        QString mac;
        const QString peer = QHostAddress(socket->peerAddress().toIPv4Address()).toString();
        if (ParseHeartbeat(QString::fromLatin1(data), upDown, mac)) {
            socket->write((QStringLiteral("OK-H ") + upDown + QLatin1Char(' ') + mac).toLatin1());
            socket->waitForBytesWritten(args.timeoutMs);
            Print(QDateTime::currentDateTime().toString(QStringLiteral("hh:mm:ss")) +
                  QLatin1Char(' ') + peer + QLatin1Char(' ') +
                  (upDown == QLatin1String("U") ? QStringLiteral("up") : QStringLiteral("down")) +
                  QLatin1Char(' ') + mac);
            ++heard;
        } else {
            PrintError(QStringLiteral("not a heartbeat from ") + peer + QStringLiteral(": ") +
                       QString::fromLatin1(data.left(80)));
        }
        socket->disconnectFromHost();
        if (socket->state() != QAbstractSocket::UnconnectedState)
            socket->waitForDisconnected(500);
        delete socket;
    }
    return kExitReply;
}

bool PrintCommandHelp(const QString& command)
{
    for (const CommandHelp& help : kCommandHelp) {
        if (command == QLatin1String(help.name)) {
            std::fputs(help.text, stdout);
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Arguments args;
    const QString problem = Parse(app.arguments().mid(1), args);
    if (args.version) {
        Print(QStringLiteral("nclconsole %1.%2.%3")
                  .arg(NCL_VERSION_MAJOR)
                  .arg(NCL_VERSION_MINOR)
                  .arg(NCL_VERSION_PATCH));
        return kExitReply;
    }
    if (args.help) {
        if (args.command.isEmpty())
            std::fputs(kUsage, stdout);
        else if (!PrintCommandHelp(args.command))
            return Usage(QStringLiteral("unknown command ") + args.command);
        return kExitReply;
    }
    if (!problem.isEmpty())
        return Usage(problem);
    if (args.command.isEmpty())
        return Usage(QStringLiteral("no command given"));

    const QString& c = args.command;
    if (c == QLatin1String("sntp"))
        return args.words.isEmpty() ? RunSntp(args) : Usage(QStringLiteral("sntp takes no text"));
    if (c == QLatin1String("status"))
        return args.words.isEmpty() ? RunStatus(args)
                                    : Usage(QStringLiteral("status takes no text"));
    if (c == QLatin1String("listen"))
        return args.words.isEmpty() ? RunListen(args)
                                    : Usage(QStringLiteral("listen takes no text"));
    const bool needsText =
        c == QLatin1String("command") || c == QLatin1String("relay") || c == QLatin1String("raw");
    const bool takesText = needsText || c == QLatin1String("set") || c == QLatin1String("force");
    const bool known = takesText || c == QLatin1String("heartbeat") || c == QLatin1String("time");
    if (!known)
        return Usage(QStringLiteral("unknown command ") + c);
    if (needsText && args.words.isEmpty() && c != QLatin1String("raw"))
        return Usage(c + QStringLiteral(" needs a text"));
    if (!takesText && !args.words.isEmpty())
        return Usage(c + QStringLiteral(" takes no text"));
    qint64 ignored = 0;
    if (args.udp && !needsText && !args.words.isEmpty() &&
        !ParseConsoleTime(args.words.join(QLatin1Char(' ')), ignored))
        return Usage(c + QStringLiteral(" over UDP needs the time as YYYY-MM-DD hh:mm:ss mmm"));
    return args.udp ? RunUdp(args) : RunTcp(args);
}

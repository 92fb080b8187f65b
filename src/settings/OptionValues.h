#pragma once
// The values of the coded options of the options record, by name.
//
// The record keeps each coded option as the plain integer (or letter) that
// the stores hold, so a stored value this agent does not know stays as it was
// and takes the "any other value" path of the code that reads it. The names
// below are what the code compares and assigns; each enumeration has the width
// of its option.

#include <QLatin1String>
#include <QtGlobal>

namespace settings
{

// ServerFormat (16-bit): the layout of the time data the engine reads.
namespace ServerFormat
{
enum : qint16 {
    Nist = 0,          // NIST time-service line; the console's set and force strings too
    Daytime = 1,       // Daytime text, or ServerCustomFormat when that is not the Daytime layout
    Sntp = 2,          // SNTP reply datagram
    BinaryTimeTcp = 3, // four-byte seconds since 1900
    BinaryTimeUdp = 4, // four-byte seconds since 1900
    NistAlternate = 5, // read as a NIST line as well
};
} // namespace ServerFormat

// ClientFormat (16-bit): the transport and reply of the listening port. The
// protocol menu sets it to the same value as ServerFormat.
namespace ClientFormat
{
enum : qint16 {
    Nist = 0,          // text over TCP: the console's text requests, "Server: " replies
    Daytime = 1,       // TCP; a time server answers nothing
    Sntp = 2,          // datagrams over UDP: console datagrams, SNTP replies
    BinaryTimeTcp = 3, // TCP
    BinaryTimeUdp = 4, // UDP
};

// Whether the port is a bound UDP socket rather than a TCP listener.
constexpr bool UsesUdp(qint16 value)
{
    return value == Sntp || value == BinaryTimeUdp;
}
} // namespace ClientFormat

// ServerConn (16-bit): how the time source is reached.
namespace ServerConn
{
enum : qint16 {
    Network = 0,    // any value but DirectDial
    DirectDial = 2, // a modem line to a time service: ACTS lines, server named in the sync log
};
} // namespace ServerConn

// SettingMode (16-bit): the run mode.
namespace SettingMode
{
enum : qint16 {
    Batch = 0, // the "once" run: one setting, then the program ends
    Once = 1,
    Manual = 2, // the default after the first run
    Timed = 3,
    Auto = 4,
    Daily = 5,
};
} // namespace SettingMode

// ControlMode (32-bit, read from the stores as a 16-bit number): what the
// client list does after each command.
namespace ControlMode
{
enum : qint32 {
    SingleClient = 1, // one command to one client, as a heartbeat
    Manual = 2,
    Polling = 3, // go on with the next client of the list
};
} // namespace ControlMode

// ClientKeyType (16-bit): how clients and peers are keyed; any non-zero
// value keys them by name.
namespace ClientKeyType
{
enum : qint16 {
    ByAddress = 0,
    ByName = 1,
};
} // namespace ClientKeyType

// LoggingMode (16-bit): the sync-log layout; any other value writes none.
namespace LoggingMode
{
enum : qint16 {
    TextFile = 1,
    Printer = 2,
};
} // namespace LoggingMode

// ControlFunction: the one-letter command the controller sends to clients.
namespace ControlFunction
{
constexpr QLatin1String None("-");
constexpr QLatin1String Heartbeat("H");
constexpr QLatin1String Ping("P");
constexpr QLatin1String TimeCheck("T");
constexpr QLatin1String SetIfNeeded("S"); // set only when the last difference is over the threshold
constexpr QLatin1String ForceSetting("F");
constexpr QLatin1String RemoteCommand("C");
constexpr QLatin1String Relay("X");
constexpr QLatin1String WakeOnLan("W");
} // namespace ControlFunction

} // namespace settings

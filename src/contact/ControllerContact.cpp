#include "contact/ControllerContact.h"

#include "logging/DebugLog.h"
#include "platform/SystemClock.h"
#include "runtime/CurrentError.h"
#include "runtime/DateTime.h"
#include "runtime/Numbers.h"
#include "runtime/TextFormat.h"
#include "schedule/Pauses.h"
#include "service/Listener.h"
#include "settings/AppState.h"
#include "settings/COptions.h"
#include "settings/OptionStore.h"
#include "timeset/CNISTtimeset.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <sys/socket.h>

namespace contact
{

namespace
{

constexpr int kWatchdogMs = 2000;
constexpr int kConnectChecks = 10;

QString TimeOfDay()
{
    return rt::FormatDate(rt::Now(), QStringLiteral("hh:nn:ss"));
}

void ReportConnectError(const QString& procedure, qint16 site)
{
    logging::ReportError(logging::Information, QStringLiteral("Error connecting"), rt::Err().number,
                         settings::App().AppTitle, procedure, site);
}

} // namespace

ControllerContact::ControllerContact(service::Listener& listener, timeset::CNISTDisplay& display,
                                     EngineAccess engine, QObject* parent)
    : QObject(parent), m_listener(listener), m_display(display), m_engine(std::move(engine))
{
    // A coarse timer may fire up to 5 % early: a slow controller would be
    // cut off before its two seconds were up.
    tmrServer.setTimerType(Qt::PreciseTimer);
    tmrServer.setInterval(kWatchdogMs);
    connect(&tmrServer, &QTimer::timeout, this, &ControllerContact::tmrServer_Timer);
    connect(&tcpClient, &platform::SocketControl::DataArrival, this,
            &ControllerContact::tcpClient_DataArrival);
    connect(&tcpClient, &platform::SocketControl::Error, this, &ControllerContact::tcpClient_Error);
    // Close, SendProgress and SendComplete of tcpClient need nothing: the
    // watchdog ends a contact that went wrong.
}

float ControllerContact::TickMs() const
{
    return float(platform::Clock().TickCount());
}

bool ControllerContact::SetReuseAddress()
{
    const qintptr handle = tcpClient.SocketHandle();
    if (handle < 0)
        return true; // the socket control sets it on every socket it opens with a local port
    const int one = 1;
    if (::setsockopt(int(handle), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0) {
        NCL_TRACE(QStringLiteral("Error setting SO_REUSEADDR option: ") +
                  QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    return true;
}

void ControllerContact::ResetOnClose()
{
    // Every contact comes from TCPPort, so two contacts with one peer use the
    // same address pair. A closed contact must not keep that pair busy (in
    // TIME_WAIT, or while the peer has not closed its side): closing resets
    // the connection instead. The reply has arrived by then.
    const qintptr handle = tcpClient.SocketHandle();
    const linger reset{1, 0};
    if (handle >= 0 && ::setsockopt(int(handle), SOL_SOCKET, SO_LINGER, &reset, sizeof reset) != 0)
        NCL_TRACE(QStringLiteral("Error setting SO_LINGER option: ") +
                  QString::fromLocal8Bit(std::strerror(errno)));
}

void ControllerContact::Heartbeat(const QString& address, const QString& mac, const QString& upDown)
{
    NCL_TRACE(QStringLiteral("---------Starting Heartbeat to ") + address +
              QStringLiteral(", MAC: ") + mac + QStringLiteral(", U-p/D-wn:") + upDown);
    settings::COptions& options = settings::Options();
    options.setControlMode(settings::ControlMode::SingleClient);
    options.setControlFunction(settings::ControlFunction::Heartbeat);
    options.setControlFuncArgs(upDown + QLatin1Char(' ') + options.MACaddr());
    polling.SendClientCommand(address, address, settings::ControlFunction::Heartbeat);
    NCL_TRACE(QStringLiteral("---------Done with Hearbeat"));
}

void ControllerContact::DoConnect(const QString& sIPAddr, const QString& sKey, const QString& sArg)
{
    tmrServer.start(kWatchdogMs);
    // Every contact speaks text over TCP and switches the shared ServerFormat
    // to it; the options' own value comes back only when they are read again
    // (the options-changed control, a changed-settings check).
    ContactProtocol = settings::ServerFormat::Nist;
    settings::Options().setServerFormat(ContactProtocol);
    ContactKey = sKey;
    cmdConnect(sIPAddr, sArg);
}

void ControllerContact::cmdConnect(const QString& address, const QString& arg)
{
    if (tcpClient.State() > 0) {
        NCL_TRACE(QStringLiteral("------TCP/IP Connection Not yet closed. Waiting"));
        if (!m_listener.clientClose(&tcpClient)) {
            NCL_TRACE(rt::GeneralDate(rt::Now()) + QStringLiteral(" Could not close client"));
            return;
        }
        NCL_TRACE(QStringLiteral("Client Closed OK"));
        polling.SendClientCommand(ContactKey, address, settings::Options().ControlFunction());
        return;
    }
    const settings::COptions& options = settings::Options();
    tcpClient.setProtocol(platform::SocketControl::sckTCPProtocol);
    tcpClient.setRemoteHost(address);
    tcpClient.setRemotePort(options.TCPPort());
    tcpClient.setLocalPort(options.TCPPort());
    ContactStartMs = TickMs();
    if (!tcpClient.Connect()) {
        ReportConnectError(QStringLiteral("cmdConnect"), 123);
        return;
    }
    ResetOnClose();
    NCL_TRACE(QStringLiteral("<NCL MOD connecting to console ") + tcpClient.RemoteHost() +
              QStringLiteral(" with Func ") + options.ControlFunction());
    NCL_TRACE(QStringLiteral("<   via TCP using port ") + QString::number(tcpClient.RemotePort()));
    for (int i = 0;
         i < kConnectChecks && tcpClient.State() != platform::SocketControl::sckConnected; ++i)
        schedule::PauseMilliseconds(10);
    if (tcpClient.State() != platform::SocketControl::sckConnected)
        schedule::PauseMilliseconds(200);
    QString line = options.ControlFunction() + QLatin1Char('+');
    if (!arg.isEmpty())
        line += arg;
    if (!tcpClient.SendData(line))
        ReportConnectError(QStringLiteral("cmdConnect"), 123);
}

QString ControllerContact::get_key() const
{
    const QString key = settings::Options().ClientKeyType() != settings::ClientKeyType::ByAddress
                            ? tcpClient.RemoteHost()
                            : tcpClient.RemoteHostIP();
    return key.isEmpty() ? ContactKey : key;
}

void ControllerContact::tcpClient_DataArrival(qint32 /*bytesTotal*/)
{
    tmrServer.stop();
    const QString key = get_key();
    const float elapsed = TickMs() - ContactStartMs;
    NCL_TRACE(QStringLiteral("Connection took ") + QString::number(qint64(std::floor(elapsed))) +
              QStringLiteral(" milliseconds"));
    m_engine().setNISTLegTime(0.75f * elapsed / 1000.0f);
    const QString reply = tcpClient.GetDataText();
    NCL_TRACE(QStringLiteral(">ClientData arrived: _") + reply + QStringLiteral("_ from ") + key +
              QStringLiteral(" on local port ") + QString::number(tcpClient.LocalPort()));
    m_listener.clientClose(&tcpClient);
    const QString function = settings::Options().ControlFunction();
    if (function == settings::ControlFunction::Heartbeat)
        m_engine().HeartbeatOK(key, reply, m_display, true); // may release the engine
    else if (function == settings::ControlFunction::TimeCheck)
        polling.RecordTimeCheck(ContactKey, reply, qint32(elapsed));
    polling.ReloadMode();
}

void ControllerContact::tcpClient_Error(qint16 number, const QString& description)
{
    NCL_TRACE(QStringLiteral("Client Winsock Error: ") + QString::number(number) +
              QStringLiteral("\r\n") + description);
    // A failed connect leaves the socket signalling without end; it is let go
    // at once, and the watchdog still ends the contact.
    tcpClient.Close();
}

void ControllerContact::tmrServer_Timer()
{
    // Stopped first: the close rounds below let events run, the timer among them.
    tmrServer.stop();
    NCL_TRACE(TimeOfDay() + QStringLiteral(": SERVER TIMEOUT: 0   "));
    m_listener.LogState(tcpClient.State());
    if (tcpClient.State() != 0) {
        NCL_TRACE(QStringLiteral("No more tries.   "));
        NCL_TRACE(QStringLiteral("TIMEOUT: Closing the connection"));
        NCL_TRACE(TimeOfDay() + QStringLiteral(" Connection with client failed."));
        m_listener.clientClose(&tcpClient);
    } else {
        NCL_TRACE(TimeOfDay() + QStringLiteral(" Client closed - connection with client failed."));
    }
    polling.ReloadMode();
}

bool ControllerContact::ContactMenu(const ShowMessage& show)
{
    const settings::COptions& options = settings::Options();
    if (options.Servername().isEmpty()) {
        show(QStringLiteral("You must enter controller name before contacting"),
             QStringLiteral("Controller Name Not Set"));
        return false;
    }
    Heartbeat(options.Servername(), options.MACaddr(), QStringLiteral("U"));
    return true;
}

bool ControllerContact::ControllerAddressMenu(const AskText& ask)
{
    settings::COptions& options = settings::Options();
    QString answer;
    const bool given = ask(QStringLiteral("Controller Address"),
                           QStringLiteral("Enter the network name or IP address of the controller"),
                           options.Servername(), answer);
    if (!given || answer.isEmpty()) {
        NCL_TRACE(QStringLiteral("Enter controller address: No entry or cancel"));
        return false;
    }
    options.setServername(answer);
    const settings::AppState& app = settings::App();
    if (settings::RegistrySet(options, app.AppTitle))
        settings::Registry_Set(app.RegOptionsKey, options);
    return true;
}

} // namespace contact

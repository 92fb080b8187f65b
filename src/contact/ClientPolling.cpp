#include "contact/ClientPolling.h"

#include "contact/ControllerContact.h"
#include "logging/DebugLog.h"
#include "platform/SystemClock.h"
#include "runtime/CurrentError.h"
#include "runtime/Numbers.h"
#include "runtime/TextFormat.h"
#include "schedule/Pauses.h"
#include "settings/AppState.h"
#include "settings/COptions.h"

#include <QDateTime>
#include <QTimer>

#include <cmath>

namespace contact
{

namespace
{

constexpr int kPingTimeoutMs = 1000;
// How long "S" waits when a client needs no setting, before the next one.
constexpr qint32 kNoSettingPauseSeconds = 1;

QString TwoDigits(int value)
{
    return QString::number(value).rightJustified(2, QLatin1Char('0'));
}

// "YY-MM-DD hh:mm:ss" of a UTC record.
QString UtcDateTimeText(const platform::SystemTime& t)
{
    return TwoDigits(t.wYear % 100) + QLatin1Char('-') + TwoDigits(t.wMonth) + QLatin1Char('-') +
           TwoDigits(t.wDay) + QLatin1Char(' ') + TwoDigits(t.wHour) + QLatin1Char(':') +
           TwoDigits(t.wMinute) + QLatin1Char(':') + TwoDigits(t.wSecond);
}

// The UTC time of a time-check reply ("OK-T 2026-12-04 9:05:07.045"), as
// milliseconds since 1970; false when the reply holds none.
bool ReplyUtcMs(const QString& reply, qint64& utcMs)
{
    const qsizetype at = reply.indexOf(QLatin1String("OK-T "));
    if (at < 0)
        return false;
    const QDateTime time = QDateTime::fromString(reply.mid(at + 5).trimmed(),
                                                 QStringLiteral("yyyy-MM-dd H:mm:ss.zzz"));
    if (!time.isValid())
        return false;
    utcMs = QDateTime(time.date(), time.time(), Qt::UTC).toMSecsSinceEpoch();
    return true;
}

} // namespace

ClientPolling::ClientPolling(ControllerContact& contact, QObject* parent)
    : QObject(parent), m_contact(contact)
{
    connect(&m_ping, &IcmpEcho::Finished, this, &ClientPolling::PingFinished);
    connect(&m_wol, &platform::WakeOnLanControl::WOLError, this,
            [this](const QString& text) { WakeOnLanDone(QStringLiteral("WOL Error: ") + text); });
    connect(&m_wol, &platform::WakeOnLanControl::WOLSuccess, this,
            [this](const QString& text, const QString& mac, const QString& broadcast,
                   const QString& local) {
                WakeOnLanDone(QStringLiteral("WOL: ") + text + QStringLiteral(" MAC addr: ") + mac +
                              QStringLiteral(", Bcast IP: ") + broadcast +
                              QStringLiteral(", Local IP: ") + local);
            });
}

void ClientPolling::ReloadMode()
{
    switch (settings::Options().ControlMode()) {
    case settings::ControlMode::SingleClient:
        NCL_TRACE(QStringLiteral("---Single Client Mode (done)---"));
        break;
    case settings::ControlMode::Manual:
        NCL_TRACE(QStringLiteral("---Manual Mode---"));
        break;
    case settings::ControlMode::Polling:
        NCL_TRACE(QString());
        NCL_TRACE(QStringLiteral("---Polling Mode---"));
        // From the event loop, so a long list does not nest one step in another.
        QTimer::singleShot(0, this, &ClientPolling::PollNextClient);
        break;
    default:
        NCL_TRACE(QStringLiteral("ERROR with ReloadMode value"));
        break;
    }
    MouseBusy = false;
}

void ClientPolling::StartPollingCycle()
{
    Position = 0;
    StopPolling = false;
    settings::Options().setControlMode(settings::ControlMode::Polling);
    ReloadMode();
}

void ClientPolling::EndCycle()
{
    cmdManualCaption = QStringLiteral("Start");
    StopPolling = false;
    settings::Options().setControlMode(settings::ControlMode::Manual);
    NCL_TRACE(QStringLiteral("...Completed polling of clients."));
    MouseBusy = false;
}

bool ClientPolling::SkipClient(const cClient& client)
{
    if (client.sKey.isEmpty()) {
        NCL_TRACE(QStringLiteral("Skipping empty key client, Name: ") + client.sIPname +
                  QStringLiteral(", Addr: ") + client.sIPAddr);
        return true;
    }
    if (SearchingModules)
        return false;
    if (client.nStatus == cClient::StatusInactive) {
        NCL_TRACE(QStringLiteral("Poll: Skipping Inactive client: ") + client.sKey);
        TreeIcons.insert(client.sKey, QStringLiteral("Computer_Skip"));
        return true;
    }
    const QString function = settings::Options().ControlFunction();
    if (client.nStatus == cClient::StatusPassive &&
        function != settings::ControlFunction::TimeCheck &&
        function != settings::ControlFunction::Ping) {
        NCL_TRACE(QStringLiteral("Poll: Skipping Passive client: ") + client.sKey);
        TreeIcons.insert(client.sKey, QStringLiteral("Computer_Skip"));
        return true;
    }
    return false;
}

void ClientPolling::PollNextClient()
{
    MouseBusy = true;
    for (;;) {
        if (Position >= Clients.Count() || StopPolling) {
            EndCycle();
            return;
        }
        cmdManualCaption = QStringLiteral("Stop");
        ++Position;
        const cClient* client = Clients.Item(Position);
        if (!client || SkipClient(*client))
            continue;
        CurrentTarget = client->sIPAddr;
        SendClientCommand(client->sKey, client->sIPAddr, settings::Options().ControlFunction());
        return;
    }
}

void ClientPolling::CommandFailed(qint32 number, const QString& description)
{
    NCL_TRACE(QStringLiteral("Error sending_command: ") + QString::number(number) +
              QStringLiteral(" Desc: ") + description);
    rt::ClearError();
    ReloadMode();
}

void ClientPolling::SendClientCommand(const QString& key, const QString& target,
                                      const QString& letter)
{
    const platform::SystemTime utc = platform::Clock().GetSystemTime();
    CurrentTarget = target;
    // The text and the milliseconds of a forced setting come from one reading,
    // so a second boundary between two readings cannot put it a second off.
    CurrentDateTimeText = UtcDateTimeText(utc);
    if (logging::DebugOn) {
        const platform::SystemTime local = platform::Clock().GetLocalTime();
        logging::WriteDebug(
            QStringLiteral(" Sending command (") + letter + QStringLiteral(") to ") + target +
            QStringLiteral(" at ") + QString::number(local.wHour) + QLatin1Char(':') +
            TwoDigits(local.wMinute) + QLatin1Char(':') + TwoDigits(local.wSecond) +
            QLatin1Char('.') + QString::number(local.wMilliseconds).rightJustified(3, u'0'));
    }
    const settings::COptions& options = settings::Options();
    cClient* client = key.isEmpty() ? nullptr : Clients.Item(key);
    namespace Function = settings::ControlFunction;
    if (letter == Function::None) {
        NCL_TRACE(QStringLiteral("(no command)"));
        ReloadMode();
    } else if (letter == Function::Heartbeat || letter == Function::RemoteCommand ||
               letter == Function::Relay) {
        m_contact.DoConnect(target, key, options.ControlFuncArgs());
    } else if (letter == Function::Ping) {
        DoPing(target);
    } else if (letter == Function::TimeCheck) {
        if (settings::App().PlatformFamily == QLatin1String("Windows NT") && client &&
            client->nStatus != cClient::StatusActive)
            GetRemoteTime(target, key);
        else
            m_contact.DoConnect(target, key);
    } else if (letter == Function::SetIfNeeded) {
        if (!client)
            return CommandFailed(5, QStringLiteral("Invalid procedure call or argument"));
        if (std::fabs(client->sglTimeDiffSec) > options.SetMinThreshold() / 1000.0) {
            SendForce(key, target, client, utc.wMilliseconds);
        } else {
            NCL_TRACE(QStringLiteral("...no need for time setting, sec diff: ") +
                      rt::SingleText(client->sglTimeDiffSec));
            schedule::PauseSeconds(kNoSettingPauseSeconds);
            ReloadMode();
        }
    } else if (letter == Function::ForceSetting) {
        SendForce(key, target, client, utc.wMilliseconds);
    } else if (letter == Function::WakeOnLan) {
        DoWOL(target, key, options.ControlFuncArgs());
    } else {
        // An unknown letter still ends in the next step, so a cycle always ends.
        NCL_TRACE(QStringLiteral("Unknown command letter: ") + letter);
        ReloadMode();
    }
}

void ClientPolling::SendForce(const QString& key, const QString& target, cClient* client,
                              qint16 utcMs)
{
    const qint32 delay = client ? client->lContactDelaymsec : 0;
    qint32 milliseconds = 0;
    rt::ToInt32(double(utcMs) + delay / 2.0, milliseconds);
    NCL_TRACE(QStringLiteral("Millisecond portion: ") + QString::number(milliseconds));
    const QString ms = milliseconds >= 0 ? QStringLiteral(" ") + QString::number(milliseconds)
                                         : QString::number(milliseconds);
    m_contact.DoConnect(target, key, QStringLiteral(" ") + CurrentDateTimeText + ms);
}

void ClientPolling::RecordTimeCheck(const QString& key, const QString& reply, qint32 elapsedMs)
{
    cClient* client = key.isEmpty() ? nullptr : Clients.Item(key);
    qint64 remoteMs = 0;
    if (!client || !ReplyUtcMs(reply, remoteMs))
        return;
    // The reply was made about half-way through the contact.
    const double localMs = double(platform::Clock().NowUtcMs()) - elapsedMs / 2.0;
    client->sglTimeDiffSec = float((double(remoteMs) - localMs) / 1000.0);
    client->dTimeDiffDate = rt::Now();
    client->dContactDate = client->dTimeDiffDate;
    client->lContactDelaymsec = elapsedMs;
    if (client->nContactCount < 32767)
        ++client->nContactCount;
    NCL_TRACE(QStringLiteral("Time difference of ") + key + QStringLiteral(": ") +
              rt::SingleText(client->sglTimeDiffSec) + QStringLiteral(" sec"));
}

void ClientPolling::DoPing(const QString& target)
{
    QString error;
    m_pingKey = Clients.Count() > 0 && Position > 0 && Clients.Item(Position)
                    ? Clients.Item(Position)->sKey
                    : QString();
    NCL_TRACE(QStringLiteral("Ping ") + target);
    if (!m_ping.Send(target, kPingTimeoutMs, error))
        CommandFailed(0, QStringLiteral("Ping ") + target + QStringLiteral(": ") + error);
}

void ClientPolling::PingFinished(bool replied, qint32 roundTripMs)
{
    if (replied) {
        NCL_TRACE(QStringLiteral("Ping ") + CurrentTarget + QStringLiteral(": reply in ") +
                  QString::number(roundTripMs) + QStringLiteral(" ms"));
        if (cClient* client = m_pingKey.isEmpty() ? nullptr : Clients.Item(m_pingKey)) {
            client->dContactDate = rt::Now();
            if (client->nContactCount < 32767)
                ++client->nContactCount;
        }
    } else {
        NCL_TRACE(QStringLiteral("Ping ") + CurrentTarget + QStringLiteral(": no reply"));
    }
    ReloadMode();
}

void ClientPolling::GetRemoteTime(const QString& target, const QString& key)
{
    NCL_TRACE(QStringLiteral("GetRemoteTime: time check of ") + target);
    m_contact.DoConnect(target, key);
}

void ClientPolling::DoWOL(const QString& target, const QString& key, const QString& args)
{
    const cClient* client = key.isEmpty() ? nullptr : Clients.Item(key);
    if (!client)
        return CommandFailed(5, QStringLiteral("Invalid procedure call or argument"));
    const QString broadcast =
        args.trimmed().isEmpty() ? QStringLiteral("255.255.255.255") : args.trimmed();
    NCL_TRACE(QStringLiteral("WOL to ") + target + QStringLiteral(", MAC ") + client->sMACaddr +
              QStringLiteral(" via ") + broadcast);
    m_wol.setBroadcastIP(broadcast);
    m_wol.setMACAddress(client->sMACaddr);
    m_wol.setLocalIP(QString());
    m_wol.SendWOL();
}

void ClientPolling::WakeOnLanDone(const QString& text)
{
    NCL_TRACE(text);
    ReloadMode();
}

} // namespace contact

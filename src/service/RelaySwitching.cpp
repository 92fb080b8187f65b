#include "service/RelaySwitching.h"

#include "logging/DebugLog.h"
#include "runtime/Numbers.h"
#include "schedule/Pauses.h"

namespace service
{

namespace
{

constexpr qint32 kChunkMs = 62000;
constexpr qint32 kPauseMs = 200;
constexpr qint16 kMaxPort = 255;

// The status-byte bit of a switch.
quint8 SwitchBit(qint16 nSwitch)
{
    return quint8(1 << nSwitch);
}

bool ParseSwitch(const QString& word, RelayCommand& command)
{
    command.switchWord = word.mid(2);
    return rt::ToInt16(rt::Val(command.switchWord), command.nSwitch) && command.nSwitch >= 0 &&
           command.nSwitch <= 2;
}

bool ParseStateAndMode(const QString& state, const QString& mode, RelayCommand& command)
{
    command.state = state;
    command.mode = mode;
    if (state != QLatin1String("On") && state != QLatin1String("Off"))
        return false;
    if (mode == QLatin1String("Latch"))
        return true;
    return rt::ToInt32(rt::Val(mode), command.seconds) && command.seconds >= 1;
}

bool ParsePort(const QString& word, qint16 nLocalCOM, RelayCommand& command)
{
    command.portWord = word;
    if (!word.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
        return false;
    qint16 port = 0;
    if (!rt::ToInt16(rt::Val(word.mid(3)), port))
        return false;
    command.port = port < 1 ? nLocalCOM : port;
    return command.port >= 1 && command.port <= kMaxPort;
}

bool ParseBaud(const QString& word, RelayCommand& command)
{
    command.baudWord = word;
    const double baud = rt::Val(word);
    return baud >= 2400 && baud <= 9600;
}

QString LogText(const RelayCommand& command)
{
    QString text = QStringLiteral("Relay: Switch: ") + command.switchWord;
    if (command.nSwitch != 2)
        text += QLatin1Char(' ') + command.state + QLatin1Char(' ') + command.mode;
    return text + QStringLiteral(", Port: ") + command.portWord + QStringLiteral(", Baud: ") +
           command.baudWord;
}

} // namespace

bool ParseRelayCommand(const QStringList& words, qint16 nLocalCOM, RelayCommand& command)
{
    command = RelayCommand();
    if (words.size() < 5 || !ParseSwitch(words.at(0), command))
        return false;
    if (command.nSwitch != 2 && !ParseStateAndMode(words.at(1), words.at(2), command))
        return false;
    return ParsePort(words.at(3), nLocalCOM, command) && ParseBaud(words.at(4), command);
}

QString RelaySettings(const QString& baudWord)
{
    if (baudWord == QLatin1String("2400") || baudWord == QLatin1String("4800"))
        return baudWord + QStringLiteral(",N,8,1");
    return QStringLiteral("9600,N,8,1");
}

RelaySwitching::RelaySwitching(QObject* parent) : QObject(parent)
{
    // A coarse timer may end a short switching up to 5 % early.
    tmrRelay.setTimerType(Qt::PreciseTimer);
    connect(&tmrRelay, &QTimer::timeout, this, &RelaySwitching::tmrRelay_Timer);
    connect(&MSComm1, &platform::CommControl::OnComm, this, &RelaySwitching::MSComm1_OnComm);
}

QString RelaySwitching::do_Relay(const QString& sData, qint16 nLocalCOM, QString& sStatus,
                                 QString& sLog)
{
    sLog = QStringLiteral("Relay: ");
    sStatus.clear();
    if (sData.isEmpty())
        return QStringLiteral("No command.");
    NCL_TRACE(QStringLiteral("Relay:_") + sData + QStringLiteral("_"));
    RelayCommand command;
    if (!ParseRelayCommand(sData.split(QLatin1Char(' ')), nLocalCOM, command))
        return {};
    sLog = LogText(command);
    NCL_TRACE(sLog);
    if (!OpenPort(command))
        return QStringLiteral("Could not open port: ") + command.portWord;

    const bool timed = command.nSwitch != 2 && command.seconds > 0;
    if (command.nSwitch != 2) {
        const qint16 wanted = command.state == QLatin1String("On") ? 1 : 0;
        (command.nSwitch == 0 ? nSwitch0State : nSwitch1State) = wanted;
        SendSetAndRead();
        if (timed) {
            nTimedSwitch = command.nSwitch;
            sTimedState = command.state;
        }
    } else {
        MSComm1.setOutput(QByteArrayLiteral("!0R"));
    }
    schedule::PauseMilliseconds(kPauseMs);
    // The timer runs from the end of the read-back pause, so the relay holds
    // for the whole duration: the pause plus the first interval.
    if (timed)
        StartTimer(command.seconds);

    sStatus =
        (nBoardStatus & SwitchBit(command.nSwitch)) ? QStringLiteral("On") : QStringLiteral("Off");
    if (!timed)
        MSComm1.setPortOpen(false);
    if (command.nSwitch == 2 || sStatus == command.state)
        return QStringLiteral("OK");
    return QStringLiteral("Failed.");
}

// An open port belongs to a running timed switching: it is neither set up
// again nor renumbered, and the command is refused.
bool RelaySwitching::OpenPort(const RelayCommand& command)
{
    if (MSComm1.PortOpen())
        return false;
    MSComm1.setSettings(RelaySettings(command.baudWord));
    MSComm1.setInputLen(1);
    MSComm1.setRTSEnable(true);
    MSComm1.setDTREnable(true);
    MSComm1.setSThreshold(1);
    MSComm1.setRThreshold(1);
    MSComm1.setHandshaking(platform::CommControl::comNone);
    MSComm1.setInputMode(platform::CommControl::comInputModeBinary);
    return MSComm1.setCommPort(command.port) && MSComm1.setPortOpen(true);
}

void RelaySwitching::SendSetAndRead()
{
    QByteArray set = QByteArrayLiteral("!0S");
    set.append(char(2 * nSwitch1State + nSwitch0State));
    MSComm1.setOutput(set);
    MSComm1.setOutput(QByteArrayLiteral("!0R"));
}

// The read-back pause is part of the duration, so the intervals add up to 200 ms less.
void RelaySwitching::StartTimer(qint32 seconds)
{
    const qint64 total = qint64(seconds) * 1000;
    if (seconds < 63) {
        tmrRelay.setInterval(int(total - kPauseMs));
        nTimedRemainMs = 0;
    } else {
        tmrRelay.setInterval(kChunkMs);
        nTimedRemainMs = total - kChunkMs - kPauseMs;
    }
    tmrRelay.start();
}

void RelaySwitching::tmrRelay_Timer()
{
    tmrRelay.stop();
    if (nTimedRemainMs > 0) {
        const qint64 next = qMin<qint64>(nTimedRemainMs, kChunkMs);
        tmrRelay.setInterval(int(next));
        nTimedRemainMs -= next;
        tmrRelay.start();
        return;
    }
    NCL_TRACE(QStringLiteral("Relay timer expired, sw: ") + QString::number(nTimedSwitch) +
              QStringLiteral(", current state: ") + sTimedState);
    if (sTimedState != QLatin1String("On") && sTimedState != QLatin1String("Off"))
        return;
    const qint16 fallBack = sTimedState == QLatin1String("On") ? 0 : 1;
    (nTimedSwitch == 0 ? nSwitch0State : nSwitch1State) = fallBack;
    SendSetAndRead();
    MSComm1.setPortOpen(false);
    sTimedState.clear();
}

void RelaySwitching::MSComm1_OnComm()
{
    switch (MSComm1.CommEvent()) {
    case platform::CommControl::comEventBreak:
        NCL_TRACE(QStringLiteral("Error: break"));
        break;
    case platform::CommControl::comEventFrame:
        NCL_TRACE(QStringLiteral("Error: framing"));
        break;
    case platform::CommControl::comEventOverrun:
        NCL_TRACE(QStringLiteral("Error: data lost"));
        break;
    case platform::CommControl::comEventRxOver:
        NCL_TRACE(QStringLiteral("Error: buffer overflow"));
        break;
    case platform::CommControl::comEventRxParity:
        NCL_TRACE(QStringLiteral("Error: parity error"));
        break;
    case platform::CommControl::comEventTxFull:
        NCL_TRACE(QStringLiteral("Error: xmit overflow"));
        break;
    case platform::CommControl::comEventDCB:
        NCL_TRACE(QStringLiteral("Error: unexpected DCB"));
        break;
    case platform::CommControl::comEvReceive: {
        MSComm1.setInputLen(MSComm1.RThreshold());
        const QByteArray received = MSComm1.Input();
        if (!received.isEmpty())
            nBoardStatus = quint8(received.at(0));
        break;
    }
    default:
        break;
    }
}

} // namespace service

#pragma once
// Switching the relays of a serial relay board (the console's "X" command).
//
// The board takes "!0S" and one state byte (2 x relay 1 + relay 0) and
// answers "!0R" with its status byte (1: relay 0 on, 2: relay 1 on, 4: the
// input on). A command is "X+<switch> <On|Off> <Latch|seconds> COM<n> <baud>".
// A latched switching opens the port, sets, reads back and closes it. A timed
// one keeps the port open and runs tmrRelay (in steps of at most 62 seconds)
// until the relay falls back to the opposite state; meanwhile further
// commands cannot open the port. Switch 2 only reads the input.

#include "platform/CommControl.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

namespace service
{

// One relay command taken apart.
struct RelayCommand {
    qint16 nSwitch = 0;
    QString switchWord; // the switch number as written
    QString state;      // "On" or "Off" (switches 0 and 1)
    QString mode;       // "Latch" or the seconds as written
    qint32 seconds = 0; // 0 for a latched switching
    QString portWord;
    qint16 port = 0;
    QString baudWord;
};

// False when the words do not make a command (then nothing may be sent).
bool ParseRelayCommand(const QStringList& words, qint16 nLocalCOM, RelayCommand& command);
// The port settings for a baud word: 2400 and 4800 as given, anything else 9600.
QString RelaySettings(const QString& baudWord);

class RelaySwitching : public QObject
{
    Q_OBJECT
public:
    explicit RelaySwitching(QObject* parent = nullptr);

    platform::CommControl MSComm1;
    // Ends timed switchings; owned here rather than by the main window.
    QTimer tmrRelay;

    // Returns "OK", "Failed.", "Could not open port: COM<n>", "No command." or
    // "" (malformed); sStatus is the read-back state "On"/"Off".
    QString do_Relay(const QString& sData, qint16 nLocalCOM, QString& sStatus, QString& sLog);

    void tmrRelay_Timer();
    void MSComm1_OnComm();

    // The wanted relay states (1 on, 0 off) and the board's last status byte.
    qint16 nSwitch0State = 0;
    qint16 nSwitch1State = 0;
    quint8 nBoardStatus = 0;
    // The running timed switching: switch, commanded state ("" when none) and
    // the milliseconds still to wait after the running interval.
    qint16 nTimedSwitch = 0;
    QString sTimedState;
    qint64 nTimedRemainMs = 0;

private:
    bool OpenPort(const RelayCommand& command);
    void SendSetAndRead();
    void StartTimer(qint32 seconds);
};

} // namespace service

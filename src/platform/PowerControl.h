#pragma once
// The power control: log off the interactive sessions, halt, reboot or power
// off the computer, forced or not, with the exit flags the agent speaks
// (log off 0, shut down 1, reboot 2, force 4, power off 8).
//
// The backend is chosen in one place (PowerBackendFor): with NCLMOD_POWER
// set, the real backend is never used. "record:<file>" appends one line per
// request to the file and does nothing else; any other value refuses every
// request. Only an unset NCLMOD_POWER reaches the machine: systemd-logind
// (systemctl/loginctl) when it runs, else the reboot system call.

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace platform
{

enum ExitFlag : quint32 {
    EWX_LOGOFF = 0,
    EWX_SHUTDOWN = 1,
    EWX_REBOOT = 2,
    EWX_FORCE = 4,
    EWX_POWEROFF = 8
};

enum class PowerAction { LogOff, Halt, Reboot, PowerOff };

// The action a set of flags asks for. Reboot wins over power off, which wins
// over halt: a console that asks for both a reboot and a power-off gets the
// machine back.
PowerAction ActionFor(quint32 flags);
QString ActionName(PowerAction action);

enum class PowerBackendKind { Real, Recording, Refusing };
// The backend for a value of NCLMOD_POWER (nullptr: the variable is unset).
PowerBackendKind PowerBackendFor(const QByteArray* powerVariable);

// What the real backend runs for an action with logind: the program and its
// arguments. Log-off has no single command (see RealPowerLogOff).
struct PowerCommand {
    QString program;
    QStringList arguments;
};
PowerCommand LogindCommand(PowerAction action, bool forced);

// The line the recording backend appends for a request.
QString RecordLine(quint32 flags);

// Carries out (or records, or refuses) the request, by NCLMOD_POWER. False
// with errorNumber (an errno value) when it was not accepted.
bool ExitWindowsEx(quint32 flags, qint32 reason, int& errorNumber);

// The steps that give this process the right to shut the machine down: on
// this platform the right is the CAP_SYS_BOOT capability (root has it);
// logind may still allow others through its own policy. Each field is the
// error of its step, 0 when it went well.
struct ShutdownPrivilegeSteps {
    int processError = 0; // finding the own process
    int tokenError = 0;   // reading its capability sets
    int lookupError = 0;  // naming the shutdown capability
    int adjustError = 0;  // the capability is effective
    int lastError = 0;
};
ShutdownPrivilegeSteps EnableShutdownPrivilege();

} // namespace platform

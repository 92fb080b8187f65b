#include "platform/PowerControl.h"

#include "platform/PrivateFile.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <cerrno>
#include <sys/reboot.h>
#include <unistd.h>

namespace platform
{

namespace
{

constexpr int kCapSysBoot = 22;
constexpr int kCommandTimeoutMs = 15000;

QByteArray RecordPrefix()
{
    return QByteArrayLiteral("record:");
}

bool Forced(quint32 flags)
{
    return (flags & EWX_FORCE) != 0;
}

// Runs a command to its end; false with an errno value when it could not run or failed.
bool RunCommand(const PowerCommand& command, QString* output, int& errorNumber)
{
    QProcess process;
    process.start(command.program, command.arguments);
    if (!process.waitForStarted(kCommandTimeoutMs)) {
        errorNumber = ENOENT;
        return false;
    }
    if (!process.waitForFinished(kCommandTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        errorNumber = ETIMEDOUT;
        return false;
    }
    if (output)
        *output = QString::fromLocal8Bit(process.readAllStandardOutput());
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        errorNumber = EPERM;
        return false;
    }
    return true;
}

bool HaveLogind()
{
    return QFileInfo(QStringLiteral("/run/systemd/system")).isDir();
}

// Ends every user session that logind knows (desktop and terminal logins).
bool RealLogOff(bool forced, int& errorNumber)
{
    QString list;
    if (!RunCommand({QStringLiteral("loginctl"),
                     {QStringLiteral("list-sessions"), QStringLiteral("--no-legend")}},
                    &list, errorNumber))
        return false;
    bool allEnded = true;
    for (const QString& line : list.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString id = line.simplified().section(QLatin1Char(' '), 0, 0);
        QString sessionClass;
        int ignored = 0;
        RunCommand({QStringLiteral("loginctl"),
                    {QStringLiteral("show-session"), id, QStringLiteral("-p"),
                     QStringLiteral("Class"), QStringLiteral("--value")}},
                   &sessionClass, ignored);
        if (sessionClass.trimmed() != QLatin1String("user"))
            continue;
        PowerCommand end = LogindCommand(PowerAction::LogOff, forced);
        end.arguments.append(id);
        allEnded = RunCommand(end, nullptr, errorNumber) && allEnded;
    }
    return allEnded;
}

bool RealRebootCall(PowerAction action, int& errorNumber)
{
    int command = RB_HALT_SYSTEM;
    if (action == PowerAction::Reboot)
        command = RB_AUTOBOOT;
    else if (action == PowerAction::PowerOff)
        command = RB_POWER_OFF;
    ::sync();
    if (::reboot(command) == 0)
        return true;
    errorNumber = errno;
    return false;
}

bool RealExecute(quint32 flags, int& errorNumber)
{
    // Second guard: the choice above already excludes this with the variable set.
    if (qEnvironmentVariableIsSet("NCLMOD_POWER")) {
        errorNumber = EPERM;
        return false;
    }
    const PowerAction action = ActionFor(flags);
    const bool logind = HaveLogind();
    if (action == PowerAction::LogOff) {
        if (!logind) {
            errorNumber = ENOSYS;
            return false;
        }
        return RealLogOff(Forced(flags), errorNumber);
    }
    if (logind)
        return RunCommand(LogindCommand(action, Forced(flags)), nullptr, errorNumber);
    return RealRebootCall(action, errorNumber);
}

bool Record(const QString& file, quint32 flags, int& errorNumber)
{
    QFile out;
    QString error;
    if (!OpenFileForWriting(out, file, WriteMode::Append, error)) {
        errorNumber = EACCES;
        return false;
    }
    out.write(RecordLine(flags).toLatin1() + '\n');
    return true;
}

// Effective capability set of this process from /proc/self/status; false when unreadable.
bool EffectiveCapabilities(quint64& capabilities, int& errorNumber)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        errorNumber = ENOENT;
        return false;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("CapEff:")) {
            bool ok = false;
            capabilities = line.mid(7).trimmed().toULongLong(&ok, 16);
            if (ok)
                return true;
        }
    }
    errorNumber = EINVAL;
    return false;
}

} // namespace

PowerAction ActionFor(quint32 flags)
{
    if (flags & EWX_REBOOT)
        return PowerAction::Reboot;
    if (flags & EWX_POWEROFF)
        return PowerAction::PowerOff;
    if (flags & EWX_SHUTDOWN)
        return PowerAction::Halt;
    return PowerAction::LogOff;
}

QString ActionName(PowerAction action)
{
    switch (action) {
    case PowerAction::Halt:
        return QStringLiteral("halt");
    case PowerAction::Reboot:
        return QStringLiteral("reboot");
    case PowerAction::PowerOff:
        return QStringLiteral("poweroff");
    case PowerAction::LogOff:
        break;
    }
    return QStringLiteral("logoff");
}

PowerBackendKind PowerBackendFor(const QByteArray* powerVariable)
{
    if (!powerVariable)
        return PowerBackendKind::Real;
    if (powerVariable->startsWith(RecordPrefix()) && powerVariable->size() > RecordPrefix().size())
        return PowerBackendKind::Recording;
    return PowerBackendKind::Refusing;
}

PowerCommand LogindCommand(PowerAction action, bool forced)
{
    if (action == PowerAction::LogOff) {
        if (forced)
            return {QStringLiteral("loginctl"),
                    {QStringLiteral("kill-session"), QStringLiteral("--signal=SIGKILL")}};
        return {QStringLiteral("loginctl"), {QStringLiteral("terminate-session")}};
    }
    PowerCommand command{QStringLiteral("systemctl"), {}};
    // Forcing means applications cannot hold the shutdown back.
    if (forced)
        command.arguments.append(QStringLiteral("--check-inhibitors=no"));
    command.arguments.append(ActionName(action));
    return command;
}

QString RecordLine(quint32 flags)
{
    QString line = QStringLiteral("flags=") + QString::number(flags) + QStringLiteral(" action=") +
                   ActionName(ActionFor(flags));
    if (Forced(flags))
        line += QStringLiteral(" forced");
    return line;
}

bool ExitWindowsEx(quint32 flags, qint32 /*reason*/, int& errorNumber)
{
    errorNumber = 0;
    const bool isSet = qEnvironmentVariableIsSet("NCLMOD_POWER");
    const QByteArray value = qgetenv("NCLMOD_POWER");
    switch (PowerBackendFor(isSet ? &value : nullptr)) {
    case PowerBackendKind::Recording:
        return Record(QString::fromLocal8Bit(value.mid(RecordPrefix().size())), flags, errorNumber);
    case PowerBackendKind::Refusing:
        errorNumber = EPERM;
        return false;
    case PowerBackendKind::Real:
        break;
    }
    return RealExecute(flags, errorNumber);
}

ShutdownPrivilegeSteps EnableShutdownPrivilege()
{
    ShutdownPrivilegeSteps steps;
    quint64 capabilities = 0;
    if (!EffectiveCapabilities(capabilities, steps.tokenError)) {
        steps.lastError = steps.tokenError;
        return steps;
    }
    if ((capabilities & (quint64(1) << kCapSysBoot)) == 0)
        steps.adjustError = EPERM;
    steps.lastError = steps.adjustError;
    return steps;
}

} // namespace platform

#include "settings/StartupEntries.h"

#include "platform/DataFolder.h"
#include "platform/PrivateFile.h"
#include "platform/RegistryStore.h"
#include "platform/ShortPath.h"
#include "runtime/Trace.h"
#include "settings/AppState.h"
#include "settings/modRegistryTools.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace settings
{

namespace
{

const QString kRunKey = QStringLiteral("Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows");
const QString kRunValue = QStringLiteral("run");

bool IsWindowsNT()
{
    return App().PlatformFamily == QLatin1String("Windows NT");
}

QString ShellQuoted(const QString& text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

// The executable the launcher starts: this agent.
QString AgentExecutable()
{
    return QCoreApplication::instance()
               ? QCoreApplication::applicationFilePath()
               : QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
}

void WriteAutostartEntry(const QString& program)
{
    const QString path = AutostartFilePath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QString exec = program;
    exec.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    const QByteArray entry = QStringLiteral("[Desktop Entry]\n"
                                            "Type=Application\n"
                                            "Name=Nightcall Module\n"
                                            "Comment=Starts the Nightcall Module agent in the "
                                            "background\n"
                                            "Exec=\"%1\"\n"
                                            "Terminal=false\n"
                                            "X-GNOME-Autostart-enabled=true\n")
                                 .arg(exec)
                                 .toUtf8();
    QString error;
    if (!platform::ReplaceFile(path, entry, 0600, error))
        NCL_TRACE(QStringLiteral("Cannot write the autostart entry ") + path);
}

void RemoveAutostartEntry()
{
    QFile::remove(AutostartFilePath());
}

void WriteRunEntry(const QString& value)
{
    SetKeyValue(kRunKey, platform::HKEY_CURRENT_USER, kRunValue, value, platform::REG_SZ);
    if (value.isEmpty())
        RemoveAutostartEntry();
    else
        WriteAutostartEntry(value);
}

} // namespace

QString BackgroundProgramPath()
{
    return platform::DataPath(QStringLiteral("TdwnBkgd.exe"));
}

QString AutostartFilePath()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty())
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/autostart/nclmod.desktop");
}

bool EnsureBackgroundProgram()
{
    if (!platform::EnsureDataFolder())
        return false;
    // Written afresh each time start-up is switched on: a launcher found in
    // the folder is never trusted. The data folder is passed on so the agent
    // started at login uses the same store as the copy that set the entry.
    const QByteArray script =
        QStringLiteral("#!/bin/sh\n"
                       "# Starts the Nightcall Module agent in the background.\n"
                       "NCLMOD_HOME=%1 exec %2 background\n")
            .arg(ShellQuoted(platform::DataFolder()), ShellQuoted(AgentExecutable()))
            .toUtf8();
    QString error;
    if (platform::ReplaceFile(BackgroundProgramPath(), script, 0700, error))
        return true;
    NCL_TRACE(QStringLiteral("Cannot write the launcher ") + BackgroundProgramPath() +
              QStringLiteral(": ") + error);
    return false;
}

bool RunEntryMatches(const QString& expected, const QString& valueName, QString& value)
{
    if (!QueryValue(kRunKey, platform::HKEY_CURRENT_USER, valueName, value))
        value.clear();
    // Without our program there is nothing to match: an empty entry is "off".
    return !expected.isEmpty() && value == expected;
}

bool StartupEntryExists(const QString& appTitle)
{
    Q_UNUSED(appTitle);
    if (!IsWindowsNT())
        return false;
    QString value;
    return RunEntryMatches(platform::ShortPath(BackgroundProgramPath()), kRunValue, value);
}

void SaveStartupRegistrySetting(bool on, const QString& appTitle)
{
    Q_UNUSED(appTitle);
    if (!IsWindowsNT()) {
        NCL_TRACE(QStringLiteral("SaveStartupRegistrySetting: unknown O/S"));
        return;
    }
    if (on)
        EnsureBackgroundProgram();
    const QString exe = platform::ShortPath(BackgroundProgramPath());
    NCL_TRACE(QStringLiteral("Executable string for run (8.3): ") + exe);
    QString current;
    if (RunEntryMatches(exe, kRunValue, current)) {
        // The entry stands; make sure it also takes effect.
        if (on && !QFileInfo::exists(AutostartFilePath()))
            WriteAutostartEntry(exe);
        else if (!on)
            WriteRunEntry(QString());
    } else if (!current.isEmpty()) {
        if (on)
            NCL_TRACE(QStringLiteral("Cant set the auto startup action"));
    } else if (on && !exe.isEmpty()) {
        WriteRunEntry(exe);
    }
}

void RemoveStartupEntry(const QString& appTitle)
{
    Q_UNUSED(appTitle);
    if (!IsWindowsNT())
        return;
    QString value;
    if (RunEntryMatches(platform::ShortPath(BackgroundProgramPath()), kRunValue, value))
        WriteRunEntry(QString());
}

} // namespace settings

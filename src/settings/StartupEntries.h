#pragma once
// The automatic start-up entry behind the option SystemStartup: the per-user
// "run" value of HKEY_CURRENT_USER\Software\Microsoft\Windows NT\CurrentVersion\Windows,
// which names the family's background program "TdwnBkgd.exe" in the program
// folder by its short path. "Off" is an empty value; the entry is never deleted,
// and an entry owned by another program is never overwritten.
//
// On this platform the entry also takes effect: while it names our background
// program, an XDG autostart file ($XDG_CONFIG_HOME/autostart/nclmod.desktop)
// starts that program at login; emptying the entry removes the file. The
// background program is a small launcher script that starts this agent with
// the word "background"; it is created in the program folder when the entry
// is switched on.

#include <QString>

namespace settings
{

bool StartupEntryExists(const QString& appTitle);
void SaveStartupRegistrySetting(bool on, const QString& appTitle);
void RemoveStartupEntry(const QString& appTitle);
// True exactly when the value read equals the expected text (case-sensitive)
// and the expected text is not empty.
bool RunEntryMatches(const QString& expected, const QString& valueName, QString& value);

// Path of the background program in the program folder (whether it exists or not).
QString BackgroundProgramPath();
// Writes the launcher afresh (never trusting one already there); false when
// it cannot be written.
bool EnsureBackgroundProgram();
QString AutostartFilePath();

} // namespace settings

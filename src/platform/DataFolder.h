#pragma once
// The agent's program folder: where it keeps its registry store, logs and
// marker files. $NCLMOD_HOME when set; else /var/lib/nclmod for root; else
// $XDG_STATE_HOME/nclmod (~/.local/state/nclmod).

#include <QString>

namespace platform
{

QString DataFolder();
// Creates the folder when missing; false (with a reason) when it cannot.
bool EnsureDataFolder(QString* error = nullptr);
// Why the agent must not run from the folder, empty when it may: the folder
// is writable by group or others, or owned by another user than the agent's
// (root's folders are trusted too), as sshd's StrictModes judges a home.
// Anyone who could write it could plant files the agent reads (options,
// launcher) or symlinks it would write through.
QString FolderProblem(const QString& folder);
// A file in the program folder.
QString DataPath(const QString& fileName);
// "NCLmod: text" on standard error, each text once per process: the line a
// person sees when the folder, and so every log, cannot be written.
void TellOnStandardError(const QString& text);

} // namespace platform

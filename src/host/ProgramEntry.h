#pragma once
// The program's entry: command-line switches, module type, registry paths,
// the options read (with the first-run initialisation), and the run-mode
// decision.

#include <QString>
#include <QStringList>

namespace settings
{
class COptions;
}

namespace host
{

class frmMainEntSrvc;

struct CommandSwitches {
    bool once = false;
    bool removereg = false;
    bool background = false;
};

// Splits the command line at blanks and tabs into at most maxWords words.
QStringList GetCommandLine(const QStringList& arguments, int maxWords = 10);
// Applies the switch words in order; sets the debug state as a side effect.
CommandSwitches ApplySwitches(const QStringList& words);
// True when the file opens for reading, false only when it does not exist.
bool FileExists(const QString& path);
void ReadInitialOptions(const QString& path, settings::COptions& options);

// Refused: the data folder is not private to the agent's user; the reason
// has been said on standard error.
enum class MainResult { ShowWindow, RunOnceMode, Ended, Refused };

// The start-up sequence up to the run-mode decision. `arguments` excludes the
// program name; `executableName` decides the module type.
MainResult Main(const QStringList& arguments, const QString& executableName);
// Runs the once mode on a main window that the caller created.
void OnceMode(frmMainEntSrvc& form);

} // namespace host

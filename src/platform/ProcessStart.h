#pragma once
// Starting a program from a command line without waiting for it ("Shell").
//
// The command line is split into words as a POSIX shell splits them (blanks
// separate words; single quotes keep everything; double quotes keep all but
// \" \\ \$ \` and a backslash outside quotes takes the next character as it
// is). Nothing is expanded: no variables, no wildcards, no redirections.

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace platform
{

// False when a quote is left open or a backslash ends the line.
bool SplitCommandLine(const QString& commandLine, QStringList& words);

// Starts the program detached (it outlives the agent and is never waited for).
// False with errorNumber (an errno value) when the line is empty, cannot be
// split, or the program cannot be started.
bool Shell(const QString& commandLine, int& errorNumber);

} // namespace platform

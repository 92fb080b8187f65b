#pragma once
// Help shows the agent's help: an installed help page in the desktop's
// browser when there is one and a program to open it, otherwise a window of
// the program with the README's sections for users. About names the program
// and its version.

#include <QString>

class QWidget;

namespace host
{

// Always shows something; true when the help page was handed to an opener.
bool ShowHelp(QWidget* parent);
void ShowAbout(QWidget* parent);

// The README's part for users: what stands before its developer notes.
QString UserHelpText(const QString& readme);

} // namespace host

#pragma once
// What the program says about itself before and at start: the answers to
// --help, -h and --version (given without starting anything), the refusal of
// an unknown option, and the one line a foreground run or the journal shows
// when the agent starts serving.

#include <QString>
#include <QStringList>

namespace host
{

// Exit code for the run, or -1 when the words ask for no answer and the
// agent starts. `arguments` excludes the program name. Prints the usage or
// the version on standard output, an unknown option on standard error.
int AnswerInformationOptions(const QStringList& arguments, const QString& executableName);

// "NCLmod 1.0.0"
QString VersionText(const QString& programName);

// Role, transport, address and port, data folder and clock, in one line.
QString StartLine();

} // namespace host

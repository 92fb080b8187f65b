#pragma once
// Help opens the agent's help page in the desktop's browser; About names the
// program and its version.

class QWidget;

namespace host
{

// False when there is no help page or no browser took it.
bool ShowHelp(QWidget* parent);
void ShowAbout(QWidget* parent);

} // namespace host

#pragma once
// The menu commands' input and message boxes as Qt dialogs.

#include "host/MainMenuCommands.h"

class QWidget;

namespace host
{

class WidgetDialogs : public MenuDialogs
{
public:
    explicit WidgetDialogs(QWidget* parent) : m_parent(parent) {}

    bool InputBox(const QString& title, const QString& prompt, const QString& defaultText,
                  QString& answer) override;
    void MessageBox(const QString& text, const QString& title, Icon icon) override;
    // The yes/no question of the unload, with a warning icon.
    bool AskYesNo(const QString& text, const QString& title);

private:
    QWidget* m_parent;
};

} // namespace host

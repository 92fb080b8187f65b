#pragma once
// What the main window's menu commands do, apart from showing anything: the
// views call these and supply the input and message boxes, so the commands
// run (and are tested) without a window toolkit.

#include <QString>

namespace host
{

class frmMainEntSrvc;

// The boxes a menu command may show; a view fills them with real dialogs.
class MenuDialogs
{
public:
    enum class Icon { None, Information, Warning };

    virtual ~MenuDialogs() = default;
    // An input box; false when cancelled. `answer` holds what was typed.
    virtual bool InputBox(const QString& title, const QString& prompt, const QString& defaultText,
                          QString& answer) = 0;
    virtual void MessageBox(const QString& text, const QString& title, Icon icon) = 0;
};

class MainMenuCommands
{
public:
    MainMenuCommands(frmMainEntSrvc& form, MenuDialogs& dialogs);

    void mnuOptionsController_Click();
    void mnuOptionsContact_Click();
    void mnuOptionsPort_Click();
    // index 0 is "&NIST", index 2 is "&SNTP".
    void mnuOptionsProt_Click(int index);
    void mnuOptionsMAC_Click();
    void mnuOptionsStartup_Click();
    void mnuFileService_Click();

    // True when the answer is a usable port; otherwise `reason` says why.
    static bool ValidatePortEntry(const QString& answer, QString& reason);
    // An installed help page (NCL.html), "" when none is found.
    static QString HelpPage();
    static QString AboutText();

private:
    // A running service gets the new options; otherwise this copy's listener restarts.
    void ApplyListenerChange(bool moveToNextElement);

    frmMainEntSrvc& m_form;
    MenuDialogs& m_dialogs;
};

} // namespace host

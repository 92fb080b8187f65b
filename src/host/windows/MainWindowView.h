#pragma once
// The main window as the operator sees it: the status text, the service
// status box, the Status and Exit buttons and the menus, over the headless
// frmMainEntSrvc. Minimising hides it to the tray icon; closing it unloads
// the agent (after the question, when it starts with the system).

#include "host/MainMenuCommands.h"
#include "host/windows/WidgetDialogs.h"
#include "host/windows/frmSysTray.h"

#include <QMainWindow>
#include <QPointer>

class QAction;
class QLabel;
class QMenu;
class QPushButton;

namespace host
{

class frmMainEntSrvc;
class frmSvcOptions;

class MainWindowView : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindowView(frmMainEntSrvc& form, QWidget* parent = nullptr);

    frmMainEntSrvc& form;
    WidgetDialogs dialogs;
    MainMenuCommands commands;
    frmSysTray tray;

    QLabel* lblNISTLog;
    QLabel* lblSvcStatus;
    QLabel* lblNote;
    QPushButton* cmdStatus;
    QPushButton* cmdManual;

    QMenu* mnuFile;
    QAction* mnuFileService;
    QAction* mnuFileExit;
    QMenu* mnuOptions;
    QAction* mnuOptionsController;
    QAction* mnuOptionsContact;
    QMenu* mnuOptionsProtocol;
    QAction* mnuOptionsProt0; // "&NIST"
    QAction* mnuOptionsProt2; // "&SNTP"
    QAction* mnuOptionsPort;
    QAction* mnuOptionsMAC;
    QAction* mnuOptionsSvc;
    QAction* mnuOptionsStartup;
    QMenu* mnuHelp;
    QAction* mnuHelpTopics;
    QAction* mnuHelpAbout;

    // Shows the window and activates it: the first time adds the tray icon
    // (tip "Dorval Service"); every activation makes the window top-most,
    // runs the window's activation (which reads the service's state afresh)
    // and shows what it found.
    void Activate();
    // Shows the form's state.
    void Refresh();
    // Opens the service options window (one at a time).
    frmSvcOptions* ShowServiceOptions();

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildMenus();
    void BuildBody();
    void ShowFromTray();
    // The activation proper, each time the window becomes the active one.
    void Activated();
    // After "No" to the exit question: to the tray, or minimised without one.
    void GoToTray();
    // Runs a menu command and shows its outcome.
    void Run(void (MainMenuCommands::*command)());

    QPointer<frmSvcOptions> m_serviceOptions;
    bool m_activated = false;
    bool m_inActivation = false;
};

// True when this process should show windows: a display is there (Qt's
// platform is not offscreen or minimal, and DISPLAY or WAYLAND_DISPLAY is
// set) and the process is not running as a service.
bool WindowsWanted();

} // namespace host

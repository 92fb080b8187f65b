#include "host/windows/MainWindowView.h"

#include "host/frmMainEntSrvc.h"
#include "host/modStartStopSvc.h"
#include "host/windows/HelpAbout.h"
#include "host/windows/StatusColor.h"
#include "host/windows/frmSvcOptions.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace host
{

MainWindowView::MainWindowView(frmMainEntSrvc& mainForm, QWidget* parent)
    : QMainWindow(parent), form(mainForm), dialogs(this), commands(mainForm, dialogs),
      tray(mainForm)
{
    setObjectName(QStringLiteral("frmMainEntSrvc"));
    BuildMenus();
    BuildBody();
    form.AskYesNo = [this](const QString& text, const QString& title) {
        return dialogs.AskYesNo(text, title);
    };
    connect(&form, &frmMainEntSrvc::statusChanged, this, &MainWindowView::Refresh);
    connect(&tray, &frmSysTray::showRequested, this, &MainWindowView::ShowFromTray);
    connect(&form, &frmMainEntSrvc::minimiseRequested, this, &MainWindowView::GoToTray);
    Refresh();
}

void MainWindowView::BuildMenus()
{
    mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
    mnuFileService = mnuFile->addAction(QStringLiteral("&Register Service Module"));
    mnuFile->addSeparator();
    mnuFileExit = mnuFile->addAction(QStringLiteral("&Exit"));

    mnuOptions = menuBar()->addMenu(QStringLiteral("&Options"));
    mnuOptionsController = mnuOptions->addAction(QStringLiteral("&Set Controller Address"));
    mnuOptionsContact = mnuOptions->addAction(QStringLiteral("&Contact Controller"));
    mnuOptionsProtocol = mnuOptions->addMenu(QStringLiteral("&Protocol"));
    mnuOptionsProt0 = mnuOptionsProtocol->addAction(QStringLiteral("&NIST"));
    mnuOptionsProt2 = mnuOptionsProtocol->addAction(QStringLiteral("&SNTP"));
    mnuOptionsProt0->setCheckable(true);
    mnuOptionsProt2->setCheckable(true);
    mnuOptionsPort = mnuOptions->addAction(QStringLiteral("Port &Number"));
    mnuOptionsMAC = mnuOptions->addAction(QStringLiteral("&MAC address"));
    mnuOptionsSvc = mnuOptions->addAction(QStringLiteral("&Service.."));
    mnuOptionsStartup = mnuOptions->addAction(QStringLiteral("Startup &Automatically"));
    mnuOptionsStartup->setCheckable(true);

    mnuHelp = menuBar()->addMenu(QStringLiteral("&Help"));
    mnuHelpTopics = mnuHelp->addAction(QStringLiteral("Help &Topics"));
    mnuHelpAbout = mnuHelp->addAction(QStringLiteral("&About.."));

    connect(mnuFileService, &QAction::triggered, this,
            [this] { Run(&MainMenuCommands::mnuFileService_Click); });
    connect(mnuFileExit, &QAction::triggered, this, &QWidget::close);
    connect(mnuOptionsController, &QAction::triggered, this,
            [this] { Run(&MainMenuCommands::mnuOptionsController_Click); });
    connect(mnuOptionsContact, &QAction::triggered, this,
            [this] { Run(&MainMenuCommands::mnuOptionsContact_Click); });
    connect(mnuOptionsProt0, &QAction::triggered, this, [this] {
        commands.mnuOptionsProt_Click(0);
        Refresh();
    });
    connect(mnuOptionsProt2, &QAction::triggered, this, [this] {
        commands.mnuOptionsProt_Click(2);
        Refresh();
    });
    connect(mnuOptionsPort, &QAction::triggered, this,
            [this] { Run(&MainMenuCommands::mnuOptionsPort_Click); });
    connect(mnuOptionsMAC, &QAction::triggered, this,
            [this] { Run(&MainMenuCommands::mnuOptionsMAC_Click); });
    connect(mnuOptionsSvc, &QAction::triggered, this, &MainWindowView::ShowServiceOptions);
    connect(mnuOptionsStartup, &QAction::triggered, this,
            [this] { Run(&MainMenuCommands::mnuOptionsStartup_Click); });
    connect(mnuHelpTopics, &QAction::triggered, this, [this] { ShowHelp(this); });
    connect(mnuHelpAbout, &QAction::triggered, this, [this] { ShowAbout(this); });
}

void MainWindowView::BuildBody()
{
    lblNISTLog = new QLabel;
    lblNISTLog->setObjectName(QStringLiteral("lblNISTLog"));
    lblNISTLog->setWordWrap(true);
    lblNISTLog->setFrameShape(QFrame::Panel);
    lblNISTLog->setFrameShadow(QFrame::Sunken);
    lblNISTLog->setMinimumSize(340, 48);
    lblNISTLog->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    lblSvcStatus = new QLabel;
    lblSvcStatus->setObjectName(QStringLiteral("lblSvcStatus"));
    lblSvcStatus->setAlignment(Qt::AlignCenter);
    lblSvcStatus->setFrameShape(QFrame::Box);
    lblSvcStatus->setMinimumWidth(80);
    lblSvcStatus->setCursor(Qt::PointingHandCursor);
    lblSvcStatus->setToolTip(QStringLiteral("Service status: click to control the service"));
    lblSvcStatus->installEventFilter(this);

    lblNote = new QLabel(QStringLiteral("Click the coloured box to control the service."));
    lblNote->setObjectName(QStringLiteral("lblNote"));

    cmdStatus = new QPushButton(QStringLiteral("Status"));
    cmdManual = new QPushButton(QStringLiteral("Exit"));
    connect(cmdStatus, &QPushButton::clicked, this, [this] {
        form.StatusPoll();
        Refresh();
    });
    connect(cmdManual, &QPushButton::clicked, this, [this] {
        form.cmdManual_Click();
        Refresh();
    });

    auto* row = new QHBoxLayout;
    row->addWidget(lblSvcStatus);
    row->addWidget(lblNote, 1);
    row->addWidget(cmdStatus);
    row->addWidget(cmdManual);

    auto* body = new QWidget;
    auto* layout = new QVBoxLayout(body);
    layout->addWidget(lblNISTLog, 1);
    layout->addLayout(row);
    setCentralWidget(body);
}

void MainWindowView::Run(void (MainMenuCommands::*command)())
{
    (commands.*command)();
    Refresh();
}

void MainWindowView::Refresh()
{
    setWindowTitle(form.Caption.isEmpty() ? QStringLiteral("Nightcall Module") : form.Caption);
    lblNISTLog->setText(
        QString(form.lblNISTLog).replace(QLatin1String("\r\n"), QLatin1String("\n")));
    lblSvcStatus->setText(form.lblSvcStatus.isEmpty() ? QStringLiteral("Service")
                                                      : form.lblSvcStatus);
    PaintLabel(*lblSvcStatus, form.lblSvcStatusColor);
    lblSvcStatus->setVisible(form.lblSvcStatusVisible);
    lblNote->setVisible(form.lblNoteVisible);
    cmdStatus->setVisible(form.cmdStatusVisible);
    cmdManual->setVisible(form.cmdManualVisible);
    mnuFile->menuAction()->setVisible(form.mnuFileVisible);
    mnuFileService->setVisible(form.mnuFileServiceVisible);
    mnuOptionsSvc->setVisible(form.mnuOptionsSvcVisible);
    mnuOptionsStartup->setVisible(form.mnuOptionsStartupVisible);
    mnuOptionsStartup->setChecked(form.mnuOptionsStartupChecked);
    mnuOptionsProt0->setChecked(form.mnuOptionsProtChecked == 0);
    mnuOptionsProt2->setChecked(form.mnuOptionsProtChecked == 2);
}

void MainWindowView::Activate()
{
    if (!m_activated && !form.StartedAsService && !form.ServiceMode)
        tray.add_icon(QStringLiteral("Dorval Service"));
    m_activated = true;
    Activated();
    if (form.Minimised && tray.check_if_loaded()) {
        hide();
    } else {
        showNormal();
        raise();
        activateWindow();
    }
}

void MainWindowView::Activated()
{
    // Showing the window again below activates it once more: not nested.
    if (m_inActivation)
        return;
    m_inActivation = true;
    if (!form.StartedAsService && !(windowFlags() & Qt::WindowStaysOnTopHint)) {
        // Top-most, as the window has been at every activation; a change of
        // flags hides a shown window, so it is shown again.
        const bool shown = isVisible();
        setWindowFlag(Qt::WindowStaysOnTopHint, true);
        if (shown)
            show();
    }
    form.Form_Activate();
    Refresh();
    m_inActivation = false;
}

void MainWindowView::GoToTray()
{
    if (tray.check_if_loaded())
        hide();
    else
        showMinimized();
}

bool MainWindowView::event(QEvent* event)
{
    // Every activation after the first (which Activate runs itself); one that
    // comes late, once the window has gone to the tray or the task bar, is stale.
    if (event->type() == QEvent::WindowActivate && m_activated && !isMinimized() && isVisible())
        Activated();
    return QMainWindow::event(event);
}

frmSvcOptions* MainWindowView::ShowServiceOptions()
{
    if (!m_serviceOptions) {
        m_serviceOptions =
            new frmSvcOptions(kServiceName, &form, form.listener.CurrentInstance, this);
        m_serviceOptions->setAttribute(Qt::WA_DeleteOnClose);
        // The service may have changed; the main window's box follows on close.
        connect(m_serviceOptions, &QDialog::finished, this, [this] {
            form.lblSvcStatusColor = ServiceStateColor(kServiceName);
            Refresh();
        });
    }
    m_serviceOptions->show();
    m_serviceOptions->raise();
    return m_serviceOptions;
}

void MainWindowView::ShowFromTray()
{
    showNormal();
    raise();
    activateWindow();
}

void MainWindowView::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    form.Minimised = isMinimized();
    // Hidden only when the tray icon can bring it back.
    if (isMinimized() && tray.check_if_loaded())
        QMetaObject::invokeMethod(this, &QWidget::hide, Qt::QueuedConnection);
}

void MainWindowView::closeEvent(QCloseEvent* event)
{
    // The operator chose to stay: the form has sent the window to the tray.
    if (form.Form_Unload()) {
        event->ignore();
        return;
    }
    event->accept();
}

bool MainWindowView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == lblSvcStatus && event->type() == QEvent::MouseButtonRelease) {
        ShowServiceOptions();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool WindowsWanted()
{
    if (qEnvironmentVariableIsSet("NCLMOD_SERVICE_NAME"))
        return false;
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.startsWith("offscreen") || platform.startsWith("minimal"))
        return false;
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace host

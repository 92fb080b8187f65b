#include "host/windows/frmSysTray.h"

#include "host/frmMainEntSrvc.h"
#include "logging/DebugLog.h"
#include "settings/AppState.h"

#include <QApplication>
#include <QStyle>

namespace host
{

namespace
{

const QString kModule = QStringLiteral("modSysTray");
constexpr int kTwipsPerMessage = 15;

QIcon TrayPicture()
{
    QIcon icon = QIcon::fromTheme(QStringLiteral("preferences-system-time"));
    if (icon.isNull())
        icon = QApplication::style()->standardIcon(QStyle::SP_ComputerIcon);
    return icon;
}

} // namespace

frmSysTray::frmSysTray(frmMainEntSrvc& form, QObject* parent) : QObject(parent), m_form(form)
{
    setObjectName(QStringLiteral("frmSysTray"));
    picIcon.setIcon(TrayPicture());
    mnuLeftShow = mnuLeft.addAction(QStringLiteral("Show form"));
    mnuLeftExit = mnuLeft.addAction(QStringLiteral("Exit"));
    mnuRightOn = mnuRight.addAction(QStringLiteral("On"));
    mnuRightOff = mnuRight.addAction(QStringLiteral("Off"));
    mnuRightOn->setCheckable(true);
    mnuRightOff->setCheckable(true);
    mnuRightOn->setChecked(true);
    mnuRight.setTitle(QStringLiteral("Tray icon"));

    // The context menu offers what the left menu does, plus what a right
    // double click did: a manual time check. For the service module the
    // main button is "Exit", which the menu already has.
    contextMenu.addAction(mnuLeftShow);
    mnuManualCheck = contextMenu.addAction(QStringLiteral("Check time now"));
    mnuManualCheck->setVisible(settings::App().ModuleType != settings::ModuleType::ServiceModule);
    contextMenu.addSeparator();
    contextMenu.addMenu(&mnuRight);
    contextMenu.addSeparator();
    contextMenu.addAction(mnuLeftExit);
    picIcon.setContextMenu(&contextMenu);

    connect(mnuLeftShow, &QAction::triggered, this, &frmSysTray::mnuLeftShow_Click);
    connect(mnuLeftExit, &QAction::triggered, this, &frmSysTray::mnuLeftExit_Click);
    connect(mnuManualCheck, &QAction::triggered, this,
            [this] { picIcon_MouseMove(0, 0, WM_RBUTTONDBLCLK * kTwipsPerMessage, 0); });
    connect(mnuRightOn, &QAction::triggered, this, [this] { SetOnOff(true); });
    connect(mnuRightOff, &QAction::triggered, this, [this] { SetOnOff(false); });
    connect(&picIcon, &QSystemTrayIcon::activated, this, &frmSysTray::OnActivated);
}

frmSysTray::~frmSysTray()
{
    delete_icon();
}

bool frmSysTray::add_icon(const QString& tip)
{
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        logging::ReportError(logging::Problem, QStringLiteral("Add icon error"), 800, kModule,
                             QStringLiteral("nim_add_icon"), 800);
        return false;
    }
    picIcon.setToolTip(tip);
    picIcon.show();
    m_loaded = true;
    NCL_TRACE(QStringLiteral("Added icon OK to system tray"));
    return true;
}

bool frmSysTray::modify_icon(const QString& tip)
{
    if (!m_loaded && !add_icon(QStringLiteral("Tidewarden")))
        return false;
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        logging::ReportError(logging::Problem, QStringLiteral("Modify icon error"), 801, kModule,
                             QStringLiteral("nim_modify_icon"), 801);
        return false;
    }
    picIcon.setToolTip(tip);
    return true;
}

void frmSysTray::delete_icon()
{
    picIcon.hide();
    m_loaded = false;
}

void frmSysTray::refresh_icon()
{
    if (m_loaded)
        modify_icon(picIcon.toolTip());
}

int frmSysTray::MessageOfReason(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        return WM_LBUTTONDOWN;
    case QSystemTrayIcon::DoubleClick:
        return WM_LBUTTONDBLCLK;
    case QSystemTrayIcon::Context:
        return WM_RBUTTONUP;
    case QSystemTrayIcon::MiddleClick:
        return WM_MBUTTONDOWN;
    default:
        return WM_MOUSEMOVE;
    }
}

void frmSysTray::OnActivated(QSystemTrayIcon::ActivationReason reason)
{
    const int message = MessageOfReason(reason);
    picIcon_MouseMove(0, 0, message * kTwipsPerMessage, 0);
}

void frmSysTray::picIcon_MouseMove(int button, int shift, int x, int y)
{
    switch (x / kTwipsPerMessage) {
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
        return;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        mnuLeftShow_Click();
        return;
    case WM_RBUTTONDBLCLK:
        m_form.cmdManual_Click();
        return;
    default:
        break;
    }
    mnuLeftShow_Click();
    if (!logging::DebugOn)
        return;
    const qint64 second = QDateTime::currentSecsSinceEpoch();
    if (second == m_lastUnknownSecond)
        return;
    m_lastUnknownSecond = second;
    logging::WriteDebug(QStringLiteral("UNKNOWN MOUSE MOVE: ") + QStringLiteral(" Button:") +
                        QString::number(button) + QStringLiteral(" Shift:") +
                        QString::number(shift) + QStringLiteral(" X:") + QString::number(x) +
                        QStringLiteral(" Y:") + QString::number(y));
}

void frmSysTray::mnuLeftShow_Click()
{
    m_form.Minimised = false;
    Q_EMIT showRequested();
}

void frmSysTray::mnuLeftExit_Click()
{
    m_form.Form_Unload();
}

void frmSysTray::SetOnOff(bool on)
{
    mnuRightOn->setChecked(on);
    mnuRightOff->setChecked(!on);
    modify_icon(on ? QStringLiteral(" Shell_NotifyIcon is On ")
                   : QStringLiteral("Shell_NotifyIcon is Off"));
}

} // namespace host

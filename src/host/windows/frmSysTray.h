#pragma once
// The tray window: the agent's icon in the desktop's tray, its tip, its two
// small menus, and the mouse callbacks. Qt reports activations by reason;
// each reason is mapped onto the mouse message it stands for (left button
// down 513, left double click 515, right button up 517, ...), and the
// messages are handled as the callback table says.

#include <QDateTime>
#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

namespace host
{

class frmMainEntSrvc;

class frmSysTray : public QObject
{
    Q_OBJECT
public:
    // Mouse messages, as the callbacks carry them.
    static constexpr int WM_MOUSEMOVE = 512;
    static constexpr int WM_LBUTTONDOWN = 513;
    static constexpr int WM_LBUTTONUP = 514;
    static constexpr int WM_LBUTTONDBLCLK = 515;
    static constexpr int WM_RBUTTONDOWN = 516;
    static constexpr int WM_RBUTTONUP = 517;
    static constexpr int WM_RBUTTONDBLCLK = 518;
    static constexpr int WM_MBUTTONDOWN = 519;

    explicit frmSysTray(frmMainEntSrvc& form, QObject* parent = nullptr);
    ~frmSysTray() override;

    QSystemTrayIcon picIcon;
    QMenu mnuLeft;
    QAction* mnuLeftShow;
    QAction* mnuLeftExit;
    QMenu mnuRight;
    QAction* mnuRightOn;
    QAction* mnuRightOff;
    // The tray's context menu: what the right button offers.
    QMenu contextMenu;
    QAction* mnuManualCheck;

    // Reports error 800 and returns false when there is no tray to show it in.
    bool add_icon(const QString& tip);
    // Adds the icon first (tip "Tidewarden") when it is not there yet; error
    // 801 when there is no tray.
    bool modify_icon(const QString& tip);
    void delete_icon();
    void refresh_icon();
    bool check_if_loaded() const { return m_loaded; }
    QString Tip() const { return picIcon.toolTip(); }

    // The mouse message a Qt activation stands for.
    static int MessageOfReason(QSystemTrayIcon::ActivationReason reason);
    // The callback: x is in twips, 15 times the mouse message.
    void picIcon_MouseMove(int button, int shift, int x, int y);

Q_SIGNALS:
    // The main window should come up (restored from minimised).
    void showRequested();

private:
    void OnActivated(QSystemTrayIcon::ActivationReason reason);
    void mnuLeftShow_Click();
    void mnuLeftExit_Click();
    void SetOnOff(bool on);

    frmMainEntSrvc& m_form;
    bool m_loaded = false;
    // Second of the last "UNKNOWN MOUSE MOVE: " line: one line a second at most.
    qint64 m_lastUnknownSecond = -1;
};

} // namespace host

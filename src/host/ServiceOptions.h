#pragma once
// The service options window's logic, headless: the service's name and note,
// its status on the status colour, the Pause button that turns into
// "Continue", the focus hints, and the 5-second refresh that the first
// button command switches on. The view frmSvcOptions shows these fields and
// follows `changed`.

#include "host/modStartStopSvc.h"

#include <QObject>
#include <QString>
#include <QTimer>

namespace host
{

class frmMainEntSrvc;

class ServiceOptions : public QObject
{
    Q_OBJECT
public:
    enum class Button { Start, Stop, Pause, Status, Help, OK };

    explicit ServiceOptions(QObject* parent = nullptr);

    // What the main window hands over before the window is shown.
    void Setup(const QString& serviceName, frmMainEntSrvc* mainForm, qint16 currentInstance);

    QString lblSvcName;
    QString lblSvcNote;
    QString lblSvcStatus;
    quint32 lblSvcStatusColor = kColorGrey;
    QString lblStatus; // the hint line
    QString cmdSvcPauseCaption = QStringLiteral("Pa&use");
    bool cmdSvcPauseVisible = true;
    QTimer TimerSvc;

    frmMainEntSrvc* MainWindow() const { return m_mainForm; }
    qint16 CurrentInstance() const { return m_currentInstance; }

    void Form_Load();
    void cmdSvcStatus_Click();
    void cmdSvcStart_Click();
    void cmdSvcStop_Click();
    void cmdSvcPause_Click();
    void GotFocus(Button button);

Q_SIGNALS:
    void changed();

private:
    void StatusCommand();
    void ShowResult(const QString& text, qint16 index);
    bool ShowsContinue() const;

    QString m_serviceName;
    frmMainEntSrvc* m_mainForm = nullptr;
    qint16 m_currentInstance = 0;
};

} // namespace host

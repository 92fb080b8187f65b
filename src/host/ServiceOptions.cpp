#include "host/ServiceOptions.h"

namespace host
{

ServiceOptions::ServiceOptions(QObject* parent) : QObject(parent)
{
    TimerSvc.setInterval(5000);
    connect(&TimerSvc, &QTimer::timeout, this, &ServiceOptions::StatusCommand);
}

void ServiceOptions::Setup(const QString& serviceName, frmMainEntSrvc* mainForm,
                           qint16 currentInstance)
{
    m_serviceName = serviceName;
    m_mainForm = mainForm;
    m_currentInstance = currentInstance;
}

void ServiceOptions::Form_Load()
{
    lblSvcName = m_serviceName;
    lblSvcNote = QStringLiteral("Control of the ") + m_serviceName +
                 QStringLiteral(" service can also be done from the Control panel");
    StatusCommand();
}

void ServiceOptions::StatusCommand()
{
    qint16 index = 3;
    const QString text = ServiceStatus(QString(), m_serviceName, index);
    if (cmdSvcPauseVisible)
        cmdSvcPauseCaption = index == 1 ? QStringLiteral("Continue") : QStringLiteral("Pause");
    ShowResult(text, index);
}

void ServiceOptions::ShowResult(const QString& text, qint16 index)
{
    lblSvcStatus = text;
    lblSvcStatusColor = StatusColor(index);
    Q_EMIT changed();
}

bool ServiceOptions::ShowsContinue() const
{
    return cmdSvcPauseCaption == QLatin1String("Continue");
}

void ServiceOptions::cmdSvcStatus_Click()
{
    TimerSvc.start();
    StatusCommand();
}

void ServiceOptions::cmdSvcStart_Click()
{
    TimerSvc.start();
    qint16 index = 3;
    const QString text = ShowsContinue() ? ServiceContinue(QString(), m_serviceName, index)
                                         : ServiceStart(QString(), m_serviceName, index);
    ShowResult(text, index);
}

void ServiceOptions::cmdSvcPause_Click()
{
    TimerSvc.start();
    qint16 index = 3;
    const QString text = ShowsContinue() ? ServiceContinue(QString(), m_serviceName, index)
                                         : ServicePause(QString(), m_serviceName, index);
    ShowResult(text, index);
}

void ServiceOptions::cmdSvcStop_Click()
{
    TimerSvc.start();
    qint16 index = 3;
    const QString text = ServiceStop(QString(), m_serviceName, index);
    ShowResult(text, index);
}

void ServiceOptions::GotFocus(Button button)
{
    switch (button) {
    case Button::Stop:
        lblStatus = QStringLiteral("Stop the ") + m_serviceName + QStringLiteral(" service");
        break;
    case Button::Pause:
        lblStatus = QStringLiteral("Suspend the ") + m_serviceName + QStringLiteral(" service");
        break;
    case Button::Start:
        lblStatus = QStringLiteral("Start the ") + m_serviceName + QStringLiteral(" service");
        break;
    case Button::Status:
        lblStatus =
            QStringLiteral("Check if the ") + m_serviceName + QStringLiteral(" service is running");
        break;
    case Button::Help:
        lblStatus = QStringLiteral("Help for this screen");
        break;
    case Button::OK:
        lblStatus = QStringLiteral("Return to main screen");
        break;
    }
    Q_EMIT changed();
}

} // namespace host

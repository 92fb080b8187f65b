#include "host/ServiceControl.h"

#include "logging/DebugLog.h"
#include "platform/ServiceHost.h"

#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>

namespace host
{

ServiceControl::ServiceControl(QObject* parent)
    : QObject(parent), m_serviceName(qEnvironmentVariable("NCLMOD_SERVICE_NAME"))
{
}

ServiceControl::~ServiceControl() = default;

bool ServiceControl::StartService()
{
    if (!UnderServiceManager())
        return false;
    if (!m_host) {
        auto* host = new platform::ServiceHost(m_serviceName, this);
        QString why;
        if (!host->Open(&why)) {
            delete host;
            const QString text = QStringLiteral("Service ") + m_serviceName +
                                 QStringLiteral(" cannot start: ") + why;
            QTextStream(stderr) << "NCLmod: " << text << Qt::endl;
            logging::ReportError(logging::Error, text, 0, QStringLiteral("ServiceControl"),
                                 QStringLiteral("StartService"), 1);
            QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(1); });
            return false;
        }
        m_host = host;
        connect(m_host, &platform::ServiceHost::StopRequested, this, &ServiceControl::RaiseStop);
        connect(m_host, &platform::ServiceHost::PauseRequested, this, &ServiceControl::RaisePause);
        connect(m_host, &platform::ServiceHost::ContinueRequested, this,
                &ServiceControl::RaiseContinue);
        connect(m_host, &platform::ServiceHost::ControlRequested, this,
                [this](quint32 code) { Q_EMIT Control(int(code)); });
    }
    m_host->SetControlsAccepted(quint32(ControlsAccepted));
    m_host->SetState(platform::SERVICE_START_PENDING);
    QTimer::singleShot(0, this, &ServiceControl::RaiseStart);
    return true;
}

void ServiceControl::RaiseStart()
{
    bool success = false;
    Q_EMIT Start(&success);
    if (m_host && m_host->State() == platform::SERVICE_START_PENDING)
        m_host->SetState(success ? platform::SERVICE_RUNNING : platform::SERVICE_STOPPED);
}

void ServiceControl::RaiseStop()
{
    // A second SIGTERM while the first stop is under way changes nothing.
    if (m_stopRaised)
        return;
    m_stopRaised = true;
    if (m_host)
        m_host->SetState(platform::SERVICE_STOP_PENDING);
    Q_EMIT Stop();
}

void ServiceControl::RaisePause()
{
    bool success = false;
    Q_EMIT Pause(&success);
    if (m_host && m_host->State() == platform::SERVICE_PAUSE_PENDING)
        m_host->SetState(success ? platform::SERVICE_PAUSED : platform::SERVICE_RUNNING);
}

void ServiceControl::RaiseContinue()
{
    bool success = false;
    Q_EMIT Continue(&success);
    if (m_host && m_host->State() == platform::SERVICE_CONTINUE_PENDING)
        m_host->SetState(success ? platform::SERVICE_RUNNING : platform::SERVICE_PAUSED);
}

} // namespace host

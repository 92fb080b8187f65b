#include "host/ServiceControl.h"

#include <QTimer>

namespace host {

ServiceControl::ServiceControl(QObject* parent)
    : QObject(parent), m_serviceName(qEnvironmentVariable("NCLMOD_SERVICE_NAME"))
{
}

void ServiceControl::StartService()
{
    if (!UnderServiceManager())
        return;
    QTimer::singleShot(0, this, [this] {
        bool success = false;
        Q_EMIT Start(&success);
    });
}

void ServiceControl::RaiseStop()
{
    Q_EMIT Stop();
}

} // namespace host

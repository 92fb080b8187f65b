#include "host/ServiceRegistration.h"

#include "logging/DebugLog.h"
#include "platform/ServiceManager.h"
#include "platform/ShortPath.h"
#include "runtime/CurrentError.h"

namespace host
{

namespace
{

const QString kCouldNotOpenManager = QStringLiteral("Could not open Service Manager");

} // namespace

bool ServiceCreate(const QString& name, const QString& path)
{
    QString text;
    bool created = false;
    const platform::SC_HANDLE manager =
        platform::OpenSCManager(QString(), QString(), platform::SC_MANAGER_CREATE_SERVICE);
    if (!manager) {
        text = kCouldNotOpenManager;
    } else {
        const platform::SC_HANDLE service = platform::CreateService(
            manager, name, name, platform::SERVICE_ALL_ACCESS, platform::SERVICE_WIN32_OWN_PROCESS,
            platform::SERVICE_AUTO_START, platform::SERVICE_ERROR_NORMAL, path);
        if (!service) {
            text = QStringLiteral("Could not create Service at path ") + path;
        } else {
            text = QStringLiteral("OK");
            created = true;
            platform::CloseServiceHandle(service);
        }
        platform::CloseServiceHandle(manager);
    }
    NCL_TRACE(QStringLiteral("ServiceCreate Status: ") + text + QStringLiteral(" for ") + name);
    return created;
}

bool ServiceDelete(const QString& name)
{
    QString text;
    bool deleted = false;
    const platform::SC_HANDLE manager =
        platform::OpenSCManager(QString(), QString(), platform::SC_MANAGER_CREATE_SERVICE);
    if (!manager) {
        text = kCouldNotOpenManager;
    } else {
        const platform::SC_HANDLE service =
            platform::OpenService(manager, name, platform::SERVICE_ALL_ACCESS);
        if (!service) {
            text = QStringLiteral("Could not open Service ");
        } else {
            deleted = platform::DeleteService(service);
            text = deleted ? QStringLiteral("OK") : QStringLiteral("Could not delete Service ");
            platform::CloseServiceHandle(service);
        }
        platform::CloseServiceHandle(manager);
    }
    NCL_TRACE(QStringLiteral("ServiceDelete Status: ") + text + QStringLiteral(" for ") + name);
    return deleted;
}

bool RegisterService(const QString& name, const QString& command, const QString& executable)
{
    if (command == QLatin1String("INSTALL")) {
        const QString shortPath = platform::ShortPath(executable);
        NCL_TRACE(QStringLiteral("Registering: ") + name + QLatin1Char(' ') + shortPath +
                  QStringLiteral(" - CREATE") + QStringLiteral("..."));
        return ServiceCreate(name, shortPath);
    }
    NCL_TRACE(QStringLiteral("Registering: ") + name + QStringLiteral(" - DELETE") +
              QStringLiteral("..."));
    return ServiceDelete(name);
}

bool RegisterViaInstsrv(const QString& installer, const QString& name, const QString& command,
                        const QString& executable)
{
    const bool install = command == QLatin1String("INSTALL");
    const QString commandLine =
        platform::ShortPath(installer) + QLatin1Char(' ') + name + QLatin1Char(' ') +
        (install ? platform::ShortPath(executable) : QStringLiteral("REMOVE"));
    NCL_TRACE(QStringLiteral("Registering: ") + commandLine + QStringLiteral("..."));
    if (!RegisterService(name, install ? command : QStringLiteral("REMOVE"), executable)) {
        const quint32 error = platform::GetLastServiceError();
        rt::RaiseError(qint32(error), platform::ServiceErrorText(error));
        logging::ReportError(
            logging::Problem, QStringLiteral("Service registration failed: ") + commandLine, 0,
            QStringLiteral("modStartStopSvc"), QStringLiteral("RegisterViaInstsrv"), 1);
    }
    return true;
}

} // namespace host

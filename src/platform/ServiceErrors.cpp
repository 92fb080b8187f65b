#include "platform/ServiceErrors.h"

namespace platform
{

QString ServiceErrorText(quint32 error)
{
    switch (error) {
    case SVC_ERROR_SUCCESS:
        return QStringLiteral("The operation completed successfully.");
    case SVC_ERROR_FILE_NOT_FOUND:
        return QStringLiteral("The system cannot find the file specified.");
    case SVC_ERROR_ACCESS_DENIED:
        return QStringLiteral("Access is denied.");
    case SVC_ERROR_INVALID_HANDLE:
        return QStringLiteral("The handle is invalid.");
    case SVC_ERROR_INVALID_PARAMETER:
        return QStringLiteral("The parameter is incorrect.");
    case SVC_ERROR_INVALID_NAME:
        return QStringLiteral("The filename, directory name, or volume label syntax is "
                              "incorrect.");
    case SVC_ERROR_CANTWRITE:
        return QStringLiteral("The configuration registry key could not be written.");
    case SVC_ERROR_INVALID_SERVICE_CONTROL:
        return QStringLiteral("The requested control is not valid for this service.");
    case SVC_ERROR_SERVICE_REQUEST_TIMEOUT:
        return QStringLiteral("The service did not respond to the start or control request "
                              "in a timely fashion.");
    case SVC_ERROR_SERVICE_ALREADY_RUNNING:
        return QStringLiteral("An instance of the service is already running.");
    case SVC_ERROR_SERVICE_DISABLED:
        return QStringLiteral("The service cannot be started, either because it is disabled or "
                              "because it has no enabled devices associated with it.");
    case SVC_ERROR_SERVICE_DOES_NOT_EXIST:
        return QStringLiteral("The specified service does not exist as an installed service.");
    case SVC_ERROR_SERVICE_CANNOT_ACCEPT_CTRL:
        return QStringLiteral("The service cannot accept control messages at this time.");
    case SVC_ERROR_SERVICE_NOT_ACTIVE:
        return QStringLiteral("The service has not been started.");
    case SVC_ERROR_DATABASE_DOES_NOT_EXIST:
        return QStringLiteral("The database specified does not exist.");
    case SVC_ERROR_PROCESS_ABORTED:
        return QStringLiteral("The process terminated unexpectedly.");
    case SVC_ERROR_SERVICE_EXISTS:
        return QStringLiteral("The specified service already exists.");
    case SVC_RPC_S_SERVER_UNAVAILABLE:
        return QStringLiteral("The RPC server is unavailable.");
    default:
        return QStringLiteral("Service manager error %1.").arg(error);
    }
}

} // namespace platform

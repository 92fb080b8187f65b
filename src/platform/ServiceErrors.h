#pragma once
// Error numbers of the service manager, with the meaning the operators of
// these machines know from the Windows service tools.

#include <QString>
#include <QtGlobal>

namespace platform
{

enum ServiceError : quint32 {
    SVC_ERROR_SUCCESS = 0,
    SVC_ERROR_FILE_NOT_FOUND = 2,
    SVC_ERROR_ACCESS_DENIED = 5,
    SVC_ERROR_INVALID_HANDLE = 6,
    SVC_ERROR_INVALID_PARAMETER = 87,
    SVC_ERROR_INVALID_NAME = 123,
    SVC_ERROR_INVALID_SERVICE_CONTROL = 1052,
    SVC_ERROR_SERVICE_REQUEST_TIMEOUT = 1053,
    SVC_ERROR_SERVICE_ALREADY_RUNNING = 1056,
    SVC_ERROR_SERVICE_DISABLED = 1058,
    SVC_ERROR_SERVICE_DOES_NOT_EXIST = 1060,
    SVC_ERROR_SERVICE_CANNOT_ACCEPT_CTRL = 1061,
    SVC_ERROR_SERVICE_NOT_ACTIVE = 1062,
    SVC_ERROR_DATABASE_DOES_NOT_EXIST = 1065,
    SVC_ERROR_PROCESS_ABORTED = 1067,
    SVC_ERROR_SERVICE_EXISTS = 1073,
    SVC_ERROR_CANTWRITE = 1013,
    SVC_RPC_S_SERVER_UNAVAILABLE = 1722,
};

// The error's meaning in words ("The specified service does not exist as an
// installed service."); a generic text for a number not listed.
QString ServiceErrorText(quint32 error);

} // namespace platform

#pragma once
// The service manager: the service control calls the agent makes, over our
// own registrations and processes.
//
// A registration lives in the registry store under
// HKLM\SYSTEM\CurrentControlSet\Services\<name> (ImagePath, DisplayName, Type,
// Start, ErrorControl, ObjectName). Starting a service launches its image
// detached, in its own session, with NCLMOD_SERVICE_NAME=<name> and
// NCLMOD_HOME=<data folder> in its environment and its output appended to
// "ServiceOutput.txt" in the data folder. A running service answers on its
// control socket (ServiceHost); its state is what it last reported, as long
// as its process is alive.
//
// Handles carry the access granted at open; a call without the right fails
// with access denied. Every failing call sets the last service error.

#include "platform/ServiceErrors.h"
#include "platform/ServiceRuntime.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace platform
{

using SC_HANDLE = quintptr; // 0 is no handle

// Manager access rights.
constexpr quint32 SC_MANAGER_CONNECT = 0x0001;
constexpr quint32 SC_MANAGER_CREATE_SERVICE = 0x0002;
constexpr quint32 SC_MANAGER_ENUMERATE_SERVICE = 0x0004;
constexpr quint32 SC_MANAGER_ALL_ACCESS = 0xF003F;

// Service access rights.
constexpr quint32 SERVICE_QUERY_CONFIG = 0x0001;
constexpr quint32 SERVICE_CHANGE_CONFIG = 0x0002;
constexpr quint32 SERVICE_QUERY_STATUS = 0x0004;
constexpr quint32 SERVICE_START = 0x0010;
constexpr quint32 SERVICE_STOP = 0x0020;
constexpr quint32 SERVICE_PAUSE_CONTINUE = 0x0040;
constexpr quint32 SERVICE_INTERROGATE = 0x0080;
constexpr quint32 SERVICE_USER_DEFINED_CONTROL = 0x0100;
constexpr quint32 SERVICE_DELETE = 0x10000;
constexpr quint32 SERVICE_ALL_ACCESS = 0xF01FF;
constexpr quint32 GENERIC_READ = 0x80000000u;
constexpr quint32 GENERIC_WRITE = 0x40000000u;
constexpr quint32 GENERIC_EXECUTE = 0x20000000u;
constexpr quint32 GENERIC_ALL = 0x10000000u;

// Controls.
constexpr quint32 SERVICE_CONTROL_STOP = 1;
constexpr quint32 SERVICE_CONTROL_PAUSE = 2;
constexpr quint32 SERVICE_CONTROL_CONTINUE = 3;
constexpr quint32 SERVICE_CONTROL_INTERROGATE = 4;

// Registration values.
constexpr quint32 SERVICE_WIN32_OWN_PROCESS = 0x10;
constexpr quint32 SERVICE_AUTO_START = 2;
constexpr quint32 SERVICE_DEMAND_START = 3;
constexpr quint32 SERVICE_DISABLED = 4;
constexpr quint32 SERVICE_ERROR_NORMAL = 1;

struct SERVICE_STATUS {
    quint32 dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    quint32 dwCurrentState = SERVICE_STOPPED;
    quint32 dwControlsAccepted = 0;
    quint32 dwWin32ExitCode = 0;
    quint32 dwServiceSpecificExitCode = 0;
    quint32 dwCheckPoint = 0;
    quint32 dwWaitHint = 0;
    qint64 dwProcessId = 0; // the running service's process, 0 when stopped
};

// The registry key of a service's registration, below HKLM.
QString ServiceKeyPath(const QString& serviceName);

// machine: "" (or this computer's name) for the local manager; database: ""
// or "ServicesActive".
SC_HANDLE OpenSCManager(const QString& machine, const QString& database, quint32 access);
SC_HANDLE OpenService(SC_HANDLE manager, const QString& serviceName, quint32 access);
bool CloseServiceHandle(SC_HANDLE handle);

bool QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS& status);
// Sends a control and gives the status the service answered with. Stop, pause,
// continue and interrogate are 1 to 4; user-defined controls are 128 to 255.
bool ControlService(SC_HANDLE service, quint32 control, SERVICE_STATUS& status);
// Launches the service and waits until it reports itself (or its process ends).
bool StartService(SC_HANDLE service, const QStringList& arguments = {});
SC_HANDLE CreateService(SC_HANDLE manager, const QString& serviceName, const QString& displayName,
                        quint32 access, quint32 serviceType, quint32 startType,
                        quint32 errorControl, const QString& binaryPath);
bool DeleteService(SC_HANDLE service);

// The image path of a registration ("" when there is none).
QString ServiceImagePath(const QString& serviceName);

quint32 GetLastServiceError();

// How long StartService waits for the launched service to report itself.
void SetServiceStartTimeoutForTesting(int milliseconds);

} // namespace platform

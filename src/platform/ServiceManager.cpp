#include "platform/ServiceManager.h"

#include "platform/DataFolder.h"
#include "platform/PrivateFile.h"
#include "platform/RegistryStore.h"
#include "platform/ServiceChannel.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QHash>
#include <QHostInfo>
#include <QProcess>
#include <QTimer>

#include <csignal>
#include <unistd.h>

namespace platform
{

namespace
{

constexpr quint32 READ_CONTROL = 0x20000;
constexpr quint32 SERVICE_ENUMERATE_DEPENDENTS = 0x0008;

// Rights that change the registrations or the data folder.
constexpr quint32 kManagerWriteRights = SC_MANAGER_CREATE_SERVICE | 0x0020 | 0x0008;
constexpr quint32 kServiceWriteRights = SERVICE_CHANGE_CONFIG | SERVICE_START | SERVICE_DELETE;

struct HandleData {
    bool manager = false;
    quint32 granted = 0;
    QString serviceName;
};

QHash<SC_HANDLE, HandleData>& Handles()
{
    static QHash<SC_HANDLE, HandleData> handles;
    return handles;
}

SC_HANDLE g_nextHandle = 0x1000;
quint32 g_lastError = 0;
int g_startTimeoutMs = 15000;

bool Fail(quint32 error)
{
    g_lastError = error;
    return false;
}

SC_HANDLE FailHandle(quint32 error)
{
    g_lastError = error;
    return 0;
}

SC_HANDLE NewHandle(const HandleData& data)
{
    const SC_HANDLE handle = g_nextHandle++;
    Handles().insert(handle, data);
    g_lastError = 0;
    return handle;
}

quint32 MapManagerRights(quint32 access)
{
    quint32 rights = access & 0x000FFFFFu;
    if (access & GENERIC_READ)
        rights |= READ_CONTROL | SC_MANAGER_ENUMERATE_SERVICE | 0x0010;
    if (access & GENERIC_WRITE)
        rights |= READ_CONTROL | SC_MANAGER_CREATE_SERVICE | 0x0020;
    if (access & GENERIC_EXECUTE)
        rights |= READ_CONTROL | SC_MANAGER_CONNECT | 0x0008;
    if (access & GENERIC_ALL)
        rights |= SC_MANAGER_ALL_ACCESS;
    return rights;
}

quint32 MapServiceRights(quint32 access)
{
    quint32 rights = access & 0x000FFFFFu;
    if (access & GENERIC_READ)
        rights |= READ_CONTROL | SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_INTERROGATE |
                  SERVICE_ENUMERATE_DEPENDENTS;
    if (access & GENERIC_WRITE)
        rights |= READ_CONTROL | SERVICE_CHANGE_CONFIG;
    if (access & GENERIC_EXECUTE)
        rights |= READ_CONTROL | SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE |
                  SERVICE_USER_DEFINED_CONTROL;
    if (access & GENERIC_ALL)
        rights |= SERVICE_ALL_ACCESS;
    return rights;
}

// Whoever may write the data folder may change registrations and start services.
bool MayWrite()
{
    return EnsureDataFolder() && QFileInfo(DataFolder()).isWritable();
}

bool LocalMachine(const QString& machine)
{
    QString name = machine;
    while (name.startsWith(QLatin1Char('\\')))
        name.remove(0, 1);
    return name.isEmpty() || name == QLatin1String(".") ||
           name.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
           name.compare(QHostInfo::localHostName(), Qt::CaseInsensitive) == 0;
}

bool ValidServiceName(const QString& name)
{
    return !name.isEmpty() && name.size() <= 256 && !name.contains(QLatin1Char('/')) &&
           !name.contains(QLatin1Char('\\')) && !name.contains(QLatin1Char('\n')) &&
           !name.contains(QChar(0));
}

bool RegistrationExists(const QString& name)
{
    HKEY key = 0;
    if (Registry().OpenKey(HKEY_LOCAL_MACHINE, ServiceKeyPath(name), key) != ERROR_SUCCESS)
        return false;
    Registry().CloseKey(key);
    return true;
}

bool ReadDword(const QString& name, const QString& valueName, quint32& value)
{
    HKEY key = 0;
    if (Registry().OpenKey(HKEY_LOCAL_MACHINE, ServiceKeyPath(name), key) != ERROR_SUCCESS)
        return false;
    quint32 type = 0;
    quint32 size = 0;
    QByteArray data;
    const qint32 status = Registry().QueryValue(key, valueName, type, size, &data);
    Registry().CloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_DWORD)
        return false;
    value = DwordOf(data);
    return true;
}

// The service handle's data when the handle is one and holds the right.
const HandleData* ServiceHandle(SC_HANDLE handle, quint32 right)
{
    const auto it = Handles().constFind(handle);
    if (it == Handles().constEnd() || it->manager) {
        g_lastError = SVC_ERROR_INVALID_HANDLE;
        return nullptr;
    }
    if ((it->granted & right) != right) {
        g_lastError = SVC_ERROR_ACCESS_DENIED;
        return nullptr;
    }
    return &*it;
}

void FillStatus(const ServiceRuntimeRecord& record, quint32 state, SERVICE_STATUS& status)
{
    status = SERVICE_STATUS();
    status.dwCurrentState = state;
    if (state != SERVICE_STOPPED) {
        status.dwControlsAccepted = record.controlsAccepted;
        status.dwProcessId = record.process.pid;
    }
}

// The access right a control needs; 0 for a control that cannot be sent.
quint32 ControlRight(quint32 control)
{
    if (control == SERVICE_CONTROL_STOP)
        return SERVICE_STOP;
    if (control == SERVICE_CONTROL_PAUSE || control == SERVICE_CONTROL_CONTINUE)
        return SERVICE_PAUSE_CONTINUE;
    if (control == SERVICE_CONTROL_INTERROGATE)
        return SERVICE_INTERROGATE;
    if (control >= 6 && control <= 10) // parameter and binding changes
        return SERVICE_PAUSE_CONTINUE;
    if (control >= 128 && control <= 255)
        return SERVICE_USER_DEFINED_CONTROL;
    return 0;
}

void WaitStep(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

// Waits until the launched process reports the end of its start, or ends.
quint32 AwaitServiceReport(const QString& name, const ProcessIdentity& launched)
{
    QDeadlineTimer deadline(g_startTimeoutMs);
    for (;;) {
        ServiceRuntimeRecord record;
        if (ReadServiceRuntime(name, record) && record.process.pid == launched.pid &&
            ProcessAlive(record.process) && !record.socketName.isEmpty() &&
            record.state != SERVICE_START_PENDING)
            return record.state == SERVICE_STOPPED ? quint32(SVC_ERROR_PROCESS_ABORTED) : 0u;
        if (!ProcessAlive(launched))
            return SVC_ERROR_PROCESS_ABORTED;
        if (deadline.hasExpired()) {
            // A process that never became the service must not run on untracked.
            ::kill(pid_t(launched.pid), SIGKILL);
            return SVC_ERROR_SERVICE_REQUEST_TIMEOUT;
        }
        WaitStep(20);
    }
}

} // namespace

QString ServiceKeyPath(const QString& serviceName)
{
    return QStringLiteral("SYSTEM\\CurrentControlSet\\Services\\") + serviceName;
}

SC_HANDLE OpenSCManager(const QString& machine, const QString& database, quint32 access)
{
    if (!LocalMachine(machine))
        return FailHandle(SVC_RPC_S_SERVER_UNAVAILABLE);
    if (!database.isEmpty() &&
        database.compare(QLatin1String("ServicesActive"), Qt::CaseInsensitive) != 0)
        return FailHandle(SVC_ERROR_DATABASE_DOES_NOT_EXIST);
    const quint32 rights = MapManagerRights(access);
    if ((rights & kManagerWriteRights) && !MayWrite())
        return FailHandle(SVC_ERROR_ACCESS_DENIED);
    HandleData data;
    data.manager = true;
    data.granted = rights | SC_MANAGER_CONNECT;
    return NewHandle(data);
}

SC_HANDLE OpenService(SC_HANDLE manager, const QString& serviceName, quint32 access)
{
    const auto it = Handles().constFind(manager);
    if (it == Handles().constEnd() || !it->manager)
        return FailHandle(SVC_ERROR_INVALID_HANDLE);
    if (!ValidServiceName(serviceName))
        return FailHandle(SVC_ERROR_INVALID_NAME);
    if (!RegistrationExists(serviceName))
        return FailHandle(SVC_ERROR_SERVICE_DOES_NOT_EXIST);
    const quint32 rights = MapServiceRights(access);
    if ((rights & kServiceWriteRights) && !MayWrite())
        return FailHandle(SVC_ERROR_ACCESS_DENIED);
    HandleData data;
    data.granted = rights;
    data.serviceName = serviceName;
    return NewHandle(data);
}

bool CloseServiceHandle(SC_HANDLE handle)
{
    if (Handles().remove(handle) == 0)
        return Fail(SVC_ERROR_INVALID_HANDLE);
    return true;
}

bool QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS& status)
{
    const HandleData* data = ServiceHandle(service, SERVICE_QUERY_STATUS);
    if (!data)
        return false;
    ServiceRuntimeRecord record;
    const quint32 state = LiveServiceState(data->serviceName, &record);
    FillStatus(record, state, status);
    g_lastError = 0;
    return true;
}

bool ControlService(SC_HANDLE service, quint32 control, SERVICE_STATUS& status)
{
    const quint32 right = ControlRight(control);
    if (right == 0)
        return Fail(SVC_ERROR_INVALID_PARAMETER);
    const HandleData* data = ServiceHandle(service, right);
    if (!data)
        return false;
    const QString name = data->serviceName;
    ServiceRuntimeRecord record;
    const quint32 state = LiveServiceState(name, &record);
    FillStatus(record, state, status);
    if (state == SERVICE_STOPPED)
        return Fail(SVC_ERROR_SERVICE_NOT_ACTIVE);
    if (record.socketName.isEmpty())
        return Fail(SVC_ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    ServiceReply reply;
    const quint32 error = SendServiceControl(record.socketName, control, reply);
    if (error != 0) {
        // A socket that is gone while the record still names a live process:
        // the service is on its way out.
        if (error == SVC_ERROR_SERVICE_NOT_ACTIVE)
            FillStatus(record, LiveServiceState(name, &record), status);
        return Fail(error);
    }
    status.dwCurrentState = reply.state;
    status.dwControlsAccepted = reply.controlsAccepted;
    g_lastError = 0;
    return true;
}

bool StartService(SC_HANDLE service, const QStringList& arguments)
{
    const HandleData* data = ServiceHandle(service, SERVICE_START);
    if (!data)
        return false;
    const QString name = data->serviceName;
    quint32 startType = SERVICE_AUTO_START;
    if (ReadDword(name, QStringLiteral("Start"), startType) && startType == SERVICE_DISABLED)
        return Fail(SVC_ERROR_SERVICE_DISABLED);
    QStringList command = QProcess::splitCommand(ServiceImagePath(name));
    if (command.isEmpty())
        return Fail(SVC_ERROR_FILE_NOT_FOUND);
    const QFileInfo image(command.takeFirst());
    if (!image.isFile() || !image.isExecutable())
        return Fail(SVC_ERROR_FILE_NOT_FOUND);
    if (LiveServiceState(name) != SERVICE_STOPPED || DataFolderLockBusy())
        return Fail(SVC_ERROR_SERVICE_ALREADY_RUNNING);

    QProcess process;
    process.setProgram(image.absoluteFilePath());
    process.setArguments(command + arguments);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("NCLMOD_SERVICE_NAME"), name);
    environment.insert(QStringLiteral("NCLMOD_HOME"), DataFolder());
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(DataFolder());
    process.setStandardInputFile(QProcess::nullDevice());
    // The output file is opened here, without following a planted symlink,
    // and handed to the service through this process's descriptor of it.
    const int output =
        OpenFileForWriting(DataPath(QStringLiteral("ServiceOutput.txt")), WriteMode::Append);
    const QString through =
        output >= 0 ? QStringLiteral("/proc/self/fd/%1").arg(output) : QProcess::nullDevice();
    process.setStandardOutputFile(through, QIODevice::Append);
    process.setStandardErrorFile(through, QIODevice::Append);
    qint64 pid = 0;
    const bool started = process.startDetached(&pid) && pid > 0;
    if (output >= 0)
        ::close(output);
    if (!started)
        return Fail(SVC_ERROR_FILE_NOT_FOUND);
    const ProcessIdentity launched = IdentifyProcess(pid);
    if (launched.pid == 0)
        return Fail(SVC_ERROR_PROCESS_ABORTED);
    const quint32 error = AwaitServiceReport(name, launched);
    if (error != 0)
        return Fail(error);
    g_lastError = 0;
    return true;
}

SC_HANDLE CreateService(SC_HANDLE manager, const QString& serviceName, const QString& displayName,
                        quint32 access, quint32 serviceType, quint32 startType,
                        quint32 errorControl, const QString& binaryPath)
{
    const auto it = Handles().constFind(manager);
    if (it == Handles().constEnd() || !it->manager)
        return FailHandle(SVC_ERROR_INVALID_HANDLE);
    if (!(it->granted & SC_MANAGER_CREATE_SERVICE))
        return FailHandle(SVC_ERROR_ACCESS_DENIED);
    if (!ValidServiceName(serviceName))
        return FailHandle(SVC_ERROR_INVALID_NAME);
    if (binaryPath.trimmed().isEmpty() || startType > SERVICE_DISABLED)
        return FailHandle(SVC_ERROR_INVALID_PARAMETER);
    if (RegistrationExists(serviceName))
        return FailHandle(SVC_ERROR_SERVICE_EXISTS);
    RegistryStore& store = Registry();
    HKEY key = 0;
    if (store.CreateKey(HKEY_LOCAL_MACHINE, ServiceKeyPath(serviceName), key) != ERROR_SUCCESS)
        return FailHandle(SVC_ERROR_CANTWRITE);
    const QString display = displayName.isEmpty() ? serviceName : displayName;
    const bool written =
        store.SetValue(key, QStringLiteral("ImagePath"), REG_SZ, SzBytes(binaryPath)) == 0 &&
        store.SetValue(key, QStringLiteral("DisplayName"), REG_SZ, SzBytes(display)) == 0 &&
        store.SetValue(key, QStringLiteral("Type"), REG_DWORD, DwordBytes(serviceType)) == 0 &&
        store.SetValue(key, QStringLiteral("Start"), REG_DWORD, DwordBytes(startType)) == 0 &&
        store.SetValue(key, QStringLiteral("ErrorControl"), REG_DWORD, DwordBytes(errorControl)) ==
            0 &&
        store.SetValue(key, QStringLiteral("ObjectName"), REG_SZ,
                       SzBytes(QStringLiteral("LocalSystem"))) == 0;
    store.CloseKey(key);
    if (!written) {
        store.DeleteKey(HKEY_LOCAL_MACHINE, ServiceKeyPath(serviceName));
        return FailHandle(SVC_ERROR_CANTWRITE);
    }
    HandleData data;
    data.granted = MapServiceRights(access);
    data.serviceName = serviceName;
    return NewHandle(data);
}

bool DeleteService(SC_HANDLE service)
{
    const HandleData* data = ServiceHandle(service, SERVICE_DELETE);
    if (!data)
        return false;
    const QString name = data->serviceName;
    if (!RegistrationExists(name))
        return Fail(SVC_ERROR_SERVICE_DOES_NOT_EXIST);
    if (Registry().DeleteKey(HKEY_LOCAL_MACHINE, ServiceKeyPath(name)) != ERROR_SUCCESS)
        return Fail(SVC_ERROR_CANTWRITE);
    // A running service keeps its record: it is still seen if registered again.
    if (LiveServiceState(name) == SERVICE_STOPPED)
        RemoveServiceRuntime(name);
    g_lastError = 0;
    return true;
}

QString ServiceImagePath(const QString& serviceName)
{
    HKEY key = 0;
    if (Registry().OpenKey(HKEY_LOCAL_MACHINE, ServiceKeyPath(serviceName), key) != ERROR_SUCCESS)
        return {};
    quint32 type = 0;
    quint32 size = 0;
    QByteArray data;
    const qint32 status =
        Registry().QueryValue(key, QStringLiteral("ImagePath"), type, size, &data);
    Registry().CloseKey(key);
    return status == ERROR_SUCCESS && type == REG_SZ ? SzText(data) : QString();
}

quint32 GetLastServiceError()
{
    return g_lastError;
}

void SetServiceStartTimeoutForTesting(int milliseconds)
{
    g_startTimeoutMs = milliseconds;
}

} // namespace platform

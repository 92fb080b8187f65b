#include "host/modStartStopSvc.h"

#include "logging/DebugLog.h"
#include "platform/ServiceManager.h"
#include "runtime/CurrentError.h"
#include "schedule/Pauses.h"
#include "settings/AppState.h"
#include "settings/OptionStore.h"

namespace host
{

namespace
{

const QString kModule = QStringLiteral("modStartStopSvc");
const QString kCouldNotOpenManager = QStringLiteral("Could not open Service Manager");
const QString kCouldNotOpenService = QStringLiteral("Could not open Service");

// Closes a handle of the service manager when it goes.
class ScHandle
{
public:
    explicit ScHandle(platform::SC_HANDLE handle) : m_handle(handle) {}
    ~ScHandle()
    {
        if (m_handle)
            platform::CloseServiceHandle(m_handle);
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    platform::SC_HANDLE get() const { return m_handle; }
    explicit operator bool() const { return m_handle != 0; }

private:
    platform::SC_HANDLE m_handle;
};

struct StateText {
    QString text;
    qint16 index;
};

// Text and index of a current state; an unknown state has no text and keeps the index.
bool StateTextOf(quint32 state, StateText& out)
{
    switch (state) {
    case platform::SERVICE_STOPPED:
        out = {QStringLiteral("Stopped"), 2};
        return true;
    case platform::SERVICE_START_PENDING:
        out = {QStringLiteral("Start Pending"), 0};
        return true;
    case platform::SERVICE_STOP_PENDING:
        out = {QStringLiteral("Stop Pending"), 2};
        return true;
    case platform::SERVICE_RUNNING:
        out = {QStringLiteral("Running"), 0};
        return true;
    case platform::SERVICE_CONTINUE_PENDING:
        out = {QStringLiteral("Coninue Pending"), 0};
        return true;
    case platform::SERVICE_PAUSE_PENDING:
        out = {QStringLiteral("Pause Pending"), 1};
        return true;
    case platform::SERVICE_PAUSED:
        out = {QStringLiteral("Paused"), 1};
        return true;
    default:
        return false;
    }
}

enum class Operation { Pause, Continue, Start, Stop };

struct OperationTexts {
    const char* name;
    const char* failure;
    qint16 successIndex;
};

OperationTexts TextsOf(Operation operation)
{
    switch (operation) {
    case Operation::Pause:
        return {"ServicePause", "Failed to Pause", 1};
    case Operation::Continue:
        return {"ServiceContinue", "Failed to Continue", 0};
    case Operation::Start:
        return {"ServiceStart", "Failed to Start", 0};
    case Operation::Stop:
    default:
        return {"ServiceStop", "Failed to Stop", 2};
    }
}

bool Perform(Operation operation, platform::SC_HANDLE service)
{
    platform::SERVICE_STATUS status;
    switch (operation) {
    case Operation::Pause:
        return platform::ControlService(service, platform::SERVICE_CONTROL_PAUSE, status);
    case Operation::Continue:
        return platform::ControlService(service, platform::SERVICE_CONTROL_CONTINUE, status);
    case Operation::Start:
        return platform::StartService(service);
    case Operation::Stop:
    default:
        return platform::ControlService(service, platform::SERVICE_CONTROL_STOP, status);
    }
}

QString RunOperation(Operation operation, const QString& machine, const QString& service,
                     qint16& index)
{
    const OperationTexts texts = TextsOf(operation);
    QString text;
    {
        ScHandle manager(platform::OpenSCManager(machine, QStringLiteral("ServicesActive"),
                                                 platform::SC_MANAGER_ALL_ACCESS));
        if (!manager) {
            index = 3;
            text = kCouldNotOpenManager;
        } else {
            ScHandle handle(
                platform::OpenService(manager.get(), service, platform::SERVICE_ALL_ACCESS));
            if (!handle) {
                index = 3;
                text = kCouldNotOpenService;
            } else if (Perform(operation, handle.get())) {
                index = texts.successIndex;
                text = QStringLiteral("OK");
            } else {
                index = 3;
                text = QString::fromLatin1(texts.failure);
            }
        }
    }
    NCL_TRACE(QString::fromLatin1(texts.name) + QStringLiteral(" Status: ") + text);
    return text;
}

// The access right a control code needs; 0 for a code that is never sent.
quint32 RightForCode(qint32 code)
{
    if (code == 1 || code == 5)
        return platform::SERVICE_STOP;
    if (code == 9)
        return platform::SERVICE_START;
    if (code == 2 || code == 3)
        return platform::SERVICE_PAUSE_CONTINUE;
    if (code == 4)
        return platform::SERVICE_INTERROGATE;
    if (code >= 128 && code <= 255)
        return platform::SERVICE_USER_DEFINED_CONTROL;
    return 0;
}

} // namespace

QString ServiceStatus(const QString& machine, const QString& service, qint16& index)
{
    ScHandle manager(platform::OpenSCManager(machine, QString(), platform::SC_MANAGER_CONNECT));
    if (!manager) {
        index = 3;
        return kCouldNotOpenManager;
    }
    ScHandle handle(platform::OpenService(manager.get(), service, platform::GENERIC_READ));
    if (!handle) {
        index = 3;
        return kCouldNotOpenService;
    }
    platform::SERVICE_STATUS status;
    if (!platform::QueryServiceStatus(handle.get(), status)) {
        index = 3;
        return QStringLiteral("Could not query Service Status");
    }
    StateText state;
    if (!StateTextOf(status.dwCurrentState, state))
        return QString();
    index = state.index;
    return state.text;
}

quint32 StatusColor(qint16 index)
{
    switch (index) {
    case 0:
        return kColorGreen;
    case 1:
        return kColorLightYellow;
    case 2:
        return kColorLightRed;
    default:
        return kColorGrey;
    }
}

quint32 ServiceStateColor(const QString& service)
{
    qint16 index = 3;
    ServiceStatus(QString(), service, index);
    return StatusColor(index);
}

QString ServicePause(const QString& machine, const QString& service, qint16& index)
{
    return RunOperation(Operation::Pause, machine, service, index);
}

QString ServiceContinue(const QString& machine, const QString& service, qint16& index)
{
    return RunOperation(Operation::Continue, machine, service, index);
}

QString ServiceStart(const QString& machine, const QString& service, qint16& index)
{
    return RunOperation(Operation::Start, machine, service, index);
}

QString ServiceStop(const QString& machine, const QString& service, qint16& index)
{
    return RunOperation(Operation::Stop, machine, service, index);
}

bool ServiceCommand(qint32 code, const QString& service)
{
    const quint32 right = RightForCode(code);
    if (right == 0)
        return false;
    ScHandle manager(
        platform::OpenSCManager(QString(), QString(), platform::SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return false;
    ScHandle handle(platform::OpenService(manager.get(), service, right));
    if (!handle)
        return false;
    bool done = false;
    if (code == 9) {
        done = platform::StartService(handle.get());
    } else {
        platform::SERVICE_STATUS status;
        done = platform::ControlService(handle.get(), quint32(code), status);
    }
    if (!done)
        NCL_TRACE(QStringLiteral("Control Service Failed: Error ") +
                  QString::number(platform::GetLastServiceError()));
    return done;
}

bool Send_Mesg(qint32 code, const QString& service)
{
    const bool sent = ServiceCommand(code, service);
    if (!sent && code >= 128 && code <= 255) {
        const quint32 error = platform::GetLastServiceError();
        if (error != 0)
            rt::RaiseError(qint32(error), platform::ServiceErrorText(error));
        logging::ReportError(logging::Information,
                             QStringLiteral("Failed to successfully send service message #") +
                                 QString::number(code),
                             195, kModule, QStringLiteral("Send_Mesg"), 195);
    }
    return sent;
}

bool SendAndWait(qint32 code, const QString& keyPath, const QString& service)
{
    if (code == 0)
        return false;
    settings::SaveOptionKey(keyPath, QStringLiteral("OK"), QString());
    if (!Send_Mesg(code, service))
        return false;
    for (int poll = 0; poll < 30; ++poll) {
        QString value;
        settings::ReadOptionKeyFrom(keyPath, settings::App().RegRoot, QStringLiteral("OK"), value);
        if (!value.isEmpty()) {
            NCL_TRACE(QStringLiteral("Returned string: ") + value);
            return true;
        }
        schedule::PauseMilliseconds(20);
    }
    NCL_TRACE(QStringLiteral("Noting returned for func ") + QString::number(code));
    return true;
}

bool svc_call_func(const QString& command, const QString& /*appName*/, const QString& keyPath)
{
    qint32 code = 0;
    if (command == QLatin1String("OPTIONS_CHANGED")) {
        code = 128;
    } else if (command == QLatin1String("HEARTBEAT")) {
        code = 133;
    } else if (command == QLatin1String("STATUS")) {
        settings::SaveOptionKey(keyPath, QStringLiteral("setstattext"), QString());
        settings::SaveOptionKey(keyPath, QStringLiteral("setstatcolor"), QString());
        code = 140;
    } else if (command == QLatin1String("START")) {
        code = 144;
    } else if (command == QLatin1String("RESET_PORTS")) {
        code = 148;
    } else {
        NCL_TRACE(QStringLiteral("svc_call_func: command not found ") + command);
        return false;
    }
    return SendAndWait(code, keyPath, kServiceName);
}

bool ReadStatusValue(const QString& keyPath, quint32 root, const QString& name, QString& value)
{
    value.clear();
    for (int poll = 0; poll < 50; ++poll) {
        settings::ReadOptionKeyFrom(keyPath, root, name, value);
        if (!value.isEmpty())
            return true;
        schedule::PauseMilliseconds(20);
    }
    return false;
}

} // namespace host

// nclsc: query, start, stop, pause, continue, send a control code to, create
// and delete a service of the agent's service manager, in the manner of
// sc.exe. The registrations are found through NCLMOD_HOME like the agent
// finds them.
//
// Exit codes: 0 success, 1 the operation failed (one "[SC] ..." line with the
// error number and its meaning on stderr), 2 bad usage.

#include "platform/DataFolder.h"
#include "platform/RegistryStore.h"
#include "platform/ServiceManager.h"
#include "platform/ServiceRuntime.h"

#include <QCoreApplication>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QStringList>
#include <QThread>

#include <cstdio>

using namespace platform;

namespace
{

enum Exit { Ok = 0, Failed = 1, Usage = 2 };

const char* const kHelp =
    "Usage:\n"
    "  nclsc query NAME\n"
    "  nclsc start NAME\n"
    "  nclsc stop NAME\n"
    "  nclsc pause NAME\n"
    "  nclsc continue NAME\n"
    "  nclsc control NAME CODE          CODE 128..255 (or 1..4)\n"
    "  nclsc create NAME binPath= PATH [start= auto|demand|disabled] [DisplayName= TEXT]\n"
    "  nclsc delete NAME\n"
    "  nclsc --help | --version\n"
    "\n"
    "query, start, stop, pause, continue and control print the service's state:\n"
    "        STATE              : 4  RUNNING\n"
    "control with a code from 128 also prints what the service answered: the\n"
    "acknowledgement it wrote (RESULT) and, for 140, its status text and colour.\n"
    "One data folder runs one service at a time.\n"
    "The registrations live in registry.db in the data folder ($NCLMOD_HOME when set).\n"
    "Exit codes: 0 success, 1 failure, 2 bad usage.\n";

int BadUsage(const QString& message)
{
    std::fprintf(stderr, "nclsc: %s\n%s", qPrintable(message), kHelp);
    return Usage;
}

int Failure(const char* operation)
{
    const quint32 error = GetLastServiceError();
    std::fprintf(stderr, "[SC] %s FAILED %u:\n\n%s\n", operation, error,
                 qPrintable(ServiceErrorText(error)));
    return Failed;
}

// The service other than `name` that runs from this data folder, if any.
QString OtherRunningService(const QString& name)
{
    RegistryStore& store = Registry();
    HKEY key = 0;
    QStringList names;
    if (store.OpenKey(HKEY_LOCAL_MACHINE, QStringLiteral("SYSTEM\\CurrentControlSet\\Services"),
                      key) == ERROR_SUCCESS) {
        store.EnumSubKeys(key, names);
        store.CloseKey(key);
    }
    for (const QString& full : names) {
        const QString other = full.section(QLatin1Char('\\'), -1);
        if (other.compare(name, Qt::CaseInsensitive) != 0 &&
            LiveServiceState(other) != SERVICE_STOPPED)
            return other;
    }
    return QString();
}

// An "already running" that comes from another service on the same data
// folder is said as such: the number alone would name the wrong service.
int StartFailure(const QString& name)
{
    const quint32 error = GetLastServiceError();
    const int result = Failure("StartService");
    if (error != SVC_ERROR_SERVICE_ALREADY_RUNNING || LiveServiceState(name) != SERVICE_STOPPED)
        return result;
    const QString other = OtherRunningService(name);
    std::fprintf(stderr,
                 "%s cannot start: %s already runs from the data folder %s, and one data folder "
                 "runs one service at a time (stop it first, or give this one its own "
                 "NCLMOD_HOME).\n",
                 qPrintable(name),
                 other.isEmpty() ? "another service" : qPrintable("the service " + other),
                 qPrintable(DataFolder()));
    return result;
}

QString StateName(quint32 state)
{
    switch (state) {
    case SERVICE_STOPPED:
        return QStringLiteral("STOPPED");
    case SERVICE_START_PENDING:
        return QStringLiteral("START_PENDING");
    case SERVICE_STOP_PENDING:
        return QStringLiteral("STOP_PENDING");
    case SERVICE_RUNNING:
        return QStringLiteral("RUNNING");
    case SERVICE_CONTINUE_PENDING:
        return QStringLiteral("CONTINUE_PENDING");
    case SERVICE_PAUSE_PENDING:
        return QStringLiteral("PAUSE_PENDING");
    case SERVICE_PAUSED:
        return QStringLiteral("PAUSED");
    default:
        return QStringLiteral("UNKNOWN");
    }
}

QString AcceptedText(quint32 accepted)
{
    QStringList words;
    words << ((accepted & SERVICE_ACCEPT_STOP) ? QStringLiteral("STOPPABLE")
                                               : QStringLiteral("NOT_STOPPABLE"));
    words << ((accepted & SERVICE_ACCEPT_PAUSE_CONTINUE) ? QStringLiteral("PAUSABLE")
                                                         : QStringLiteral("NOT_PAUSABLE"));
    return QStringLiteral("(") + words.join(QStringLiteral(", ")) + QStringLiteral(")");
}

void PrintStatus(const QString& name, const SERVICE_STATUS& status)
{
    std::printf("\nSERVICE_NAME: %s\n", qPrintable(name));
    std::printf("        TYPE               : %x  WIN32_OWN_PROCESS\n", status.dwServiceType);
    std::printf("        STATE              : %u  %s\n", status.dwCurrentState,
                qPrintable(StateName(status.dwCurrentState)));
    if (status.dwCurrentState != SERVICE_STOPPED)
        std::printf("                                %s\n",
                    qPrintable(AcceptedText(status.dwControlsAccepted)));
    std::printf("        WIN32_EXIT_CODE    : 0  (0x0)\n");
    std::printf("        SERVICE_EXIT_CODE  : 0  (0x0)\n");
    std::printf("        PID                : %lld\n", static_cast<long long>(status.dwProcessId));
}

// Opens the local manager and the service; the handles close when it goes.
class Session
{
public:
    ~Session()
    {
        if (service)
            CloseServiceHandle(service);
        if (manager)
            CloseServiceHandle(manager);
    }
    bool open(const QString& name, quint32 managerAccess, quint32 serviceAccess)
    {
        manager = OpenSCManager(QString(), QString(), managerAccess);
        if (!manager)
            return false;
        service = OpenService(manager, name, serviceAccess);
        return service != 0;
    }
    SC_HANDLE manager = 0;
    SC_HANDLE service = 0;
};

int Query(const QString& name)
{
    Session session;
    if (!session.open(name, SC_MANAGER_CONNECT, SERVICE_QUERY_STATUS))
        return Failure("OpenService");
    SERVICE_STATUS status;
    if (!QueryServiceStatus(session.service, status))
        return Failure("QueryServiceStatus");
    PrintStatus(name, status);
    return Ok;
}

int Start(const QString& name)
{
    Session session;
    if (!session.open(name, SC_MANAGER_CONNECT, SERVICE_START | SERVICE_QUERY_STATUS))
        return Failure("OpenService");
    if (!StartService(session.service))
        return StartFailure(name);
    SERVICE_STATUS status;
    QueryServiceStatus(session.service, status);
    PrintStatus(name, status);
    return Ok;
}

QString ControlGroup(const QString& pid)
{
    QFile cgroup(QStringLiteral("/proc/") + pid + QStringLiteral("/cgroup"));
    return cgroup.open(QIODevice::ReadOnly) ? QString::fromLatin1(cgroup.readAll()) : QString();
}

// The systemd unit that started the running service, "" when none did. A
// service this manager started shares the group of whoever ran nclsc start
// (a login session, or a unit that runs us all, such as a build runner's).
QString SystemdUnit(const QString& name)
{
    ServiceRuntimeRecord record;
    if (LiveServiceState(name, &record) == SERVICE_STOPPED)
        return QString();
    const QString group = ControlGroup(QString::number(record.process.pid));
    if (group.isEmpty() || group == ControlGroup(QStringLiteral("self")))
        return QString();
    static const QRegularExpression unit(QStringLiteral("/system\\.slice/([^/\\n]+\\.service)"));
    return unit.match(group).captured(1);
}

// A service that systemd started is stopped by systemd too: stopped here it
// would end cleanly, and systemd, which restarts only a failure, would keep
// it down while still counting it as its own.
int StopUnderSystemd(const QString& name, const QString& unit)
{
    std::fprintf(stderr,
                 "[SC] %s runs under the systemd unit %s, which starts and stops it: use "
                 "\"systemctl stop %s\"\n",
                 qPrintable(name), qPrintable(unit), qPrintable(unit));
    return Failed;
}

// What a service writes back for the agent's own control codes: the
// acknowledgement, and for the status request the status text and colour.
// The sender clears them first, so an old answer is never shown as new.
constexpr quint32 kFirstCustomCode = 128;
constexpr quint32 kStatusCode = 140;
constexpr int kAnswerPolls = 50;
constexpr int kAnswerPollMs = 20;

QStringList AnswerNames(quint32 code)
{
    QStringList names{QStringLiteral("OK")};
    if (code == kStatusCode)
        names << QStringLiteral("setstattext") << QStringLiteral("setstatcolor");
    return names;
}

QString Answer(const QString& name)
{
    return GetSetting(QStringLiteral("NCLmod"), QStringLiteral("Settings"), name);
}

void PrintAnswers(quint32 code)
{
    const QStringList names = AnswerNames(code);
    for (int poll = 0; poll < kAnswerPolls; ++poll) {
        bool all = true;
        for (const QString& value : names)
            all = all && !Answer(value).isEmpty();
        if (all)
            break;
        QThread::msleep(kAnswerPollMs);
    }
    const QString ok = Answer(QStringLiteral("OK"));
    std::printf("        RESULT             : %s\n",
                ok.isEmpty() ? "(the service wrote no answer)" : qPrintable(ok));
    if (code != kStatusCode)
        return;
    const QString text =
        Answer(QStringLiteral("setstattext"))
            .replace(QLatin1String("\r\n"), QLatin1String("\n"))
            .replace(QLatin1Char('\n'), QLatin1String("\n                             "));
    std::printf("        STATUS TEXT        : %s\n", qPrintable(text));
    std::printf("        STATUS COLOR       : %s\n",
                qPrintable(Answer(QStringLiteral("setstatcolor"))));
}

int Control(const QString& name, quint32 code, quint32 right)
{
    Session session;
    if (!session.open(name, SC_MANAGER_CONNECT, right))
        return Failure("OpenService");
    const bool custom = code >= kFirstCustomCode;
    if (custom) {
        for (const QString& value : AnswerNames(code))
            SaveSetting(QStringLiteral("NCLmod"), QStringLiteral("Settings"), value, QString());
    }
    SERVICE_STATUS status;
    if (!ControlService(session.service, code, status))
        return Failure("ControlService");
    PrintStatus(name, status);
    if (custom)
        PrintAnswers(code);
    return Ok;
}

// The words after NAME as "option= value" pairs (or "option=value").
bool ParseOptions(const QStringList& words, QMap<QString, QString>& options, QString& error)
{
    for (int i = 0; i < words.size(); ++i) {
        const QString& word = words[i];
        const qsizetype eq = word.indexOf(QLatin1Char('='));
        if (eq <= 0) {
            error = QStringLiteral("unexpected argument ") + word;
            return false;
        }
        const QString key = word.left(eq).toLower();
        QString value = word.mid(eq + 1);
        if (value.isEmpty()) {
            if (i + 1 >= words.size()) {
                error = QStringLiteral("missing value after ") + word;
                return false;
            }
            value = words[++i];
        }
        options.insert(key, value);
    }
    return true;
}

int Create(const QString& name, const QStringList& words)
{
    QMap<QString, QString> options;
    QString error;
    if (!ParseOptions(words, options, error))
        return BadUsage(error);
    for (const QString& key : options.keys()) {
        if (key != QLatin1String("binpath") && key != QLatin1String("start") &&
            key != QLatin1String("displayname"))
            return BadUsage(QStringLiteral("unknown option ") + key + QLatin1Char('='));
    }
    if (!options.contains(QStringLiteral("binpath")))
        return BadUsage(QStringLiteral("create needs binPath= PATH"));
    quint32 startType = SERVICE_AUTO_START;
    const QString start = options.value(QStringLiteral("start"), QStringLiteral("auto")).toLower();
    if (start == QLatin1String("demand"))
        startType = SERVICE_DEMAND_START;
    else if (start == QLatin1String("disabled"))
        startType = SERVICE_DISABLED;
    else if (start != QLatin1String("auto"))
        return BadUsage(QStringLiteral("start= must be auto, demand or disabled"));

    const SC_HANDLE manager = OpenSCManager(QString(), QString(), SC_MANAGER_CREATE_SERVICE);
    if (!manager)
        return Failure("OpenSCManager");
    const SC_HANDLE service =
        CreateService(manager, name, options.value(QStringLiteral("displayname"), name),
                      SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, startType,
                      SERVICE_ERROR_NORMAL, options.value(QStringLiteral("binpath")));
    const int result = service ? Ok : Failure("CreateService");
    if (service)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    if (result == Ok)
        std::printf("[SC] CreateService SUCCESS\n");
    return result;
}

int Delete(const QString& name)
{
    Session session;
    if (!session.open(name, SC_MANAGER_CONNECT, SERVICE_DELETE))
        return Failure("OpenService");
    if (!DeleteService(session.service))
        return Failure("DeleteService");
    std::printf("[SC] DeleteService SUCCESS\n");
    return Ok;
}

bool ParseCode(const QString& text, quint32& code)
{
    bool ok = false;
    const uint value = text.toUInt(&ok);
    if (!ok || value > 255)
        return false;
    code = value;
    return true;
}

int Run(const QStringList& args)
{
    if (args.isEmpty())
        return BadUsage(QStringLiteral("missing command"));
    const QString command = args[0].toLower();
    if (command == QLatin1String("--help") || command == QLatin1String("-h") ||
        command == QLatin1String("/?") || command == QLatin1String("help")) {
        std::printf("%s", kHelp);
        return Ok;
    }
    if (command == QLatin1String("--version")) {
        std::printf("nclsc %d.%d.%d\n", NCL_VERSION_MAJOR, NCL_VERSION_MINOR, NCL_VERSION_PATCH);
        return Ok;
    }
    if (args.size() < 2 || args[1].isEmpty())
        return BadUsage(QStringLiteral("missing service name"));
    const QString name = args[1];
    const QStringList rest = args.mid(2);
    const bool noMore = rest.isEmpty();
    if (command == QLatin1String("create"))
        return Create(name, rest);
    if (command == QLatin1String("control")) {
        quint32 code = 0;
        if (rest.size() != 1 || !ParseCode(rest[0], code))
            return BadUsage(QStringLiteral("control needs one CODE from 0 to 255"));
        return Control(name, code,
                       SERVICE_STOP | SERVICE_PAUSE_CONTINUE | SERVICE_INTERROGATE |
                           SERVICE_USER_DEFINED_CONTROL);
    }
    if (!noMore)
        return BadUsage(QStringLiteral("unexpected argument ") + rest[0]);
    if (command == QLatin1String("query"))
        return Query(name);
    if (command == QLatin1String("start"))
        return Start(name);
    if (command == QLatin1String("stop")) {
        const QString unit = SystemdUnit(name);
        return unit.isEmpty() ? Control(name, SERVICE_CONTROL_STOP, SERVICE_STOP)
                              : StopUnderSystemd(name, unit);
    }
    if (command == QLatin1String("pause"))
        return Control(name, SERVICE_CONTROL_PAUSE, SERVICE_PAUSE_CONTINUE);
    if (command == QLatin1String("continue"))
        return Control(name, SERVICE_CONTROL_CONTINUE, SERVICE_PAUSE_CONTINUE);
    if (command == QLatin1String("delete"))
        return Delete(name);
    return BadUsage(QStringLiteral("unknown command ") + args[0]);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    return Run(app.arguments().mid(1));
}

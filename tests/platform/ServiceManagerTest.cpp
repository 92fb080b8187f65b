// The service manager: registrations and access rights, liveness of a
// service's process, the control socket with a host in this process, and
// starting images that fail in the ways a service image can.
#include "platform/ServiceManager.h"
#include "platform/RegistryStore.h"
#include "platform/ServiceChannel.h"
#include "platform/ServiceHost.h"

#include "EventWait.h"
#include "TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLocalSocket>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace platform;
using namespace testsupport;

namespace
{

// The error of a call, or 0 when it succeeded.
quint32 ErrorOf(bool done)
{
    return done ? 0u : GetLastServiceError();
}

// The state a service reports after a control, or 0 when the control failed.
quint32 StateAfter(SC_HANDLE service, quint32 control)
{
    SERVICE_STATUS status;
    return ControlService(service, control, status) ? status.dwCurrentState : 0u;
}

class ServiceManagerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Detached images end up as our children, so the test can reap them.
        prctl(PR_SET_CHILD_SUBREAPER, 1);
        manager = OpenSCManager(QString(), QString(), SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(manager, 0u);
    }
    void TearDown() override
    {
        CloseServiceHandle(manager);
        SetServiceStartTimeoutForTesting(15000);
    }
    SC_HANDLE Create(const QString& name, const QString& image = "/usr/bin/true",
                     quint32 start = SERVICE_AUTO_START, SC_HANDLE on = 0)
    {
        return CreateService(on != 0 ? on : manager, name, name, SERVICE_ALL_ACCESS,
                             SERVICE_WIN32_OWN_PROCESS, start, SERVICE_ERROR_NORMAL, image);
    }

    ScopedHome home;
    SC_HANDLE manager = 0;
};

TEST_F(ServiceManagerTest, RegistrationsAccessRightsRefusalsAndGoneProcesses)
{
    const SC_HANDLE service = Create("Nightcall");
    ASSERT_NE(service, 0u);
    // Registered where people and nclsc look for services.
    HKEY key = 0;
    EXPECT_EQ(Registry().OpenKey(HKEY_LOCAL_MACHINE,
                                 "SYSTEM\\CurrentControlSet\\Services\\Nightcall", key),
              ERROR_SUCCESS);
    Registry().CloseKey(key);
    // Every operation needs its access right: an allowed one reaches the
    // stopped service and finds it not running, the others are denied.
    constexpr quint32 kStart = 1000000, kDelete = 1000001;
    const auto attempt = [this](quint32 access, quint32 control) {
        const SC_HANDLE handle = OpenService(manager, "Nightcall", access);
        const quint32 error = ErrorOf(control == kStart    ? StartService(handle)
                                      : control == kDelete ? DeleteService(handle)
                                                           : StateAfter(handle, control) != 0);
        CloseServiceHandle(handle);
        return error;
    };
    const struct {
        quint32 access;
        std::vector<quint32> allowed, denied;
    } rights[] = {
        {GENERIC_READ, {SERVICE_CONTROL_INTERROGATE}, {SERVICE_CONTROL_STOP, kStart, kDelete}},
        {SERVICE_STOP, {SERVICE_CONTROL_STOP}, {SERVICE_CONTROL_PAUSE}},
        {SERVICE_PAUSE_CONTINUE, {SERVICE_CONTROL_CONTINUE}, {128}},
        {SERVICE_USER_DEFINED_CONTROL, {128, 255}, {SERVICE_CONTROL_STOP}},
        {SERVICE_INTERROGATE, {SERVICE_CONTROL_INTERROGATE}, {}},
    };
    for (const auto& r : rights) {
        SCOPED_TRACE(testing::Message() << "access " << std::hex << r.access);
        for (const quint32 control : r.allowed)
            EXPECT_EQ(attempt(r.access, control), SVC_ERROR_SERVICE_NOT_ACTIVE) << control;
        for (const quint32 control : r.denied)
            EXPECT_EQ(attempt(r.access, control), SVC_ERROR_ACCESS_DENIED) << control;
    }
    // Only the controls a caller may send (1-4, 6-10, 128-255) get through at all.
    for (const quint32 control : {0u, 5u, 11u, 127u, 256u, 1000u})
        EXPECT_EQ(attempt(SERVICE_ALL_ACCESS, control), SVC_ERROR_INVALID_PARAMETER) << control;

    const SC_HANDLE connectOnly = OpenSCManager(QString(), QString(), SC_MANAGER_CONNECT);
    const struct {
        const char* name;
        const char* image;
        SC_HANDLE on;
        quint32 error;
    } creates[] = {{"nightcall", "/usr/bin/true", manager, SVC_ERROR_SERVICE_EXISTS},
                   {"a/b", "/usr/bin/true", manager, SVC_ERROR_INVALID_NAME},
                   {"a\\b", "/usr/bin/true", manager, SVC_ERROR_INVALID_NAME},
                   {"", "/usr/bin/true", manager, SVC_ERROR_INVALID_NAME},
                   {"Other", "  ", manager, SVC_ERROR_INVALID_PARAMETER},
                   {"Other", "/usr/bin/true", connectOnly, SVC_ERROR_ACCESS_DENIED}};
    for (const auto& c : creates)
        EXPECT_EQ(ErrorOf(Create(c.name, c.image, SERVICE_AUTO_START, c.on) != 0), c.error)
            << c.name;
    CloseServiceHandle(connectOnly);
    EXPECT_EQ(ErrorOf(OpenSCManager("\\\\elsewhere", QString(), SC_MANAGER_CONNECT) != 0),
              SVC_RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ(ErrorOf(OpenSCManager(QString(), "ServicesFailed", SC_MANAGER_CONNECT) != 0),
              SVC_ERROR_DATABASE_DOES_NOT_EXIST);
    EXPECT_EQ(ErrorOf(OpenService(0x7777, "Nightcall", GENERIC_READ) != 0),
              SVC_ERROR_INVALID_HANDLE);

    // A service whose process is gone is stopped whatever its record says: a
    // child that ends and is not reaped stays as a zombie that kill(pid, 0) still finds.
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    ASSERT_GT(child, 0);
    ServiceRuntimeRecord record;
    record.process = IdentifyProcess(child);
    ASSERT_EQ(record.process.pid, child);
    record.state = SERVICE_RUNNING;
    record.socketName = ServiceSocketName("Nightcall");
    ASSERT_TRUE(WriteServiceRuntime("Nightcall", record));
    EXPECT_TRUE(WaitFor([&] { return ProcessStateLetter(child) == 'Z'; }));
    EXPECT_EQ(::kill(child, 0), 0);
    EXPECT_FALSE(ProcessAlive(record.process));

    SERVICE_STATUS status;
    ASSERT_TRUE(QueryServiceStatus(service, status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
    EXPECT_EQ(ErrorOf(StateAfter(service, SERVICE_CONTROL_STOP) != 0),
              SVC_ERROR_SERVICE_NOT_ACTIVE);
    waitpid(child, nullptr, 0);

    // A live process that is not the recorded one (pid reuse) counts as gone too.
    record.process = IdentifyProcess(getpid());
    EXPECT_TRUE(ProcessAlive(record.process));
    record.process.startTime += 1;
    EXPECT_FALSE(ProcessAlive(record.process));
    EXPECT_FALSE(ProcessAlive(ProcessIdentity()));

    ASSERT_TRUE(DeleteService(service));
    EXPECT_EQ(ErrorOf(DeleteService(service)), SVC_ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_TRUE(CloseServiceHandle(service));
    EXPECT_EQ(ErrorOf(CloseServiceHandle(service)), SVC_ERROR_INVALID_HANDLE);
}

// An image that cannot start, may not start, ends at once or never reports.
// An image that runs gets the service name in its environment and the data
// folder as its working folder, and its output goes to a file there.
TEST_F(ServiceManagerTest, StartRefusesWhatCannotRunOrNeverReports)
{
    const struct {
        const char* name;
        QString image;
        quint32 start;
        quint32 error;
    } cases[] = {
        {"Missing", home.file("no-such-image"), SERVICE_AUTO_START, SVC_ERROR_FILE_NOT_FOUND},
        {"Disabled", "/usr/bin/true", SERVICE_DISABLED, SVC_ERROR_SERVICE_DISABLED},
        // A live process on record, with no service holding the data folder.
        {"Running", "/usr/bin/true", SERVICE_AUTO_START, SVC_ERROR_SERVICE_ALREADY_RUNNING},
        {"Nightcall",
         "/bin/sh -c \"echo started $NCLMOD_SERVICE_NAME in $PWD; echo oops >&2; exit 3\"",
         SERVICE_AUTO_START, SVC_ERROR_PROCESS_ABORTED},
        // Last, with a short start timeout: killed when it is up.
        {"Silent", "/bin/sh -c \"exec sleep 30\"", SERVICE_AUTO_START,
         SVC_ERROR_SERVICE_REQUEST_TIMEOUT},
    };
    ServiceRuntimeRecord running;
    running.process = IdentifyProcess(getpid());
    running.state = SERVICE_RUNNING;
    WriteServiceRuntime("Running", running);
    for (const auto& c : cases) {
        const SC_HANDLE service = Create(c.name, c.image, c.start);
        if (c.error == SVC_ERROR_SERVICE_REQUEST_TIMEOUT)
            SetServiceStartTimeoutForTesting(300);
        QElapsedTimer elapsed;
        elapsed.start();
        EXPECT_EQ(ErrorOf(StartService(service)), c.error) << c.name;
        EXPECT_LT(elapsed.elapsed(), 5000) << c.name;
        CloseServiceHandle(service);
    }
    // Standard output and error both, in the order written.
    EXPECT_EQ(ReadFile(home.file("ServiceOutput.txt")),
              "started Nightcall in " + QDir(home.path()).canonicalPath() + "\noops\n");
    // The images are our children: the one that never reported was killed.
    int status = 0, killed = 0;
    while (waitpid(-1, &status, 0) > 0)
        killed += WIFSIGNALED(status) ? 1 : 0;
    EXPECT_EQ(killed, 1);
}

// A service host in this process, on a data folder whose path is far longer
// than a socket path may be.
TEST_F(ServiceManagerTest, AHostTakesTheControlsAndItsStatesComeBack)
{
    const QString deep = home.path() + "/" + QString(60, 'd') + "/" + QString(60, 'e');
    ASSERT_TRUE(QDir().mkpath(deep));
    ASSERT_GT(deep.size(), 106);
    ScopedEnv deepHome("NCLMOD_HOME", deep.toLocal8Bit());
    CloseServiceHandle(manager);
    manager = OpenSCManager(QString(), QString(), SC_MANAGER_ALL_ACCESS);
    const SC_HANDLE service = Create("Nightcall");
    ASSERT_NE(service, 0u);
    auto host = std::make_unique<ServiceHost>("Nightcall");
    host->SetIdleTimeoutForTesting(300);
    QString why;
    ASSERT_TRUE(host->Open(&why)) << why.toStdString();
    std::vector<quint32> controls;
    int stops = 0;
    QObject::connect(host.get(), &ServiceHost::ControlRequested, host.get(),
                     [&](quint32 code) { controls.push_back(code); });
    QObject::connect(host.get(), &ServiceHost::StopRequested, host.get(), [&] { ++stops; });
    host->SetState(SERVICE_RUNNING);
    // Sends raw bytes and returns what came back before the host closed.
    const auto raw = [&](const QByteArray& bytes) {
        QLocalSocket socket;
        socket.connectToServer(host->SocketName());
        socket.write(bytes);
        QByteArray received;
        WaitFor(
            [&] {
                received += socket.readAll();
                return socket.state() == QLocalSocket::UnconnectedState;
            },
            2000);
        return received + socket.readAll();
    };

    SERVICE_STATUS status;
    ASSERT_TRUE(QueryServiceStatus(service, status));
    EXPECT_EQ(status.dwProcessId, getpid());

    // Bad input on the socket is dropped and the host goes on.
    quint32 code = 0;
    for (const char* bad :
         {"HELLO", "CONTROL", "CONTROL ", "CONTROL 0", "CONTROL 256", "CONTROL -1", "CONTROL 0x80",
          "CONTROL +1", "CONTROL 00000000000001", "control 1", "CONTROL 1 2", " CONTROL 1"})
        EXPECT_FALSE(ParseControlRequest(bad, code)) << bad;
    EXPECT_EQ(raw("CONTROL 0x80\n"), "ERR 87\n");
    EXPECT_EQ(raw(QByteArray(5000, 'x')), ""); // oversized: closed without a word
    EXPECT_EQ(raw("CONTROL 1"), "");           // never finished: closed when idle
    // A crowd of clients that connect and never send: dropped when idle.
    std::vector<std::unique_ptr<QLocalSocket>> idle;
    for (int i = 0; i < 24; ++i) {
        idle.push_back(std::make_unique<QLocalSocket>());
        idle.back()->connectToServer(host->SocketName());
    }
    Spin(600);
    EXPECT_TRUE(controls.empty());
    // The raw protocol carries every code up to 255; 127 reaches the service as a control.
    EXPECT_EQ(raw("CONTROL 127\r\n"), "OK 4 1\n");
    EXPECT_EQ(raw("CONTROL 255\n"), "OK 4 1\n");
    EXPECT_EQ(controls, (std::vector<quint32>{127, 255}));

    // Pause and continue only once the service announces it accepts them.
    EXPECT_EQ(ErrorOf(StateAfter(service, SERVICE_CONTROL_PAUSE) != 0),
              SVC_ERROR_INVALID_SERVICE_CONTROL);
    host->SetControlsAccepted(SERVICE_ACCEPT_PAUSE_CONTINUE);
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_INTERROGATE, status));
    EXPECT_EQ(status.dwControlsAccepted, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE);

    // Only one service runs from a data folder.
    ServiceHost second("Other");
    EXPECT_FALSE(second.Open(&why));
    EXPECT_TRUE(why.contains("another service")) << why.toStdString();
    EXPECT_EQ(ErrorOf(StartService(service)), SVC_ERROR_SERVICE_ALREADY_RUNNING);

    // Stop is answered before it is raised; a second one is refused.
    EXPECT_EQ(StateAfter(service, SERVICE_CONTROL_STOP), SERVICE_STOP_PENDING);
    Spin(50);
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(ErrorOf(StateAfter(service, SERVICE_CONTROL_STOP) != 0),
              SVC_ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    EXPECT_EQ(ErrorOf(StateAfter(service, 128) != 0), SVC_ERROR_SERVICE_CANNOT_ACCEPT_CTRL);

    // Gone host: the record says stopped, and its socket answers no more.
    const QString socketName = host->SocketName();
    host.reset();
    ASSERT_TRUE(QueryServiceStatus(service, status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
    ServiceReply reply;
    EXPECT_EQ(SendServiceControl(socketName, 4, reply, 500), SVC_ERROR_SERVICE_NOT_ACTIVE);
    CloseServiceHandle(service);
}

} // namespace

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
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <grp.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace platform;
using testsupport::ReadFile;
using testsupport::ScopedHome;
using testsupport::Spin;

namespace
{

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
    SC_HANDLE Create(const QString& name, const QString& image, quint32 start = SERVICE_AUTO_START)
    {
        return CreateService(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                             start, SERVICE_ERROR_NORMAL, image);
    }
    // The first line a shell image wrote to the output file: its pid.
    qint64 ImagePid() const
    {
        return ReadFile(home.file("ServiceOutput.txt")).section('\n', 0, 0).toLongLong();
    }
    static void Reap(qint64 pid)
    {
        if (pid > 0)
            waitpid(pid_t(pid), nullptr, 0);
    }

    ScopedHome home;
    SC_HANDLE manager = 0;
};

TEST_F(ServiceManagerTest, RegistrationIsKeptInTheStoreUntilDeleted)
{
    const SC_HANDLE service = Create("Nightcall", "/usr/bin/true");
    ASSERT_NE(service, 0u);
    HKEY key = 0;
    ASSERT_EQ(Registry().OpenKey(HKEY_LOCAL_MACHINE,
                                 "SYSTEM\\CurrentControlSet\\Services\\Nightcall", key),
              ERROR_SUCCESS);
    for (const auto& [name, value] :
         {std::pair{"Type", 16u}, {"Start", 2u}, {"ErrorControl", 1u}}) {
        quint32 type = 0, size = 0;
        QByteArray data;
        ASSERT_EQ(Registry().QueryValue(key, name, type, size, &data), ERROR_SUCCESS) << name;
        EXPECT_EQ(DwordOf(data), value) << name;
    }
    Registry().CloseKey(key);
    EXPECT_EQ(ServiceImagePath("NIGHTCALL"), "/usr/bin/true"); // names ignore case

    EXPECT_EQ(Create("nightcall", "/usr/bin/true"), 0u);
    EXPECT_EQ(GetLastServiceError(), SVC_ERROR_SERVICE_EXISTS);

    SERVICE_STATUS status;
    ASSERT_TRUE(QueryServiceStatus(service, status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
    ASSERT_TRUE(DeleteService(service));
    EXPECT_FALSE(DeleteService(service));
    EXPECT_EQ(GetLastServiceError(), SVC_ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_TRUE(CloseServiceHandle(service));
    EXPECT_FALSE(CloseServiceHandle(service));
    EXPECT_EQ(GetLastServiceError(), SVC_ERROR_INVALID_HANDLE);
    EXPECT_EQ(OpenService(manager, "Nightcall", GENERIC_READ), 0u);
    EXPECT_EQ(GetLastServiceError(), SVC_ERROR_SERVICE_DOES_NOT_EXIST);
}

TEST_F(ServiceManagerTest, BadNamesMachinesParametersAndControlsAreRefused)
{
    const struct {
        const char* name;
        const char* image;
        quint32 error;
    } creates[] = {{"a/b", "/usr/bin/true", SVC_ERROR_INVALID_NAME},
                   {"a\\b", "/usr/bin/true", SVC_ERROR_INVALID_NAME},
                   {"", "/usr/bin/true", SVC_ERROR_INVALID_NAME},
                   {"Nightcall", "  ", SVC_ERROR_INVALID_PARAMETER}};
    for (const auto& c : creates) {
        EXPECT_EQ(Create(c.name, c.image), 0u) << c.name;
        EXPECT_EQ(GetLastServiceError(), c.error) << c.name;
    }
    EXPECT_EQ(OpenSCManager("\\\\elsewhere", QString(), SC_MANAGER_CONNECT), 0u);
    EXPECT_EQ(GetLastServiceError(), SVC_RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ(OpenSCManager(QString(), "ServicesFailed", SC_MANAGER_CONNECT), 0u);
    EXPECT_EQ(GetLastServiceError(), SVC_ERROR_DATABASE_DOES_NOT_EXIST);
    EXPECT_EQ(OpenService(0x7777, "Nightcall", GENERIC_READ), 0u);
    EXPECT_EQ(GetLastServiceError(), SVC_ERROR_INVALID_HANDLE);
    // Only the controls a caller may send (1-4, 6-10, 128-255) get through.
    const SC_HANDLE service = Create("Nightcall", "/usr/bin/true");
    for (const quint32 control : {0u, 5u, 11u, 127u, 256u, 1000u}) {
        SERVICE_STATUS status;
        EXPECT_FALSE(ControlService(service, control, status)) << control;
        EXPECT_EQ(GetLastServiceError(), SVC_ERROR_INVALID_PARAMETER) << control;
    }
    CloseServiceHandle(service);
}

TEST_F(ServiceManagerTest, EveryOperationNeedsItsAccessRight)
{
    CloseServiceHandle(Create("Nightcall", "/usr/bin/true"));
    struct Case {
        quint32 access;
        quint32 control; // 0: start, 99: delete
        bool allowed;
    };
    const Case cases[] = {
        {GENERIC_READ, SERVICE_CONTROL_STOP, false},
        {GENERIC_READ, SERVICE_CONTROL_INTERROGATE, true},
        {GENERIC_READ, 0, false},
        {GENERIC_READ, 99, false},
        {SERVICE_STOP, SERVICE_CONTROL_STOP, true},
        {SERVICE_STOP, SERVICE_CONTROL_PAUSE, false},
        {SERVICE_PAUSE_CONTINUE, SERVICE_CONTROL_CONTINUE, true},
        {SERVICE_PAUSE_CONTINUE, 128, false},
        {SERVICE_USER_DEFINED_CONTROL, 128, true},
        {SERVICE_USER_DEFINED_CONTROL, 255, true},
        {SERVICE_USER_DEFINED_CONTROL, SERVICE_CONTROL_STOP, false},
        {SERVICE_INTERROGATE, SERVICE_CONTROL_INTERROGATE, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "access " << std::hex << c.access << " control " << std::dec << c.control);
        const SC_HANDLE service = OpenService(manager, "Nightcall", c.access);
        ASSERT_NE(service, 0u);
        SERVICE_STATUS status;
        bool done = false;
        if (c.control == 0)
            done = StartService(service);
        else if (c.control == 99)
            done = DeleteService(service);
        else
            done = ControlService(service, c.control, status);
        EXPECT_FALSE(done); // allowed or not, the stopped service cannot take it
        // An allowed control reaches the service and finds it not running.
        EXPECT_EQ(GetLastServiceError(),
                  c.allowed ? SVC_ERROR_SERVICE_NOT_ACTIVE : SVC_ERROR_ACCESS_DENIED);
        CloseServiceHandle(service);
    }
    const SC_HANDLE connectOnly = OpenSCManager(QString(), QString(), SC_MANAGER_CONNECT);
    EXPECT_EQ(CreateService(connectOnly, "Other", "Other", SERVICE_ALL_ACCESS,
                            SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                            "/usr/bin/true"),
              0u);
    EXPECT_EQ(GetLastServiceError(), SVC_ERROR_ACCESS_DENIED);
    CloseServiceHandle(connectOnly);
}

TEST_F(ServiceManagerTest, AServiceWhoseProcessIsGoneIsStoppedWhateverItsRecordSays)
{
    const SC_HANDLE service = Create("Nightcall", "/usr/bin/true");
    // A child that ends and is not reaped stays as a zombie that kill(pid, 0) still finds.
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
    QElapsedTimer waited;
    waited.start();
    while (ProcessStateLetter(child) != 'Z' && waited.elapsed() < 5000)
        Spin(10);
    EXPECT_EQ(ProcessStateLetter(child), 'Z');
    EXPECT_EQ(::kill(child, 0), 0);
    EXPECT_FALSE(ProcessAlive(record.process));

    SERVICE_STATUS status;
    ASSERT_TRUE(QueryServiceStatus(service, status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
    EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_STOP, status));
    EXPECT_EQ(GetLastServiceError(), SVC_ERROR_SERVICE_NOT_ACTIVE);
    Reap(child);

    // A live process that is not the recorded one (pid reuse) counts as gone too.
    record.process = IdentifyProcess(getpid());
    EXPECT_TRUE(ProcessAlive(record.process));
    record.process.startTime += 1;
    EXPECT_FALSE(ProcessAlive(record.process));
    record.process = ProcessIdentity();
    EXPECT_FALSE(ProcessAlive(record.process));
    CloseServiceHandle(service);
}

// A service host in this process, on a data folder whose path is far longer
// than a socket path may be.
class ServiceHostTest : public ServiceManagerTest
{
protected:
    void SetUp() override
    {
        ServiceManagerTest::SetUp();
        const QString deep = home.path() + "/" + QString(60, 'd') + "/" + QString(60, 'e');
        ASSERT_TRUE(QDir().mkpath(deep));
        deepHome = std::make_unique<testsupport::ScopedEnv>("NCLMOD_HOME", deep.toLocal8Bit());
        CloseServiceHandle(manager);
        manager = OpenSCManager(QString(), QString(), SC_MANAGER_ALL_ACCESS);
        service = Create("Nightcall", "/usr/bin/true");
        ASSERT_NE(service, 0u);
        host = std::make_unique<ServiceHost>("Nightcall");
        host->SetIdleTimeoutForTesting(300);
        QString why;
        ASSERT_TRUE(host->Open(&why)) << why.toStdString();
        // The receiver of the events reports the state that follows each.
        QObject::connect(host.get(), &ServiceHost::PauseRequested, host.get(),
                         [this] { host->SetState(SERVICE_PAUSED); });
        QObject::connect(host.get(), &ServiceHost::ContinueRequested, host.get(),
                         [this] { host->SetState(SERVICE_RUNNING); });
        host->SetState(SERVICE_RUNNING);
    }
    void TearDown() override
    {
        host.reset();
        CloseServiceHandle(service);
        ServiceManagerTest::TearDown();
        deepHome.reset();
    }
    // Sends raw bytes and returns what came back before the host closed.
    QByteArray Raw(const QByteArray& bytes, int waitMs = 2000)
    {
        QLocalSocket socket;
        socket.connectToServer(host->SocketName());
        QByteArray received;
        QEventLoop loop;
        QObject::connect(&socket, &QLocalSocket::readyRead, &loop,
                         [&] { received += socket.readAll(); });
        QObject::connect(&socket, &QLocalSocket::disconnected, &loop, &QEventLoop::quit);
        QTimer::singleShot(waitMs, &loop, &QEventLoop::quit);
        socket.write(bytes);
        loop.exec();
        return received;
    }

    std::unique_ptr<testsupport::ScopedEnv> deepHome;
    SC_HANDLE service = 0;
    std::unique_ptr<ServiceHost> host;
};

TEST_F(ServiceHostTest, ControlsReachTheHostAndItsStatesComeBack)
{
    EXPECT_GT(QString(qgetenv("NCLMOD_HOME")).size(), 106);
    // Only one service runs from a data folder.
    ServiceHost second("Other");
    QString why;
    EXPECT_FALSE(second.Open(&why));
    EXPECT_TRUE(why.contains("another service")) << why.toStdString();
    EXPECT_TRUE(DataFolderLockBusy());
    EXPECT_FALSE(StartService(service));
    EXPECT_EQ(GetLastServiceError(), SVC_ERROR_SERVICE_ALREADY_RUNNING);

    std::vector<quint32> controls;
    QObject::connect(host.get(), &ServiceHost::ControlRequested, host.get(),
                     [&](quint32 code) { controls.push_back(code); });
    int stops = 0;
    QObject::connect(host.get(), &ServiceHost::StopRequested, host.get(), [&] { ++stops; });
    SERVICE_STATUS status;
    ASSERT_TRUE(QueryServiceStatus(service, status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);
    EXPECT_EQ(status.dwProcessId, getpid());

    ASSERT_TRUE(ControlService(service, 140, status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);
    EXPECT_EQ(controls, std::vector<quint32>{140});

    // Pause and continue only once the service announces it accepts them.
    EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_PAUSE, status));
    EXPECT_EQ(GetLastServiceError(), SVC_ERROR_INVALID_SERVICE_CONTROL);
    host->SetControlsAccepted(SERVICE_ACCEPT_PAUSE_CONTINUE);
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_PAUSE, status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_PAUSED);
    ASSERT_TRUE(QueryServiceStatus(service, status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_PAUSED);
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_CONTINUE, status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_INTERROGATE, status));
    EXPECT_EQ(status.dwControlsAccepted, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE);

    // Stop is answered before it is raised; a second one is refused.
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_STOP_PENDING);
    Spin(50);
    EXPECT_EQ(stops, 1);
    EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_STOP, status));
    EXPECT_EQ(GetLastServiceError(), SVC_ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    EXPECT_FALSE(ControlService(service, 128, status));
    EXPECT_EQ(GetLastServiceError(), SVC_ERROR_SERVICE_CANNOT_ACCEPT_CTRL);

    // Gone host: the record says stopped, and its socket answers no more.
    const QString socketName = host->SocketName();
    host.reset();
    ASSERT_TRUE(QueryServiceStatus(service, status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
    ServiceReply reply;
    EXPECT_EQ(SendServiceControl(socketName, 4, reply, 500), SVC_ERROR_SERVICE_NOT_ACTIVE);
}

TEST_F(ServiceHostTest, BadInputOnTheSocketIsDroppedAndTheHostGoesOn)
{
    std::vector<quint32> controls;
    QObject::connect(host.get(), &ServiceHost::ControlRequested, host.get(),
                     [&](quint32 code) { controls.push_back(code); });
    for (const char* bad :
         {"HELLO", "CONTROL", "CONTROL ", "CONTROL 0", "CONTROL 256", "CONTROL -1", "CONTROL 0x80",
          "CONTROL +1", "CONTROL 00000000000001", "control 1", "CONTROL 1 2", " CONTROL 1"})
        EXPECT_EQ(Raw(QByteArray(bad) + "\n"), "ERR 87\n") << bad;
    EXPECT_EQ(Raw(QByteArray(5000, 'x')), ""); // oversized: closed without a word
    EXPECT_EQ(Raw("CONTROL 1"), "");           // never finished: closed when idle
    // A crowd of clients that connect and never send: dropped when idle.
    std::vector<std::unique_ptr<QLocalSocket>> idle;
    for (int i = 0; i < 24; ++i) {
        idle.push_back(std::make_unique<QLocalSocket>());
        idle.back()->connectToServer(host->SocketName());
    }
    Spin(600);
    EXPECT_TRUE(controls.empty());
    // The raw protocol carries every code up to 255; 127 reaches the service as a control.
    EXPECT_EQ(Raw("CONTROL 127\r\n"), "OK 4 1\n");
    EXPECT_EQ(Raw("CONTROL 255\n"), "OK 4 1\n");
    EXPECT_EQ(controls, (std::vector<quint32>{127, 255}));
    SERVICE_STATUS status;
    EXPECT_TRUE(ControlService(service, 129, status));
    EXPECT_EQ(host->State(), SERVICE_RUNNING);
}

// Connections of another user are refused, and nothing of them stays behind.
// (The socket is opened to everyone here, which the real folder never is, so
// that such connections reach the host at all.)
TEST_F(ServiceHostTest, RefusedPeersLeaveNothingBehind)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to connect as another user: refused peers were not tried";
    host.reset();
    QTemporaryDir open;
    ::chmod(QFile::encodeName(open.path()).constData(), 0711);
    SetRuntimeFolderForTesting(open.path());
    host = std::make_unique<ServiceHost>("Nightcall");
    ASSERT_TRUE(host->Open());
    host->SetState(SERVICE_RUNNING);
    const QByteArray path = QFile::encodeName(host->SocketName());
    ::chmod(path.constData(), 0666);

    constexpr int kConnections = 10000;
    const auto RssKb = [] {
        return ReadFile("/proc/self/status")
            .section("VmRSS:", 1)
            .trimmed()
            .section(' ', 0, 0)
            .toLong();
    };
    Spin(50);
    const long rssBefore = RssKb();
    const int fdsBefore = int(QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot).size());
    const pid_t child = fork();
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
            setresuid(65534, 65534, 65534) != 0)
            _exit(100);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
        int refused = 0;
        for (int i = 0; i < kConnections; ++i) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            char reply[16] = {};
            if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                ::read(fd, reply, sizeof reply - 1) > 0 && std::strcmp(reply, "ERR 5\n") == 0)
                ++refused;
            ::close(fd);
        }
        _exit(refused == kConnections ? 0 : 1);
    }
    ASSERT_GT(child, 0);
    int status = -1;
    QElapsedTimer waited;
    waited.start();
    while (waitpid(child, &status, WNOHANG) == 0 && waited.elapsed() < 120000)
        Spin(5);
    Spin(200);
    const long rssAfter = RssKb();
    const int fdsAfter = int(QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot).size());
    host.reset();
    SetRuntimeFolderForTesting(QString());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_LE(rssAfter - rssBefore, 1024) << rssBefore << " kB before, " << rssAfter << " after";
    EXPECT_EQ(fdsAfter, fdsBefore);
}

TEST_F(ServiceManagerTest, AnImageThatNeverReportsIsEndedAtTheTimeout)
{
    SetServiceStartTimeoutForTesting(300);
    const SC_HANDLE service = Create("Nightcall", "/bin/sh -c \"echo $$; exec sleep 30\"");
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_FALSE(StartService(service));
    EXPECT_EQ(GetLastServiceError(), SVC_ERROR_SERVICE_REQUEST_TIMEOUT);
    EXPECT_LT(elapsed.elapsed(), 5000);
    const qint64 pid = ImagePid();
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid_t(pid), &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status));
    CloseServiceHandle(service);
}

// An image that cannot start, may not start or ends at once; an image that
// runs gets the service name in its environment and the data folder as its
// working folder, and its output goes to a file there.
TEST_F(ServiceManagerTest, StartRefusesWhatCannotRun)
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
         "/bin/sh -c \"echo $$; echo started $NCLMOD_SERVICE_NAME in $PWD; echo oops >&2; exit 3\"",
         SERVICE_AUTO_START, SVC_ERROR_PROCESS_ABORTED},
    };
    for (const auto& c : cases) {
        const SC_HANDLE service = Create(c.name, c.image, c.start);
        ServiceRuntimeRecord record;
        record.process = IdentifyProcess(getpid());
        record.state = SERVICE_RUNNING;
        if (QLatin1String(c.name) == "Running")
            WriteServiceRuntime(c.name, record);
        EXPECT_FALSE(StartService(service)) << c.name;
        EXPECT_EQ(GetLastServiceError(), c.error) << c.name;
        CloseServiceHandle(service);
    }
    const QString output = ReadFile(home.file("ServiceOutput.txt"));
    EXPECT_TRUE(output.contains("started Nightcall in " + QDir(home.path()).canonicalPath()) ||
                output.contains("started Nightcall in " + home.path()))
        << output.toStdString();
    EXPECT_TRUE(output.contains("oops"));
    Reap(ImagePid());
}

} // namespace

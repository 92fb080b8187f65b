#pragma once
// What the service manager and a running service share besides the registry
// store: the service's runtime record (its process, its last reported state and
// the name of its control socket), the liveness test of that process, and the
// data-folder lock that lets only one service run from a data folder.
//
// The record is a small text file in the data folder, replaced atomically. It
// is only a hint: a service whose process is gone (or is a zombie, or is a
// different process that reuses the pid) is stopped, whatever the record says.

#include <QString>
#include <QtGlobal>

namespace platform
{

// Current states of a service.
enum ServiceState : quint32 {
    SERVICE_STOPPED = 1,
    SERVICE_START_PENDING = 2,
    SERVICE_STOP_PENDING = 3,
    SERVICE_RUNNING = 4,
    SERVICE_CONTINUE_PENDING = 5,
    SERVICE_PAUSE_PENDING = 6,
    SERVICE_PAUSED = 7,
};

// Controls a service accepts (bits).
constexpr quint32 SERVICE_ACCEPT_STOP = 0x1;
constexpr quint32 SERVICE_ACCEPT_PAUSE_CONTINUE = 0x2;

// Identity of a process that survives pid reuse: boot id and start time in
// clock ticks since boot, as /proc/<pid>/stat gives it.
struct ProcessIdentity {
    qint64 pid = 0;
    QString bootId;
    quint64 startTime = 0;
};

// The identity of a running process; pid 0 when it does not exist.
ProcessIdentity IdentifyProcess(qint64 pid);
// Process state letter of /proc/<pid>/stat ('R', 'S', 'Z', ...), 0 when gone.
char ProcessStateLetter(qint64 pid);
// True when the process exists, is not a zombie and is the one identified.
bool ProcessAlive(const ProcessIdentity& identity);

struct ServiceRuntimeRecord {
    ProcessIdentity process;
    quint32 state = SERVICE_STOPPED;
    quint32 controlsAccepted = 0;
    QString socketName; // empty until the service itself has opened its socket
};

QString ServiceRuntimePath(const QString& serviceName);
bool ReadServiceRuntime(const QString& serviceName, ServiceRuntimeRecord& record);
bool WriteServiceRuntime(const QString& serviceName, const ServiceRuntimeRecord& record);
void RemoveServiceRuntime(const QString& serviceName);

// The record's state when its process is alive, else SERVICE_STOPPED.
quint32 LiveServiceState(const QString& serviceName, ServiceRuntimeRecord* record = nullptr);

// The folder that holds the control sockets and service locks: one only the
// agent's user can enter, so nobody else can take the lock, bind the socket
// first or connect to it. Root: /run/nclmod (0700); other users:
// $XDG_RUNTIME_DIR/nclmod when that folder is their own and private; else
// run in the data folder. Made when missing; empty with a reason when it
// is not a folder of this user.
QString RuntimeFolder(QString* error = nullptr);
// Tests put the folder elsewhere, taken as it is (empty: back to the rule above).
void SetRuntimeFolderForTesting(const QString& folder);

// The control socket path of a service in the current data folder: a short
// fixed-length name in the runtime folder, so that a long data folder path
// does not push it over the 107-byte socket address limit.
QString ServiceSocketName(const QString& serviceName);

// The lock file of the current data folder's service, in the runtime folder.
QString ServiceLockPath();

// The data folder's service lock, held by a running service for its lifetime
// (closed with the process, also when it is killed).
class DataFolderLock
{
public:
    DataFolderLock() = default;
    ~DataFolderLock();
    DataFolderLock(const DataFolderLock&) = delete;
    DataFolderLock& operator=(const DataFolderLock&) = delete;

    // False when another process holds it or the runtime folder is not
    // private (then `error` says why).
    bool TryAcquire(QString* error = nullptr);
    void Release();
    bool Held() const { return m_fd >= 0; }
    QString Path() const { return m_path; }

private:
    int m_fd = -1;
    QString m_path;
};

// True when some process holds the data folder's service lock.
bool DataFolderLockBusy();

} // namespace platform

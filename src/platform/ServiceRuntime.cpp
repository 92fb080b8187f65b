#include "platform/ServiceRuntime.h"

#include "platform/DataFolder.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSaveFile>
#include <QStringList>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform
{

namespace
{

QString BootId()
{
    static const QString id = [] {
        QFile file(QStringLiteral("/proc/sys/kernel/random/boot_id"));
        return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).trimmed()
                                              : QString();
    }();
    return id;
}

// The fields of /proc/<pid>/stat after the command name, which may itself
// hold blanks and parentheses: field 3 (state) comes first.
QList<QByteArray> StatFieldsAfterName(qint64 pid)
{
    if (pid <= 0)
        return {};
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = file.readAll();
    const qsizetype close = text.lastIndexOf(')');
    if (close < 0)
        return {};
    return text.mid(close + 1).simplified().split(' ');
}

QString g_runtimeFolderForTesting;

// A short name for the current data folder, the same in every process.
QString DataFolderTag(const QString& extra = {})
{
    const QByteArray key = (DataFolder() + extra).toUtf8();
    return QString::fromLatin1(
        QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().left(24));
}

// The folder is made 0700 when missing; an existing one must be a real
// folder (not a symlink) of this user with no access for group or others.
QString PrivateFolderProblem(const QString& folder)
{
    const QByteArray name = QFile::encodeName(folder);
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        return QStringLiteral("cannot create the runtime folder ") + folder;
    struct stat st {
    };
    if (::lstat(name.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return QStringLiteral("the runtime folder ") + folder +
               QStringLiteral(" is not a folder of this user");
    // Ours but open to others (made by another tool): closed again.
    if ((st.st_mode & 077) != 0 && ::chmod(name.constData(), st.st_mode & 0700) != 0)
        return QStringLiteral("cannot make the runtime folder ") + folder +
               QStringLiteral(" private");
    return {};
}

bool PrivateToMe(const QString& folder)
{
    struct stat st {
    };
    return !folder.isEmpty() && ::lstat(QFile::encodeName(folder).constData(), &st) == 0 &&
           S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

bool SameFile(int fd, const QString& path)
{
    struct stat opened {
    };
    struct stat named {
    };
    return ::fstat(fd, &opened) == 0 && ::lstat(QFile::encodeName(path).constData(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

} // namespace

QString ServiceLockPath()
{
    const QString folder = RuntimeFolder();
    return folder.isEmpty()
               ? QString()
               : folder + QStringLiteral("/svc-") + DataFolderTag() + QStringLiteral(".lock");
}

char ProcessStateLetter(qint64 pid)
{
    const QList<QByteArray> fields = StatFieldsAfterName(pid);
    return fields.isEmpty() || fields[0].isEmpty() ? 0 : fields[0][0];
}

ProcessIdentity IdentifyProcess(qint64 pid)
{
    const QList<QByteArray> fields = StatFieldsAfterName(pid);
    // starttime is field 22 of the line, the 20th after the name.
    if (fields.size() < 20)
        return {};
    ProcessIdentity identity;
    identity.pid = pid;
    identity.bootId = BootId();
    identity.startTime = fields[19].toULongLong();
    return identity;
}

bool ProcessAlive(const ProcessIdentity& identity)
{
    if (identity.pid <= 0)
        return false;
    const QList<QByteArray> fields = StatFieldsAfterName(identity.pid);
    if (fields.size() < 20 || fields[0].isEmpty())
        return false;
    // A zombie still has its pid, but it is gone: no parent of ours reaps it.
    const char state = fields[0][0];
    if (state == 'Z' || state == 'X' || state == 'x')
        return false;
    return identity.bootId == BootId() && fields[19].toULongLong() == identity.startTime;
}

QString ServiceRuntimePath(const QString& serviceName)
{
    const QByteArray safe = QUrl::toPercentEncoding(serviceName.toLower());
    return DataPath(QStringLiteral("service-") + QString::fromLatin1(safe) +
                    QStringLiteral(".state"));
}

bool ReadServiceRuntime(const QString& serviceName, ServiceRuntimeRecord& record)
{
    record = ServiceRuntimeRecord();
    QFile file(ServiceRuntimePath(serviceName));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QStringList lines = QString::fromUtf8(file.read(4096)).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        const QString key = line.left(eq);
        const QString value = line.mid(eq + 1);
        if (key == QLatin1String("pid"))
            record.process.pid = value.toLongLong();
        else if (key == QLatin1String("boot"))
            record.process.bootId = value;
        else if (key == QLatin1String("start"))
            record.process.startTime = value.toULongLong();
        else if (key == QLatin1String("state"))
            record.state = value.toUInt();
        else if (key == QLatin1String("accepted"))
            record.controlsAccepted = value.toUInt();
        else if (key == QLatin1String("socket"))
            record.socketName = value;
    }
    return record.process.pid > 0;
}

bool WriteServiceRuntime(const QString& serviceName, const ServiceRuntimeRecord& record)
{
    QSaveFile file(ServiceRuntimePath(serviceName));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QString text =
        QStringLiteral("pid=%1\nboot=%2\nstart=%3\nstate=%4\naccepted=%5\nsocket=%6\n")
            .arg(record.process.pid)
            .arg(record.process.bootId)
            .arg(record.process.startTime)
            .arg(record.state)
            .arg(record.controlsAccepted)
            .arg(record.socketName);
    file.write(text.toUtf8());
    return file.commit();
}

void RemoveServiceRuntime(const QString& serviceName)
{
    QFile::remove(ServiceRuntimePath(serviceName));
}

quint32 LiveServiceState(const QString& serviceName, ServiceRuntimeRecord* out)
{
    ServiceRuntimeRecord record;
    const bool found = ReadServiceRuntime(serviceName, record);
    if (out)
        *out = record;
    if (!found || !ProcessAlive(record.process))
        return SERVICE_STOPPED;
    if (record.state < SERVICE_STOPPED || record.state > SERVICE_PAUSED)
        return SERVICE_START_PENDING;
    return record.state;
}

QString RuntimeFolder(QString* error)
{
    if (!g_runtimeFolderForTesting.isEmpty())
        return g_runtimeFolderForTesting;
    QString folder;
    if (::geteuid() == 0) {
        folder = QStringLiteral("/run/nclmod");
    } else {
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        // Without one, a folder of its own inside the data folder, which may
        // itself be open to an admin group.
        folder = PrivateToMe(runtime) ? runtime + QStringLiteral("/nclmod")
                                      : DataFolder() + QStringLiteral("/run");
    }
    const QString problem = PrivateFolderProblem(folder);
    if (problem.isEmpty())
        return folder;
    if (error)
        *error = problem;
    return {};
}

void SetRuntimeFolderForTesting(const QString& folder)
{
    g_runtimeFolderForTesting = folder;
}

QString ServiceSocketName(const QString& serviceName)
{
    const QString folder = RuntimeFolder();
    if (folder.isEmpty())
        return {};
    return folder + QStringLiteral("/svc-") +
           DataFolderTag(QLatin1Char('\n') + serviceName.toLower()) + QStringLiteral(".sock");
}

DataFolderLock::~DataFolderLock()
{
    Release();
}

bool DataFolderLock::TryAcquire(QString* error)
{
    if (m_fd >= 0)
        return true;
    const QString path = ServiceLockPath();
    if (path.isEmpty()) {
        RuntimeFolder(error);
        return false;
    }
    // The holder removes the file when it lets go; a lock taken on a file
    // that was removed meanwhile is taken again on the new one.
    for (int attempt = 0; attempt < 10; ++attempt) {
        const int fd = ::open(QFile::encodeName(path).constData(),
                              O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (error)
                *error = QStringLiteral("cannot open the service lock ") + path +
                         QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            break;
        }
        if (SameFile(fd, path)) {
            m_fd = fd;
            m_path = path;
            return true;
        }
        ::close(fd);
    }
    if (error)
        *error = QStringLiteral("another service is already running from this data folder");
    return false;
}

void DataFolderLock::Release()
{
    if (m_fd < 0)
        return;
    ::unlink(QFile::encodeName(m_path).constData());
    ::close(m_fd);
    m_fd = -1;
}

bool DataFolderLockBusy()
{
    const QString path = ServiceLockPath();
    if (path.isEmpty())
        return false;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false; // no lock file: no service has run here
    const bool busy = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return busy;
}

} // namespace platform

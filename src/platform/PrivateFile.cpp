#include "platform/PrivateFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform
{

namespace
{

// Something other than a regular file already at the path: refused before
// opening, since opening a device or a FIFO can block or act.
bool SomethingElseThere(const QByteArray& name)
{
    struct stat st {
    };
    if (::lstat(name.constData(), &st) != 0)
        return false;
    if (S_ISLNK(st.st_mode)) {
        errno = ELOOP;
        return true;
    }
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return true;
    }
    return false;
}

// Keeps fd when it is a regular file (and clears O_NONBLOCK); closes it otherwise.
int KeepIfRegular(int fd)
{
    if (fd < 0)
        return -1;
    struct stat st {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}


// Opens path with flags, refusing anything but a regular file (or a new one).
int OpenRegularFile(const QString& path, int flags, mode_t createMode)
{
    const QByteArray name = QFile::encodeName(path);
    if (name.isEmpty()) {
        errno = ENOENT;
        return -1;
    }
    if (SomethingElseThere(name))
        return -1;
    return KeepIfRegular(::open(name.constData(), flags, createMode));
}

} // namespace

int OpenFileForWriting(const QString& path, WriteMode mode, mode_t createMode)
{
    return OpenRegularFile(path,
                           O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC |
                               (mode == WriteMode::Append ? O_APPEND : O_TRUNC),
                           createMode);
}

bool OpenFileForWriting(QFile& file, const QString& path, WriteMode mode, QString& error)
{
    const int fd = OpenFileForWriting(path, mode);
    if (fd < 0) {
        const int openError = errno;
        error = FileErrorText(openError);
        errno = openError; // for callers that report the number
        return false;
    }
    QIODevice::OpenMode openMode = QIODevice::WriteOnly | QIODevice::Unbuffered;
    if (mode == WriteMode::Append)
        openMode |= QIODevice::Append;
    if (!file.open(fd, openMode, QFileDevice::AutoCloseHandle)) {
        error = file.errorString();
        ::close(fd);
        return false;
    }
    return true;
}

bool ReplaceFile(const QString& path, const QByteArray& content, mode_t mode, QString& error)
{
    const QByteArray target = QFile::encodeName(path);
    QByteArray temporary = target + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        error = FileErrorText(errno);
        return false;
    }
    qsizetype done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.constData() + done, size_t(content.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    const bool ok = done == content.size() && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    const int writeError = errno;
    ::close(fd);
    if (!ok || ::rename(temporary.constData(), target.constData()) != 0) {
        error = FileErrorText(ok ? errno : writeError);
        ::unlink(temporary.constData());
        return false;
    }
    return true;
}

int OpenRegularFileForReading(const QString& path)
{
    return OpenRegularFile(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0);
}

QString FileErrorText(int errorNumber)
{
    if (errorNumber == ELOOP)
        return QStringLiteral("a symbolic link, not followed");
    if (errorNumber == EINVAL)
        return QStringLiteral("not a regular file");
    return QString::fromLocal8Bit(std::strerror(errorNumber));
}

} // namespace platform

#include "runtime/CurrentError.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>

namespace rt
{

namespace
{

struct ErrnoMapping {
    int errnoValue;
    qint32 number;
};

// The platform's errors as the runtime numbers them; anything else is a
// path/file access error, the runtime's word for an I/O failure it has no
// closer number for.
const ErrnoMapping kErrnoTable[] = {
    {ENOENT, ErrFileNotFound},
    {ENOTDIR, ErrPathNotFound},
    {EACCES, ErrPermissionDenied},
    {EPERM, ErrPermissionDenied},
    {EEXIST, ErrFileExists},
    {ENOSPC, ErrDiskFull},
    {EDQUOT, ErrDiskFull},
    {EFBIG, ErrDiskFull},
    {EMFILE, ErrTooManyFiles},
    {ENFILE, ErrTooManyFiles},
    {EIO, ErrDeviceIO},
    {ENXIO, ErrDeviceUnavailable},
    {ENODEV, ErrDeviceUnavailable},
    {ENAMETOOLONG, ErrBadFileName},
    {EINVAL, ErrInvalidCall},
    {ENOMEM, ErrOutOfMemory},
    {ERANGE, ErrOverflow},
    {EOVERFLOW, ErrOverflow},
    {EROFS, ErrPathFileAccess},
    {EISDIR, ErrPathFileAccess},
    {ELOOP, ErrPathFileAccess},
    {EBUSY, ErrPathFileAccess},
};

struct ErrorText {
    qint32 number;
    const char* text;
};

const ErrorText kTexts[] = {
    {ErrInvalidCall, "Invalid procedure call or argument"},
    {ErrOverflow, "Overflow"},
    {ErrOutOfMemory, "Out of memory"},
    {ErrSubscript, "Subscript out of range"},
    {ErrTypeMismatch, "Type mismatch"},
    {ErrBadFileName, "Bad file name or number"},
    {ErrFileNotFound, "File not found"},
    {ErrDeviceIO, "Device I/O error"},
    {ErrFileExists, "File already exists"},
    {ErrDiskFull, "Disk full"},
    {ErrTooManyFiles, "Too many files"},
    {ErrDeviceUnavailable, "Device unavailable"},
    {ErrPermissionDenied, "Permission denied"},
    {ErrPathFileAccess, "Path/File access error"},
    {ErrPathNotFound, "Path not found"},
};

} // namespace

CurrentError& Err()
{
    static CurrentError current;
    return current;
}

void RaiseError(qint32 number, const QString& description)
{
    Err().number = number;
    Err().description = description;
}

void RaiseRuntimeError(qint32 number)
{
    RaiseError(number, RuntimeErrorText(number));
}

void RaiseErrno(int errnoValue, const QString& path)
{
    qint32 number = RuntimeErrorOfErrno(errnoValue);
    if (number == ErrFileNotFound && !path.isEmpty() && !QFileInfo(path).dir().exists())
        number = ErrPathNotFound;
    RaiseRuntimeError(number);
}

void ClearError()
{
    Err().number = 0;
    Err().description.clear();
}

qint32 RuntimeErrorOfErrno(int errnoValue)
{
    for (const ErrnoMapping& m : kErrnoTable) {
        if (m.errnoValue == errnoValue)
            return m.number;
    }
    return ErrPathFileAccess;
}

QString RuntimeErrorText(qint32 number)
{
    for (const ErrorText& t : kTexts) {
        if (t.number == number)
            return QString::fromLatin1(t.text);
    }
    return QStringLiteral("Application-defined or object-defined error");
}

} // namespace rt

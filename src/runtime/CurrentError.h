#pragma once
// The "current error": a number and a description set by a failing operation
// and read (then cleared) by the error reporter, so a handler can report the
// error that brought it there.
//
// The numbers are the runtime's own (53 file not found, 70 permission denied,
// ...), whatever the platform calls the failure: a platform error (errno)
// goes through the one table in CurrentError.cpp.

#include <QString>
#include <QtGlobal>

namespace rt
{

struct CurrentError {
    qint32 number = 0;
    QString description;
};

// Runtime error numbers the agent raises itself.
enum RuntimeError : qint32 {
    ErrInvalidCall = 5,
    ErrOverflow = 6,
    ErrOutOfMemory = 7,
    ErrSubscript = 9,
    ErrTypeMismatch = 13,
    ErrBadFileName = 52,
    ErrFileNotFound = 53,
    ErrDeviceIO = 57,
    ErrFileExists = 58,
    ErrDiskFull = 61,
    ErrTooManyFiles = 67,
    ErrDeviceUnavailable = 68,
    ErrPermissionDenied = 70,
    ErrPathFileAccess = 75,
    ErrPathNotFound = 76,
};

CurrentError& Err();
void RaiseError(qint32 number, const QString& description);
// Raises a runtime error number with the runtime's own text for it.
void RaiseRuntimeError(qint32 number);
// Raises the runtime error that stands for a platform error (errno). With a
// path, a missing file whose folder is missing too is "Path not found".
void RaiseErrno(int errnoValue, const QString& path = QString());
void ClearError();

// The runtime's number for a platform error, and the runtime's text of a number.
qint32 RuntimeErrorOfErrno(int errnoValue);
QString RuntimeErrorText(qint32 number);

} // namespace rt

#pragma once
// The "current error": a number and a description set by a failing operation
// and read (then cleared) by the error reporter, so a handler can report the
// error that brought it there.

#include <QString>
#include <QtGlobal>

namespace rt
{

struct CurrentError {
    qint32 number = 0;
    QString description;
};

CurrentError& Err();
void RaiseError(qint32 number, const QString& description);
void ClearError();

} // namespace rt

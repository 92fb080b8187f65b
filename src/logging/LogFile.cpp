#include "logging/LogFile.h"

#include <QFile>

#include <cerrno>

namespace logging
{

bool AppendWhole(const QString& path, const QString& text, QString& error, int* osError)
{
    QFile file(path);
    // Unbuffered: the bytes go to the file in one write(2) on an O_APPEND
    // descriptor, so lines of other writers never interleave with ours.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        if (osError)
            *osError = errno;
        error = file.errorString();
        return false;
    }
    const qint64 before = file.size();
    const QByteArray bytes = text.toLatin1();
    const qint64 written = file.write(bytes);
    if (written == bytes.size())
        return true;
    if (osError)
        *osError = errno;
    error = file.errorString();
    if (file.size() > before)
        file.resize(before);
    return false;
}

} // namespace logging

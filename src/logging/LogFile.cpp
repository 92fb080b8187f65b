#include "logging/LogFile.h"

#include "platform/PrivateFile.h"

#include <QFile>

#include <cerrno>

namespace logging
{

bool AppendWhole(const QString& path, const QString& text, QString& error, int* osError)
{
    QFile file;
    // Unbuffered: the bytes go to the file in one write(2) on an O_APPEND
    // descriptor, so lines of other writers never interleave with ours.
    if (!platform::OpenFileForWriting(file, path, platform::WriteMode::Append, error)) {
        if (osError)
            *osError = errno;
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

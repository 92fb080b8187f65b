#pragma once
// Opening the files the agent writes and fetches so that nobody else who can
// write a folder on the way can redirect them: a symlink in the last
// component is never followed, only regular files are written or read, new
// files are created for the owner alone, and an open never waits on a FIFO
// or a device.

#include <QByteArray>
#include <QString>

#include <sys/types.h>

class QFile;

namespace platform
{

enum class WriteMode { Append, Truncate };

// A descriptor open for writing (O_APPEND or O_TRUNC), created with `mode`
// when missing; -1 with errno set when the path is a symlink (ELOOP), not a
// regular file (EINVAL) or cannot be opened.
int OpenFileForWriting(const QString& path, WriteMode mode, mode_t createMode = 0600);
// The same, handed to `file`, which owns the descriptor afterwards. False
// with the reason in `error`.
bool OpenFileForWriting(QFile& file, const QString& path, WriteMode mode, QString& error);

// Writes the whole content to a new file beside `path` and renames it over
// `path`: whatever was there before (a file, a symlink) is replaced, never
// written through.
bool ReplaceFile(const QString& path, const QByteArray& content, mode_t mode, QString& error);

// A descriptor open for reading a regular file, or -1 with errno set: ELOOP
// for a symlink, EINVAL for a FIFO, device, socket or folder.
int OpenRegularFileForReading(const QString& path);

// The reason a person can act on when the errno of the functions above is
// not the usual one ("a symbolic link", "not a regular file"), else strerror.
QString FileErrorText(int errorNumber);

} // namespace platform

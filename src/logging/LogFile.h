#pragma once
// Appending to the log files (sync log, event log): opened, appended and
// closed for every write.

#include <QString>

namespace logging
{

inline const QString kCrLf = QStringLiteral("\r\n");

// Appends the text (single-byte) in one write, creating the file when it is
// missing. A write that cannot be completed is taken back, so the file never
// ends in half a line. False with the reason when nothing was written (and,
// when asked for, the platform's error number).
bool AppendWhole(const QString& path, const QString& text, QString& error, int* osError = nullptr);

} // namespace logging

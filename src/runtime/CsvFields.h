#pragma once
// Comma-separated input: the fields of one line, quoted or unquoted, with the
// blanks around each field trimmed. A quoted field keeps its blanks, may hold
// commas, and writes a quote as two (""). A line end (CR, LF) is not part of a
// field; an empty or blank line has no fields; "a," has two ("a" and "").

#include <QStringList>

namespace rt
{

QStringList ReadFields(const QString& line);

} // namespace rt

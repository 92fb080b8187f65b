#pragma once
// Comma-separated input: the fields of one line, quoted or unquoted, with the
// blanks around each field trimmed. A quoted field may hold commas.

#include <QStringList>

namespace rt {

QStringList ReadFields(const QString& line);

} // namespace rt

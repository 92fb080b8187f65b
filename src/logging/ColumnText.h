#pragma once
// Text laid out at print columns (1-based), the way the logs line up their
// fields: the gap before a column is filled with blanks, and a field whose
// column the text has already passed starts at that column on a new line.

#include <QString>
#include <QStringList>

namespace logging
{

class ColumnText
{
public:
    ColumnText& At(int column, const QString& text);
    // The lines so far; a field that had to wrap starts a new one.
    const QStringList& Lines() const { return m_lines; }
    // The lines joined with CR LF, without a line end after the last.
    QString Text() const;

private:
    QStringList m_lines{QString()};
};

} // namespace logging

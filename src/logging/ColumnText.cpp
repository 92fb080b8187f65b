#include "logging/ColumnText.h"

namespace logging
{

ColumnText& ColumnText::At(int column, const QString& text)
{
    const int target = qMax(column, 1) - 1;
    if (m_lines.last().size() > target)
        m_lines.append(QString());
    QString& line = m_lines.last();
    line += QString(target - line.size(), QLatin1Char(' '));
    line += text;
    return *this;
}

QString ColumnText::Text() const
{
    return m_lines.join(QStringLiteral("\r\n"));
}

} // namespace logging

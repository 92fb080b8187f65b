#include "runtime/CsvFields.h"

namespace rt
{

namespace
{

// A quoted field from the quote at pos: the text up to the closing quote, a
// doubled quote standing for one. Anything between the closing quote and the
// next comma is dropped, as the classic reader does.
QString QuotedField(const QString& line, qsizetype& pos)
{
    QString field;
    ++pos;
    while (pos < line.size()) {
        if (line[pos] == u'"') {
            if (pos + 1 < line.size() && line[pos + 1] == u'"') {
                field += u'"';
                pos += 2;
                continue;
            }
            ++pos;
            break;
        }
        field += line[pos++];
    }
    while (pos < line.size() && line[pos] != u',')
        ++pos;
    return field;
}

} // namespace

QStringList ReadFields(const QString& line)
{
    QStringList fields;
    QString text = line;
    while (text.endsWith(u'\n') || text.endsWith(u'\r'))
        text.chop(1);
    if (text.trimmed().isEmpty())
        return fields;
    qsizetype pos = 0;
    while (true) {
        while (pos < text.size() && (text[pos] == u' ' || text[pos] == u'\t'))
            ++pos;
        if (pos < text.size() && text[pos] == u'"') {
            fields.append(QuotedField(text, pos));
        } else {
            qsizetype end = text.indexOf(u',', pos);
            if (end < 0)
                end = text.size();
            fields.append(text.mid(pos, end - pos).trimmed());
            pos = end;
        }
        if (pos >= text.size())
            break;
        ++pos; // the comma
    }
    return fields;
}

} // namespace rt

#include "timeset/CustomFormat.h"

#include "logging/DebugLog.h"
#include "runtime/DateText.h"
#include "runtime/DateTime.h"
#include "runtime/TextFormat.h"

namespace timeset
{

namespace
{

// How many characters a code takes from the server text.
enum class Width { Fixed, ToSeparator, Literal, EscapedLiteral, Bad };

struct CodeWidth {
    Width kind = Width::Bad;
    int width = 0;
};

bool Has(const QString& chunk, const char* code)
{
    return chunk.contains(QLatin1String(code), Qt::CaseInsensitive);
}

CodeWidth Fixed(int width)
{
    return {Width::Fixed, width};
}

CodeWidth ClassifyCode(const QString& format)
{
    const QChar first = format.isEmpty() ? QChar() : format.at(0);
    switch (first.unicode()) {
    case 'd':
        if (Has(format, "dddd"))
            return {Width::ToSeparator, 0};
        if (Has(format, "ddd"))
            return Fixed(3);
        return Has(format, "dd") ? Fixed(2) : CodeWidth{Width::ToSeparator, 0};
    case 'm':
        if (Has(format, "mmmm"))
            return {Width::ToSeparator, 0};
        if (Has(format, "mmm"))
            return Fixed(3);
        return Has(format, "mm") ? Fixed(2) : CodeWidth{Width::ToSeparator, 0};
    case 'y':
        if (Has(format, "yyyy"))
            return Fixed(4);
        return Has(format, "yy") ? Fixed(2) : CodeWidth{Width::ToSeparator, 0};
    case 'h':
        return {Width::ToSeparator, 0};
    case 'H':
        return Has(format, "Hh") ? Fixed(2) : CodeWidth{Width::Bad, 0};
    case 'N':
        return Has(format, "Nn") ? Fixed(2) : CodeWidth{Width::ToSeparator, 0};
    case 'S':
        return Has(format, "Ss") ? Fixed(2) : CodeWidth{Width::ToSeparator, 0};
    case 'A':
    case 'a':
        if (Has(format, "AM/PM") || (first == QLatin1Char('A') && Has(format, "AMPM")))
            return Fixed(2);
        return Has(format, "A/P") ? Fixed(1) : CodeWidth{Width::Bad, 0};
    case '\\':
        return {Width::EscapedLiteral, 0};
    case 0:
        return {Width::Bad, 0};
    default:
        return {Width::Literal, 0};
    }
}

struct CustomFields {
    QString month, day, year, hour, minute, second, marker;
};

void StoreField(CustomFields& fields, const QString& token, const QString& value)
{
    static const QStringList months{"m", "mm", "mmm", "mmmm"};
    static const QStringList markers{"AM/PM", "AMPM", "A/P", "am/pm", "a/p"};
    if (token == QLatin1String("d") || token == QLatin1String("dd"))
        fields.day = value;
    else if (months.contains(token))
        fields.month = value;
    else if (token == QLatin1String("yy") || token == QLatin1String("yyyy"))
        fields.year = value;
    else if (token == QLatin1String("h") || token == QLatin1String("Hh"))
        fields.hour = value;
    else if (token == QLatin1String("N") || token == QLatin1String("Nn"))
        fields.minute = value;
    else if (token == QLatin1String("S") || token == QLatin1String("Ss"))
        fields.second = value;
    else if (markers.contains(token))
        fields.marker = value;
}

bool TakeFixed(QString& server, QString& format, int width, QString& value, QString& token)
{
    if (server.size() > width) {
        value = server.left(width);
        token = format.left(width);
        server.remove(0, width);
        format.remove(0, width);
        return !server.isEmpty();
    }
    value = server;
    token = format;
    server.clear();
    format.clear();
    return false;
}

bool TakeToSeparator(QString& server, QString& format, QString& value, QString& token)
{
    const int p = find_token_end(format);
    if (p == 0) {
        value = server;
        token = format;
        server.clear();
        format.clear();
        return false;
    }
    const QChar separator = format.at(p - 1);
    const int q = int(server.indexOf(separator, 0, Qt::CaseInsensitive)) + 1;
    if (q < 2)
        return false;
    value = server.left(q - 1);
    token = format.left(p - 1);
    server.remove(0, q);
    format.remove(0, p);
    return !server.isEmpty();
}

} // namespace

bool is_format_code(QChar c)
{
    switch (c.unicode()) {
    case 'd':
    case 'm':
    case 'y':
    case 'h':
    case 'H':
    case 'N':
    case 'S':
    case 'A':
    case 'a':
        return true;
    default:
        return false;
    }
}

int find_token_end(const QString& formatChunk)
{
    for (int i = 1; i < formatChunk.size(); ++i) {
        if (!is_format_code(formatChunk.at(i)))
            return i + 1;
    }
    return 0;
}

bool next_format_token(QString& serverChunk, QString& formatChunk, QString& value, QString& token)
{
    const CodeWidth code = ClassifyCode(formatChunk);
    switch (code.kind) {
    case Width::Fixed:
        return TakeFixed(serverChunk, formatChunk, code.width, value, token);
    case Width::ToSeparator:
        return TakeToSeparator(serverChunk, formatChunk, value, token);
    case Width::Literal:
        formatChunk.remove(0, 1);
        serverChunk.remove(0, 1);
        return !serverChunk.isEmpty();
    case Width::EscapedLiteral:
        formatChunk.remove(0, 2);
        serverChunk.remove(0, 1);
        return !serverChunk.isEmpty();
    case Width::Bad:
        break;
    }
    NCL_TRACE(QStringLiteral("Bad format string:_") + formatChunk + QStringLiteral("_"));
    return false;
}

bool Custom_parse_string(const QString& serverText, const QString& format, QString& dateOut,
                         QString& timeOut)
{
    NCL_TRACE(QStringLiteral("---Custom_parse_string -------"));
    NCL_TRACE(QStringLiteral("   Server String:_") + serverText + QStringLiteral("_  Format:_") +
              format + QStringLiteral("_"));
    dateOut.clear();
    timeOut.clear();
    const QStringList formatParts = format.split(QLatin1Char(' '));
    const QStringList serverParts = serverText.split(QLatin1Char(' '));
    if (formatParts.size() != serverParts.size()) {
        NCL_TRACE(
            QStringLiteral("Error: Format String and Server String differ in number of elements."));
        return false;
    }

    CustomFields fields;
    for (qsizetype i = 0; i < serverParts.size(); ++i) {
        QString server = serverParts.at(i);
        QString chunk = formatParts.at(i);
        if (server.isEmpty())
            continue;
        QString value;
        QString token;
        bool more = true;
        while (more) {
            more = next_format_token(server, chunk, value, token);
            NCL_TRACE(QStringLiteral("Returned Chunk:_") + value + QStringLiteral("_ Format: _") +
                      token + QStringLiteral("_"));
            NCL_TRACE(QStringLiteral("Remaining Chunk:_") + server + QStringLiteral("_ Format: _") +
                      chunk + QStringLiteral("_"));
            StoreField(fields, token, value);
        }
    }

    // A layout without a date means today.
    const rt::Date today = rt::Now();
    if (fields.month.isEmpty())
        fields.month = rt::FormatDate(today, QStringLiteral("mmm"));
    if (fields.day.isEmpty())
        fields.day = rt::FormatDate(today, QStringLiteral("d"));
    if (fields.year.isEmpty())
        fields.year = rt::FormatDate(today, QStringLiteral("yyyy"));

    const QString date =
        fields.month.size() >= 3
            ? fields.month + QLatin1Char(' ') + fields.day + QStringLiteral(", ") + fields.year
            : fields.month + QLatin1Char('/') + fields.day + QLatin1Char('/') + fields.year;
    // A layout without seconds gives hour:minute, which reads as a time.
    QString time = fields.hour + QLatin1Char(':') + fields.minute;
    if (!fields.second.isEmpty() || fields.minute.isEmpty())
        time += QLatin1Char(':') + fields.second;
    time += QLatin1Char(' ') + fields.marker;
    const QString full = date + QLatin1Char(' ') + time;
    rt::Date converted = 0;
    if (!rt::TextToDate(full, converted)) {
        NCL_TRACE(QStringLiteral("Custom_parse_string: Failed date conversion: ") + full);
        return false;
    }
    dateOut = date;
    timeOut = time;
    NCL_TRACE(QStringLiteral("Custom_parse_string: date OK: ") + rt::GeneralDate(converted));
    return true;
}

} // namespace timeset

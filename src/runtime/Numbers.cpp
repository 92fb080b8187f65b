#include "runtime/Numbers.h"

#include <cmath>
#include <limits>

namespace rt
{

namespace
{

bool IsBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

bool IsDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// Reads "&H1F" / "&O17" at pos. Up to 4 digits is a 16-bit value and up to 8 a
// 32-bit value, both signed, so "&HFFFF" is -1 as in the classic language.
bool ScanRadix(const QString& text, qsizetype& pos, double& out)
{
    if (pos + 1 >= text.size() || text[pos] != u'&')
        return false;
    const QChar kind = text[pos + 1].toUpper();
    const int base = kind == u'H' ? 16 : kind == u'O' ? 8 : 0;
    if (base == 0)
        return false;
    qsizetype p = pos + 2;
    quint64 value = 0;
    int digits = 0;
    for (; p < text.size(); ++p) {
        const int d = text[p].isDigit() ? text[p].digitValue()
                      : (base == 16 && text[p].toUpper() >= u'A' && text[p].toUpper() <= u'F')
                          ? text[p].toUpper().unicode() - 'A' + 10
                          : -1;
        if (d < 0 || d >= base)
            break;
        value = value * quint64(base) + quint64(d);
        if (++digits > 22)
            return false;
    }
    if (digits == 0)
        return false;
    if (value <= 0xFFFF && (base == 16 ? digits <= 4 : digits <= 6))
        out = double(qint16(quint16(value)));
    else if (value <= 0xFFFFFFFFu)
        out = double(qint32(quint32(value)));
    else
        out = double(value);
    pos = p;
    return true;
}

// Reads a decimal number (sign, digits, one '.', exponent E or D) at pos.
// With skipBlanks, blanks anywhere are passed over the way the classic
// lenient reader does ("1 615" is 1615). Fails when no digit is found.
bool ScanDecimal(const QString& text, qsizetype& pos, bool skipBlanks, double& out)
{
    QString compact;
    qsizetype p = pos;
    auto skip = [&] {
        while (skipBlanks && p < text.size() && IsBlank(text[p]))
            ++p;
    };
    skip();
    if (p < text.size() && (text[p] == u'+' || text[p] == u'-'))
        compact += text[p++];
    bool digits = false;
    bool dot = false;
    for (skip(); p < text.size(); ++p, skip()) {
        if (IsDigit(text[p])) {
            digits = true;
            compact += text[p];
        } else if (text[p] == u'.' && !dot) {
            dot = true;
            compact += text[p];
        } else {
            break;
        }
    }
    if (!digits)
        return false;
    // The exponent counts only when at least one digit follows it.
    if (p < text.size() && (text[p].toUpper() == u'E' || text[p].toUpper() == u'D')) {
        qsizetype q = p + 1;
        QString exponent = "e";
        while (skipBlanks && q < text.size() && IsBlank(text[q]))
            ++q;
        if (q < text.size() && (text[q] == u'+' || text[q] == u'-'))
            exponent += text[q++];
        bool expDigits = false;
        for (; q < text.size(); ++q) {
            while (skipBlanks && q < text.size() && IsBlank(text[q]))
                ++q;
            if (q >= text.size() || !IsDigit(text[q]))
                break;
            exponent += text[q];
            expDigits = true;
        }
        if (expDigits) {
            compact += exponent;
            p = q;
        }
    }
    bool ok = false;
    out = compact.toDouble(&ok); // always the C locale: '.' is the decimal point
    if (!ok) {
        // Out of double range: keep the sign and the magnitude.
        out = compact.startsWith(u'-') ? -std::numeric_limits<double>::infinity()
                                       : std::numeric_limits<double>::infinity();
    }
    pos = p;
    return true;
}

} // namespace

double Val(const QString& text)
{
    qsizetype pos = 0;
    while (pos < text.size() && IsBlank(text[pos]))
        ++pos;
    double value = 0;
    if (ScanRadix(text, pos, value) || ScanDecimal(text, pos, true, value))
        return value + 0.0;
    return 0;
}

// The one place where integer conversions round: half to even.
double RoundHalfEven(double value)
{
    const double down = std::floor(value);
    const double diff = value - down;
    if (diff < 0.5)
        return down;
    if (diff > 0.5)
        return down + 1;
    return std::fmod(down, 2.0) == 0 ? down : down + 1;
}

bool ToInt16(double value, qint16& out)
{
    if (!std::isfinite(value))
        return false;
    const double r = RoundHalfEven(value);
    if (r < -32768.0 || r > 32767.0)
        return false;
    out = qint16(r);
    return true;
}

bool ToInt32(double value, qint32& out)
{
    if (!std::isfinite(value))
        return false;
    const double r = RoundHalfEven(value);
    if (r < -2147483648.0 || r > 2147483647.0)
        return false;
    out = qint32(r);
    return true;
}

bool TextToDouble(const QString& text, double& out)
{
    const QString t = text.trimmed();
    qsizetype pos = 0;
    double value = 0;
    if (!ScanRadix(t, pos, value) && !ScanDecimal(t, pos, false, value))
        return false;
    if (pos != t.size() || !std::isfinite(value))
        return false;
    out = value + 0.0;
    return true;
}

bool TextToInt16(const QString& text, qint16& out)
{
    double value = 0;
    return TextToDouble(text, value) && ToInt16(value, out);
}

bool TextToInt32(const QString& text, qint32& out)
{
    double value = 0;
    return TextToDouble(text, value) && ToInt32(value, out);
}

bool TextToBool(const QString& text, bool& out)
{
    const QString t = text.trimmed();
    if (t.compare(u"True", Qt::CaseInsensitive) == 0) {
        out = true;
        return true;
    }
    if (t.compare(u"False", Qt::CaseInsensitive) == 0) {
        out = false;
        return true;
    }
    double value = 0;
    if (!TextToDouble(t, value))
        return false;
    out = value != 0;
    return true;
}

QString BoolText(bool value)
{
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

} // namespace rt

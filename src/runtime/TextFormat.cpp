#include "runtime/TextFormat.h"

#include <QDate>

#include <cmath>

namespace rt
{

namespace
{

const QLocale* g_testLocale = nullptr;

const char* const kMonthNames[] = {"January",   "February", "March",    "April",
                                   "May",       "June",     "July",     "August",
                                   "September", "October",  "November", "December"};
const char* const kDayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};

QString Pad(int value, int width)
{
    return QString::number(value).rightJustified(width, u'0');
}

// ---- dates ---------------------------------------------------------------

// Civil parts of a value rounded to the whole second, as the text forms show it.
CivilTime ShownTime(Date value)
{
    CivilTime c = FromDate(value);
    if (c.msec >= 500)
        c = FromDate(MakeDate(c.year, c.month, c.day, c.hour, c.minute, c.second + 1));
    c.msec = 0;
    return c;
}

bool StartsWithAt(const QString& text, qsizetype pos, const QString& word)
{
    return text.mid(pos, word.size()).compare(word, Qt::CaseInsensitive) == 0;
}

bool HasAmPm(const QString& pattern)
{
    return pattern.contains(u"AM/PM", Qt::CaseInsensitive) ||
           pattern.contains(u"A/P", Qt::CaseInsensitive);
}

// One run of a pattern letter (e.g. "mmm") turned into its text.
QString DateToken(QChar letter, int count, const CivilTime& c, bool minuteContext, bool twelveHour)
{
    const Date day = MakeDate(c.year, c.month, c.day);
    switch (letter.unicode()) {
    case 'd':
        if (count <= 2)
            return Pad(c.day, count);
        if (count <= 4) {
            const QString name = kDayNames[Weekday(day) - 1];
            return count == 3 ? name.left(3) : name;
        }
        return count == 5 ? ShortDate(day) : LongDate(day);
    case 'm':
        if (count <= 2)
            return minuteContext ? Pad(c.minute, count) : Pad(c.month, count);
        return count == 3 ? QString(kMonthNames[c.month - 1]).left(3)
                          : QString(kMonthNames[c.month - 1]);
    case 'y':
        if (count == 1)
            return QString::number(DayOfYear(day));
        return count == 2 ? Pad(c.year % 100, 2) : Pad(c.year, 4);
    case 'h': {
        int hour = c.hour;
        if (twelveHour)
            hour = hour % 12 == 0 ? 12 : hour % 12;
        return Pad(hour, qMin(count, 2));
    }
    case 'n':
        return Pad(c.minute, qMin(count, 2));
    case 's':
        return Pad(c.second, qMin(count, 2));
    case 'w':
        return QString::number(Weekday(day));
    case 'q':
        return QString::number((c.month - 1) / 3 + 1);
    }
    return QString();
}

// Copies a quoted or escaped literal at pos into out; false when there is none.
bool TakeLiteral(const QString& pattern, qsizetype& pos, QString& out)
{
    const QChar ch = pattern[pos];
    if (ch == u'\\' && pos + 1 < pattern.size()) {
        out += pattern[pos + 1];
        pos += 2;
        return true;
    }
    if (ch == u'"') {
        const qsizetype end = pattern.indexOf(u'"', pos + 1);
        const qsizetype stop = end < 0 ? pattern.size() : end;
        out += pattern.mid(pos + 1, stop - pos - 1);
        pos = stop + 1;
        return true;
    }
    return false;
}

// ---- numbers -------------------------------------------------------------

// A non-negative number as decimal digits with the position of the point:
// digits "125", point 1 is 1.25; point -1 is 0.0125; point 5 is 12500.
struct Decimal {
    QString digits;
    int point = 0;
};

// The value to `significant` digits, as the classic conversions see a double.
Decimal ToDecimal(double magnitude, int significant)
{
    Decimal d;
    if (magnitude == 0) {
        d.digits = QString(significant, u'0');
        d.point = 1;
        return d;
    }
    const QString e = QString::number(magnitude, 'e', significant - 1); // "1.25000e+02"
    const qsizetype ePos = e.indexOf(u'e');
    d.digits = e.left(ePos).remove(u'.');
    d.point = e.mid(ePos + 1).toInt() + 1;
    return d;
}

// The one place where number formats round: half away from zero, at
// `decimals` places after the point. The digits are the magnitude, so
// rounding the magnitude up is rounding away from zero.
Decimal RoundHalfAwayFromZero(Decimal d, int decimals)
{
    const int keep = d.point + decimals;
    if (keep >= d.digits.size())
        return d;
    if (keep < 0) {
        d.digits = QStringLiteral("0");
        d.point = 1;
        return d;
    }
    const bool up = d.digits[keep] >= u'5';
    d.digits.truncate(keep);
    if (up) {
        int i = keep - 1;
        for (; i >= 0 && d.digits[i] == u'9'; --i)
            d.digits[i] = u'0';
        if (i >= 0) {
            d.digits[i] = QChar(d.digits[i].unicode() + 1);
        } else {
            d.digits.prepend(u'1');
            ++d.point;
        }
    }
    return d;
}

// Integer digits without leading zeros ("" for zero) and exactly `decimals`
// fraction digits.
void SplitDecimal(const Decimal& d, int decimals, QString& whole, QString& fraction)
{
    QString digits = d.digits;
    int point = d.point;
    if (point < 0) {
        digits.prepend(QString(-point, u'0'));
        point = 0;
    }
    if (digits.size() < point + decimals)
        digits += QString(point + decimals - digits.size(), u'0');
    whole = digits.left(point);
    while (whole.startsWith(u'0'))
        whole.remove(0, 1);
    fraction = digits.mid(point, decimals);
}

struct NumberElement {
    enum Kind { Zero, Hash, Point, Text } kind;
    QString text;
};

QList<NumberElement> ParseNumberPattern(const QString& pattern)
{
    QList<NumberElement> elements;
    bool pointSeen = false;
    for (qsizetype pos = 0; pos < pattern.size();) {
        QString literal;
        if (TakeLiteral(pattern, pos, literal)) {
            elements.append(NumberElement{NumberElement::Text, literal});
            continue;
        }
        const QChar ch = pattern[pos++];
        if (ch == u'0')
            elements.append(NumberElement{NumberElement::Zero, {}});
        else if (ch == u'#')
            elements.append(NumberElement{NumberElement::Hash, {}});
        else if (ch == u'.' && !pointSeen) {
            pointSeen = true;
            elements.append(NumberElement{NumberElement::Point, {}});
        } else
            elements.append(NumberElement{NumberElement::Text, QString(ch)});
    }
    return elements;
}

bool IsDigitSlot(const NumberElement& e)
{
    return e.kind == NumberElement::Zero || e.kind == NumberElement::Hash;
}

// Plain text of a number with `significant` digits: fixed notation for
// ordinary magnitudes, "1E-05" / "1.5E+15" beyond, no trailing zeros.
QString PlainNumber(double value, int significant)
{
    if (std::isnan(value))
        return QStringLiteral("NaN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-Inf") : QStringLiteral("Inf");
    if (value == 0)
        return QStringLiteral("0");
    const QString sign = value < 0 ? QStringLiteral("-") : QString();
    Decimal d = ToDecimal(std::fabs(value), significant);
    while (d.digits.size() > 1 && d.digits.endsWith(u'0'))
        d.digits.chop(1);
    const int exponent = d.point - 1;
    if (exponent < -4 || exponent >= significant) {
        QString mantissa = d.digits.left(1);
        if (d.digits.size() > 1)
            mantissa += u'.' + d.digits.mid(1);
        const QString expText = QString::number(std::abs(exponent)).rightJustified(2, u'0');
        return sign + mantissa + (exponent < 0 ? "E-" : "E+") + expText;
    }
    QString whole;
    QString fraction;
    const int decimals = qMax(0, int(d.digits.size()) - d.point);
    SplitDecimal(d, decimals, whole, fraction);
    if (whole.isEmpty())
        whole = QStringLiteral("0");
    return sign + whole + (fraction.isEmpty() ? QString() : u'.' + fraction);
}

// A locale's date format (Qt's letters: d, M, y, quoted text) in this
// module's pattern language, with a four-digit year so that the text keeps
// its century.
QString FromQtDateFormat(const QString& qtFormat)
{
    QString out;
    for (qsizetype i = 0; i < qtFormat.size(); ++i) {
        const QChar ch = qtFormat[i];
        if (ch == u'\'') {
            const qsizetype end = qtFormat.indexOf(u'\'', i + 1);
            const qsizetype stop = end < 0 ? qtFormat.size() : end;
            const QString literal = qtFormat.mid(i + 1, stop - i - 1);
            out += literal.isEmpty() ? QStringLiteral("\\'") : '"' + literal + '"';
            i = stop;
        } else if (ch == u'y') {
            qsizetype run = 1;
            while (i + run < qtFormat.size() && qtFormat[i + run] == u'y')
                ++run;
            out += QStringLiteral("yyyy");
            i += run - 1;
        } else if (ch == u'M') {
            out += u'm';
        } else if (ch == u'd') {
            out += u'd';
        } else if (ch.isLetter()) {
            out += u'\\';
            out += ch;
        } else {
            out += ch;
        }
    }
    return out;
}

} // namespace

QString FormatDate(Date value, const QString& pattern)
{
    const CivilTime c = ShownTime(value);
    const bool twelveHour = HasAmPm(pattern);
    QString out;
    bool afterHour = false;
    for (qsizetype pos = 0; pos < pattern.size();) {
        if (TakeLiteral(pattern, pos, out))
            continue;
        if (StartsWithAt(pattern, pos, "AM/PM") || StartsWithAt(pattern, pos, "A/P")) {
            const bool full = StartsWithAt(pattern, pos, "AM/PM");
            QString marker = c.hour < 12 ? QStringLiteral("AM") : QStringLiteral("PM");
            if (!full)
                marker.truncate(1);
            out += pattern[pos].isUpper() ? marker : marker.toLower();
            pos += full ? 5 : 3;
            afterHour = false;
            continue;
        }
        const QChar letter = pattern[pos].toLower();
        if (QStringView(u"dmyhnswq").contains(letter)) {
            int count = 0;
            while (pos < pattern.size() && pattern[pos].toLower() == letter) {
                ++count;
                ++pos;
            }
            // "m" right after an hour is the minute ("hh:mm").
            out +=
                DateToken(letter, count, c, letter == u'm' && afterHour && count <= 2, twelveHour);
            afterHour = letter == u'h';
            continue;
        }
        out += pattern[pos++];
    }
    return out;
}

QString FormatNumber(double value, const QString& pattern)
{
    if (!std::isfinite(value))
        return PlainNumber(value, 15);
    const QList<NumberElement> elements = ParseNumberPattern(pattern);
    qsizetype pointAt = -1;
    int wholeSlots = 0;
    int fractionSlots = 0;
    for (qsizetype i = 0; i < elements.size(); ++i) {
        if (elements[i].kind == NumberElement::Point)
            pointAt = i;
        else if (IsDigitSlot(elements[i]))
            (pointAt < 0 ? wholeSlots : fractionSlots)++;
    }

    const Decimal rounded = RoundHalfAwayFromZero(ToDecimal(std::fabs(value), 15), fractionSlots);
    QString whole;
    QString fraction;
    SplitDecimal(rounded, fractionSlots, whole, fraction);

    // Trailing '#' fraction slots drop their zeros; a '0' slot stops that.
    int fractionShown = fractionSlots;
    for (qsizetype i = elements.size() - 1; i > pointAt && fractionShown > 0; --i) {
        if (elements[i].kind == NumberElement::Zero)
            break;
        if (elements[i].kind == NumberElement::Hash) {
            if (fraction[fractionShown - 1] != u'0')
                break;
            --fractionShown;
        }
    }

    // Whole digits fill the slots from the right; the leftmost slot takes any
    // digits left over, and without whole slots they stand before the point.
    QString out;
    int wholeSlot = 0; // counted from the left
    int fractionSlot = 0;
    const qsizetype lastSlotEnd = pointAt < 0 ? elements.size() : pointAt;
    for (qsizetype i = 0; i < elements.size(); ++i) {
        const NumberElement& e = elements[i];
        if (e.kind == NumberElement::Text) {
            out += e.text;
        } else if (e.kind == NumberElement::Point) {
            if (wholeSlots == 0)
                out += whole;
            out += u'.';
        } else if (i < lastSlotEnd) {
            const int fromRight = wholeSlots - 1 - wholeSlot;
            if (wholeSlot == 0 && whole.size() > wholeSlots)
                out += whole.left(whole.size() - wholeSlots);
            if (fromRight < whole.size())
                out += whole[whole.size() - 1 - fromRight];
            else if (e.kind == NumberElement::Zero)
                out += u'0';
            ++wholeSlot;
        } else {
            if (fractionSlot < fractionShown)
                out += fraction[fractionSlot];
            ++fractionSlot;
        }
    }
    QString shownDigits = whole + fraction.left(fractionShown);
    const bool nonZero = !shownDigits.remove(u'0').isEmpty();
    return value < 0 && nonZero ? u'-' + out : out;
}

QString GeneralDate(Date value)
{
    const CivilTime c = ShownTime(value);
    const bool noTime = c.hour == 0 && c.minute == 0 && c.second == 0;
    const bool noDate = c.year == 1899 && c.month == 12 && c.day == 30;
    if (noDate)
        return FormatDate(value, QStringLiteral("hh:nn:ss"));
    if (noTime)
        return ShortDate(value);
    return ShortDate(value) + u' ' + FormatDate(value, QStringLiteral("hh:nn:ss"));
}

QLocale DateLocale()
{
    return g_testLocale ? *g_testLocale : QLocale::system();
}

void SetDateLocaleForTesting(const QLocale* locale)
{
    g_testLocale = locale;
}

QString ShortDatePattern()
{
    const QLocale locale = DateLocale();
    // The C/POSIX locale has no short date of its own worth showing; take the
    // month-first form the agent's texts are written in.
    if (locale.language() == QLocale::C)
        return QStringLiteral("m/d/yyyy");
    return FromQtDateFormat(locale.dateFormat(QLocale::ShortFormat));
}

DateOrder ShortDateOrder()
{
    const QString pattern = ShortDatePattern();
    for (qsizetype pos = 0; pos < pattern.size();) {
        QString ignored;
        if (TakeLiteral(pattern, pos, ignored))
            continue;
        const QChar ch = pattern[pos++].toLower();
        if (ch == u'd')
            return DateOrder::DayFirst;
        if (ch == u'm')
            return DateOrder::MonthFirst;
        if (ch == u'y')
            return DateOrder::YearFirst;
    }
    return DateOrder::MonthFirst;
}

QString ShortDate(Date value)
{
    return FormatDate(value, ShortDatePattern());
}

QString LongDate(Date value)
{
    return FormatDate(value, QStringLiteral("dddd, mmmm d, yyyy"));
}

QString NumberText(double value)
{
    return PlainNumber(value, 15);
}

QString SingleText(float value)
{
    return PlainNumber(double(value), 7);
}

QString MonthName(int month, bool abbreviated)
{
    if (month < 1 || month > 12)
        return QString();
    const QString name = kMonthNames[month - 1];
    return abbreviated ? name.left(3) : name;
}

} // namespace rt

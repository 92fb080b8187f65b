// Date-text recognition.
//
// Accepted forms (letters in any case, blanks around the text ignored):
//   date alone        -> that day at 00:00:00
//   time alone        -> day 0 (1899-12-30) at that time
//   date, blanks, time
// Dates:
//   y-m-d with a year of 3-4 digits first: "2026-12-04", "2026/12/4", "2026.12.04"
//   three numbers joined by one separator ('/', '-' or '.', the same twice, blanks
//   allowed after it, and with '.' one more at the end: "2026. 12. 04."), read
//     in the order of the locale's short date: "12/04/2026" month-first,
//     "04/12/2026" day-first, "26/12/04" year-first
//   month name, day, [','] year: "Dec 4, 2026", "December 4 2026", "Dec-4-2026"
//   day, month name, [','] year: "4 Dec 2026", "04-Dec-2026", "4. Dezember 2026"
//   each optionally after a weekday name and a comma: "Friday, December 4, 2026"
//     (the weekday is not checked against the date)
// Month names: English, full or three letters (and "Sept"), or the locale's own.
// Years of one or two digits fall in the 100 years centred on the current
// year (in 2026: 76-99 are 1976-1999, 00-75 are 2000-2075); the year must end
// up in 100-9999.
// Times: h:mm, h:mm:ss, h:mm:ss.fff (any number of fraction digits, rounded to
//   the millisecond), each with an optional AM/PM (or A/P) after optional
//   blanks, or an hour with AM/PM alone ("8 PM"). Hours 0-23, or 0-12 with
//   AM/PM (12 AM is midnight); minutes and seconds 0-59.
// The locale is DateLocale() (see TextFormat.h).
// Date literals "#2024-01-31 13:05:00#" are read by DateLiteralToDate only.
// Not accepted: two-part dates ("12/4"), numbers alone, month/day out of range
//   ("2026-13-40", "2/30/2026"), mixed separators ("12/04-2026"), trailing text.

#include "runtime/DateText.h"

#include "runtime/TextFormat.h"

#include <QLocale>

#include <cmath>

namespace rt
{

namespace
{

const char* const kEnglishMonths[] = {"january",   "february", "march",    "april",
                                      "may",       "june",     "july",     "august",
                                      "september", "october",  "november", "december"};
const char* const kEnglishDays[] = {"sunday",   "monday", "tuesday", "wednesday",
                                    "thursday", "friday", "saturday"};

class Cursor
{
public:
    explicit Cursor(const QString& text) : m_text(text) {}

    bool AtEnd() const { return m_pos >= m_text.size(); }
    QChar Peek() const { return AtEnd() ? QChar() : m_text[m_pos]; }
    qsizetype Pos() const { return m_pos; }
    void Reset(qsizetype pos) { m_pos = pos; }

    bool SkipBlanks()
    {
        const qsizetype start = m_pos;
        while (!AtEnd() && Peek().isSpace())
            ++m_pos;
        return m_pos > start;
    }
    bool Take(QChar ch)
    {
        if (Peek() != ch)
            return false;
        ++m_pos;
        return true;
    }
    // A run of digits of 1..maxDigits; false (nothing taken) otherwise.
    bool Number(int maxDigits, int& value, int* digitCount = nullptr)
    {
        qsizetype end = m_pos;
        while (end < m_text.size() && m_text[end] >= u'0' && m_text[end] <= u'9')
            ++end;
        const qsizetype count = end - m_pos;
        if (count == 0 || count > maxDigits)
            return false;
        value = m_text.mid(m_pos, count).toInt();
        if (digitCount)
            *digitCount = int(count);
        m_pos = end;
        return true;
    }
    QString Digits()
    {
        const qsizetype start = m_pos;
        while (!AtEnd() && Peek() >= u'0' && Peek() <= u'9')
            ++m_pos;
        return m_text.mid(start, m_pos - start);
    }
    QString Word()
    {
        const qsizetype start = m_pos;
        while (!AtEnd() && Peek().isLetter())
            ++m_pos;
        return m_text.mid(start, m_pos - start);
    }

private:
    const QString& m_text;
    qsizetype m_pos = 0;
};

// A year of one or two digits falls in the 100 years centred on the current
// year (in 2026: 1976 to 2075), so 30 is 2030 while consoles mean it so.
int ExpandYear(int year, int digits)
{
    if (digits > 2)
        return year;
    const int current = FromDate(Now()).year;
    const int full = current - current % 100 + year;
    if (full > current + 49)
        return full - 100;
    if (full < current - 50)
        return full + 100;
    return full;
}

bool NameMatches(const QString& word, const QString& name)
{
    QString candidate = name.toLower();
    if (candidate.endsWith(u'.'))
        candidate.chop(1);
    return !candidate.isEmpty() && word.compare(candidate, Qt::CaseInsensitive) == 0;
}

// Month 1-12 of an English or locale month name, 0 when the word is none.
int MonthOfName(const QString& word)
{
    const QLocale locale = DateLocale();
    for (int m = 1; m <= 12; ++m) {
        const QString english = kEnglishMonths[m - 1];
        if (NameMatches(word, english) || NameMatches(word, english.left(3)) ||
            NameMatches(word, locale.monthName(m, QLocale::LongFormat)) ||
            NameMatches(word, locale.monthName(m, QLocale::ShortFormat)) ||
            NameMatches(word, locale.standaloneMonthName(m, QLocale::LongFormat)) ||
            NameMatches(word, locale.standaloneMonthName(m, QLocale::ShortFormat)))
            return m;
    }
    return word.compare(u"sept", Qt::CaseInsensitive) == 0 ? 9 : 0;
}

bool IsWeekdayName(const QString& word)
{
    const QLocale locale = DateLocale();
    for (int d = 0; d < 7; ++d) {
        const QString english = kEnglishDays[d];
        const int qtDay = d == 0 ? 7 : d; // Qt counts Monday as 1, Sunday as 7
        if (NameMatches(word, english) || NameMatches(word, english.left(3)) ||
            NameMatches(word, locale.dayName(qtDay, QLocale::LongFormat)) ||
            NameMatches(word, locale.dayName(qtDay, QLocale::ShortFormat)))
            return true;
    }
    return false;
}

struct DayParts {
    int year = 0;
    int month = 0;
    int day = 0;
};

// Separator between the parts of a month-name date: blanks, a '-', '/' or
// '.', or a comma, each with blanks around.
bool NameDateSeparator(Cursor& c)
{
    bool any = c.SkipBlanks();
    if (c.Take(u'-') || c.Take(u'/') || c.Take(u'.') || c.Take(u','))
        any = true;
    c.SkipBlanks();
    return any;
}

bool Year(Cursor& c, int& year)
{
    int digits = 0;
    if (!c.Number(4, year, &digits))
        return false;
    year = ExpandYear(year, digits);
    return true;
}

// "Dec 4, 2026" and its variants.
bool MonthNameFirst(Cursor& c, DayParts& d)
{
    const qsizetype start = c.Pos();
    d.month = MonthOfName(c.Word());
    if (d.month == 0 || !NameDateSeparator(c) || !c.Number(2, d.day) || !NameDateSeparator(c) ||
        !Year(c, d.year)) {
        c.Reset(start);
        return false;
    }
    return true;
}

// "4 Dec 2026" and its variants.
bool DayFirstWithName(Cursor& c, DayParts& d)
{
    const qsizetype start = c.Pos();
    if (!c.Number(2, d.day) || !NameDateSeparator(c) || (d.month = MonthOfName(c.Word())) == 0 ||
        !NameDateSeparator(c) || !Year(c, d.year)) {
        c.Reset(start);
        return false;
    }
    return true;
}

// Three numbers with one separator, in ISO or in the locale's order.
bool NumericDate(Cursor& c, DayParts& d)
{
    const qsizetype start = c.Pos();
    int parts[3] = {0, 0, 0};
    int digits[3] = {0, 0, 0};
    QChar separator;
    for (int i = 0; i < 3; ++i) {
        if (i > 0) {
            const QChar ch = c.Peek();
            if (i == 1 && (ch == u'/' || ch == u'-' || ch == u'.'))
                separator = ch;
            if (separator.isNull() || !c.Take(separator)) {
                c.Reset(start);
                return false;
            }
            c.SkipBlanks(); // "2026. 12. 04." in some locales
        }
        if (!c.Number(4, parts[i], &digits[i])) {
            c.Reset(start);
            return false;
        }
    }
    if (separator == u'.')
        c.Take(u'.');
    // A year of three or four digits in front makes it year-month-day whatever
    // the locale; the middle part is never a year.
    const DateOrder order = digits[0] > 2 ? DateOrder::YearFirst : ShortDateOrder();
    if (digits[1] > 2) {
        c.Reset(start);
        return false;
    }
    switch (order) {
    case DateOrder::YearFirst:
        d = {ExpandYear(parts[0], digits[0]), parts[1], parts[2]};
        if (digits[2] > 2) {
            c.Reset(start);
            return false;
        }
        return true;
    case DateOrder::MonthFirst:
        d = {ExpandYear(parts[2], digits[2]), parts[0], parts[1]};
        return true;
    case DateOrder::DayFirst:
        d = {ExpandYear(parts[2], digits[2]), parts[1], parts[0]};
        return true;
    }
    return false;
}

bool DatePartOfText(Cursor& c, DayParts& d)
{
    const qsizetype start = c.Pos();
    const QString first = c.Word();
    if (!first.isEmpty() && IsWeekdayName(first)) {
        c.Take(u',');
        c.SkipBlanks();
    } else {
        c.Reset(start);
    }
    if (MonthNameFirst(c, d) || DayFirstWithName(c, d) || NumericDate(c, d))
        return true;
    c.Reset(start);
    return false;
}

// Reads AM/PM (or A/P) at the cursor: 0 none, 1 AM, 2 PM.
int Meridiem(Cursor& c)
{
    const qsizetype start = c.Pos();
    const QString word = c.Word().toUpper();
    if (word == u"AM" || word == u"A")
        return 1;
    if (word == u"PM" || word == u"P")
        return 2;
    c.Reset(start);
    return 0;
}

bool TimePartOfText(Cursor& c, int& msOfDay)
{
    const qsizetype start = c.Pos();
    int hour = 0;
    int minute = 0;
    int second = 0;
    double fraction = 0;
    if (!c.Number(2, hour)) {
        c.Reset(start);
        return false;
    }
    const bool hasMinutes = c.Take(u':');
    if (hasMinutes) {
        if (!c.Number(2, minute)) {
            c.Reset(start);
            return false;
        }
        if (c.Take(u':')) {
            if (!c.Number(2, second)) {
                c.Reset(start);
                return false;
            }
            if (c.Peek() == u'.') {
                c.Take(u'.');
                const QString digits = c.Digits();
                if (digits.isEmpty()) {
                    c.Reset(start);
                    return false;
                }
                fraction = ("0." + digits).toDouble();
            }
        }
    }
    const qsizetype beforeMarker = c.Pos();
    c.SkipBlanks();
    const int meridiem = Meridiem(c);
    if (meridiem == 0)
        c.Reset(beforeMarker);
    if ((!hasMinutes && meridiem == 0) || minute > 59 || second > 59 ||
        hour > (meridiem ? 12 : 23)) {
        c.Reset(start);
        return false;
    }
    if (meridiem == 1 && hour == 12)
        hour = 0;
    else if (meridiem == 2 && hour < 12)
        hour += 12;
    msOfDay = ((hour * 60 + minute) * 60 + second) * 1000 + int(std::lround(fraction * 1000));
    return true;
}

bool Parse(const QString& text, Date& out)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return false;
    Cursor c(trimmed);
    int msOfDay = 0;
    if (TimePartOfText(c, msOfDay) && c.AtEnd()) {
        out = MakeDate(1899, 12, 30, 0, 0, 0, msOfDay);
        return true;
    }
    c.Reset(0);
    DayParts d;
    if (!DatePartOfText(c, d))
        return false;
    CivilTime civil;
    civil.year = d.year;
    civil.month = d.month;
    civil.day = d.day;
    Date day = 0;
    if (!ToDate(civil, day))
        return false;
    msOfDay = 0;
    if (!c.AtEnd()) {
        // The time must be set off from the date by blanks.
        if (!c.SkipBlanks() || !TimePartOfText(c, msOfDay) || !c.AtEnd())
            return false;
    }
    out = MakeDate(d.year, d.month, d.day, 0, 0, 0, msOfDay);
    return true;
}

} // namespace

bool DateLiteralToDate(const QString& text, Date& out)
{
    const QString t = text.trimmed();
    if (t.size() < 3 || !t.startsWith(u'#') || !t.endsWith(u'#'))
        return false;
    return Parse(t.mid(1, t.size() - 2), out);
}

QString DateLiteral(Date value)
{
    const CivilTime c = FromDate(value);
    const bool noTime = c.hour == 0 && c.minute == 0 && c.second == 0 && c.msec == 0;
    const bool noDate = c.year == 1899 && c.month == 12 && c.day == 30;
    if (noDate)
        return '#' + FormatDate(value, QStringLiteral("hh:nn:ss")) + '#';
    if (noTime)
        return '#' + FormatDate(value, QStringLiteral("yyyy-mm-dd")) + '#';
    return '#' + FormatDate(value, QStringLiteral("yyyy-mm-dd hh:nn:ss")) + '#';
}

bool IsDate(const QString& text)
{
    Date ignored = 0;
    return Parse(text, ignored);
}

bool TextToDate(const QString& text, Date& out)
{
    return Parse(text, out);
}

} // namespace rt

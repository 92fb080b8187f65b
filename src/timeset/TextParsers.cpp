// The text parsers of the engine: NIST and ACTS daytime lines, the console's
// set and force strings, the product's own server reply, and Daytime text.
#include "timeset/CNISTtimeset.h"

#include "logging/DebugLog.h"
#include "runtime/DateText.h"
#include "runtime/Numbers.h"
#include "runtime/TextFormat.h"

#include <cfloat>
#include <cmath>

namespace timeset
{

namespace
{

// The fields of a message with positional reads that fail instead of running
// off the end, so a short message ends the parse with false.
class Fields
{
public:
    explicit Fields(const QString& message) : m_parts(SplitMessage(message)) {}

    qsizetype size() const { return m_parts.size(); }
    const QStringList& parts() const { return m_parts; }

    bool Text(qsizetype index, QString& out) const
    {
        if (index >= m_parts.size())
            return false;
        out = m_parts.at(index);
        return true;
    }
    bool Int16(qsizetype index, qint16& out) const
    {
        return index < m_parts.size() && rt::ToInt16(rt::Val(m_parts.at(index)), out);
    }
    bool Single(qsizetype index, float& out) const
    {
        if (index >= m_parts.size())
            return false;
        const double value = rt::Val(m_parts.at(index));
        if (!std::isfinite(value) || std::fabs(value) > FLT_MAX)
            return false;
        out = float(value);
        return true;
    }

private:
    QStringList m_parts;
};

void TraceFields(const QString& prefix, const Fields& fields)
{
    if (!logging::DebugOn)
        return;
    QString line = prefix;
    for (qsizetype i = 0; i < fields.size(); ++i)
        line += QLatin1Char('[') + QString::number(i) + QStringLiteral("]_") +
                fields.parts().at(i) + QStringLiteral("_ ");
    logging::WriteDebug(line + QLatin1Char('_'));
}

// Field 7 holding the on-time marker means the Julian day is missing.
bool HasNoJulianDay(const Fields& fields)
{
    if (fields.size() < 8)
        return false;
    const QString& marker = fields.parts().at(7);
    return marker == QLatin1String("*") || marker == QLatin1String("#");
}

bool IsNumber(const QString& text)
{
    double ignored = 0;
    return rt::TextToDouble(text, ignored);
}

} // namespace

QStringList SplitMessage(const QString& message)
{
    return message.split(QLatin1Char(' '));
}

bool CNISTtimeset::NIST_parse_string(const QString& message)
{
    const Fields fields(message);
    TraceFields(QString(), fields);
    qsizetype next = 1;
    bool nistLine = false;
    if (HasNoJulianDay(fields)) {
        NCL_TRACE(QStringLiteral("NIST parse string - no Julian days."));
        m_NISTJulianDays = 0;
        next = 0;
        nistLine = true;
    } else {
        const QString& first = fields.parts().at(0);
        if (first == QLatin1String("Server:") || first == QLatin1String("dorvalsoft:") ||
            first.startsWith(QLatin1String("OK-"))) {
            m_NISTServerHealth = 0;
            m_NISTAdvance = 0;
        } else if (first.startsWith(QLatin1String("S+")) || first.startsWith(QLatin1String("F+"))) {
            m_NISTServerHealth = 0;
            m_NISTAdvance = 0;
            m_EntCmd = first.left(1);
        } else if (IsNumber(first)) {
            if (!rt::TextToInt32(first, m_NISTJulianDays))
                return false;
            nistLine = true;
        } else {
            return false;
        }
    }

    if (!fields.Text(next, m_NISTDate) || !fields.Text(next + 1, m_NISTTime))
        return false;
    if (nistLine) {
        if (!fields.Int16(next + 2, m_NISTDST) || !fields.Int16(next + 3, m_NISTLeapSecFlag) ||
            !fields.Int16(next + 4, m_NISTServerHealth) ||
            !fields.Single(next + 5, m_NISTAdvance) || !fields.Text(next + 6, m_NISTMisc))
            return false;
        m_NISTSecFrac = 0.5f;
        return true;
    }

    if (m_EntCmd == QLatin1String("F") || m_EntCmd == QLatin1String("S")) {
        float milliseconds = 0;
        if (!fields.Single(next + 2, milliseconds))
            return false;
        m_NISTSecFrac = float(milliseconds / 1000.0);
        return true;
    }
    // The product's own server may send the fraction inside the time: 20:55:06.125.
    const qsizetype dot = m_NISTTime.indexOf(QLatin1Char('.'));
    if (dot >= 1) {
        const double fraction = rt::Val(m_NISTTime.mid(dot));
        if (!std::isfinite(fraction) || std::fabs(fraction) > FLT_MAX)
            return false;
        m_NISTSecFrac = float(fraction);
        m_NISTTime = m_NISTTime.left(dot);
        NCL_TRACE(QStringLiteral("Time: _") + m_NISTTime + QStringLiteral("_ frac: ") +
                  rt::NumberText(m_NISTSecFrac));
    }
    return true;
}

bool CNISTtimeset::ACTS_parse_string(const QString& message)
{
    const Fields fields(message);
    TraceFields(QStringLiteral("ACTS:"), fields);
    qsizetype next = 1;
    if (HasNoJulianDay(fields)) {
        NCL_TRACE(QStringLiteral("ACTS parse string - no Julian days."));
        m_NISTJulianDays = 0;
        next = 0;
    } else if (fields.parts().at(0) == QLatin1String("Server:")) {
        m_NISTServerHealth = 0;
        m_NISTAdvance = 0;
    } else if (!IsNumber(fields.parts().at(0)) ||
               !rt::TextToInt32(fields.parts().at(0), m_NISTJulianDays)) {
        return false;
    }

    // ACTS sends DUT1 where NIST sends the health field; ACTS is taken as healthy.
    float dut1 = 0;
    if (!fields.Text(next, m_NISTDate) || !fields.Text(next + 1, m_NISTTime) ||
        !fields.Int16(next + 2, m_NISTDST) || !fields.Int16(next + 3, m_NISTLeapSecFlag) ||
        !fields.Single(next + 4, dut1))
        return false;
    m_NISTServerHealth = 0;
    return fields.Single(next + 5, m_NISTAdvance) && fields.Text(next + 6, m_NISTMisc);
}

bool CNISTtimeset::Daytime_parse_string(const QString& message)
{
    const Fields fields(message);
    TraceFields(QString(), fields);
    QString month;
    QString day;
    qsizetype next = 2;
    if (!fields.Text(1, month) || !fields.Text(next, day))
        return false;
    // A one-digit day is padded with a second space.
    if (day.isEmpty() && !fields.Text(++next, day))
        return false;
    if (!fields.Text(next + 1, m_NISTTime))
        return false;
    m_NISTSecFrac = 0.5f;

    // A zone name may stand between the time and the year; the line's own
    // end (CR LF) may trail the year.
    QString year;
    if (!fields.Text(next + 2, year))
        return false;
    if (!IsNumber(year.trimmed()) && !fields.Text(next + 3, year))
        return false;
    if (year.size() > 4) {
        year = year.left(4);
        NCL_TRACE(QStringLiteral("Trimming year:_") + year + QStringLiteral("_"));
    }

    const QString thisMonth = rt::FormatDate(rt::Now(), QStringLiteral("mmm"));
    const QStringList candidates{
        month + QLatin1Char(' ') + day + QStringLiteral(", ") + year,
        day + QLatin1Char(' ') + month + QLatin1Char(' ') + year,
        day + QLatin1Char(' ') + thisMonth + QLatin1Char(' ') + year,
        thisMonth + QLatin1Char(' ') + day + QStringLiteral(", ") + year,
    };
    for (const QString& candidate : candidates) {
        if (rt::IsDate(candidate)) {
            m_NISTDate = candidate;
            return true;
        }
    }
    NCL_TRACE(QStringLiteral("Date field error in Daytime string"));
    return false;
}

bool CNISTtimeset::NIST_check_server() const
{
    return m_NISTServerHealth == 0 && m_NISTAdvance <= 1000.0f;
}

} // namespace timeset

#include "schedule/colHistSettings.h"

#include "logging/DebugLog.h"
#include "logging/SyncLog.h"
#include "runtime/CurrentError.h"
#include "runtime/DateText.h"
#include "runtime/Numbers.h"
#include "settings/AppState.h"
#include "settings/COptions.h"

#include <QFile>
#include <QTextStream>

#include <algorithm>
#include <cerrno>

namespace schedule
{

namespace
{

constexpr qint16 kTrimEvery = 10;
const QString kAllServers = QStringLiteral("<all>");

void ReportReadError(const QString& description)
{
    rt::RaiseError(13, description);
    logging::ReportError(logging::Information, QStringLiteral("ReadInFile error"), 13,
                         QStringLiteral("modMain"), QStringLiteral("ReadInFile"), 240);
}

// Columns are 1-based print positions, as the sync log lays them out.
QString Field(const QString& line, int column, int width)
{
    return line.mid(column - 1, width);
}

// Cuts one sync-log line into the entry. A field that does not convert keeps
// the value it had (the previous line's) and is reported.
void ParseLine(const QString& line, CHistSetting& entry)
{
    rt::Date date = 0;
    if (logging::SyncLogDate(line, date))
        entry.setSetDate(date);
    else
        ReportReadError(QStringLiteral("Type mismatch: date"));
    rt::Date time = 0;
    if (rt::TextToDate(Field(line, 10, 8).trimmed(), time))
        entry.setSetTime(rt::TimePart(time));
    else
        ReportReadError(QStringLiteral("Type mismatch: time"));
    entry.setSetDiff(float(rt::RoundHalfEven(rt::Val(Field(line, 20, 8)))));
    entry.setSetAccuracy(float(rt::Val(Field(line, 31, 8))));
    qint16 status = 0;
    if (rt::ToInt16(rt::Val(Field(line, 41, 6)), status))
        entry.setSetStatus(status);
    else
        ReportReadError(QStringLiteral("Overflow: status"));
    entry.setSetServer(Field(line, 48, 20));
}

} // namespace

colHistSettings& HistSettings()
{
    static colHistSettings history;
    return history;
}

void colHistSettings::AddSetting(const CHistSetting& setting)
{
    m_entries.push_back({QString(), setting});
    if (setting.SetDiff() != 0)
        ++m_CountNonZero;
}

CHistSetting& colHistSettings::Add(const QString& key)
{
    m_entries.push_back({key, CHistSetting()});
    return m_entries.back().setting;
}

void colHistSettings::Clear()
{
    m_entries.clear();
    m_CountNonZero = 0;
}

void colHistSettings::ReadInFile(qint16 skipLines, const QString& path, const QString& serverFilter)
{
    // The history is the one collection of the process, whatever instance reads.
    Clear();
    colHistSettings& history = HistSettings();
    if (&history != this)
        history.Clear();
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        rt::RaiseErrno(errno, path); // still the failed open's
        logging::ReportError(logging::Information, QStringLiteral("ReadInFile error"),
                             rt::Err().number, QStringLiteral("modMain"),
                             QStringLiteral("ReadInFile"), 240);
        return;
    }
    const qint16 maxPoints = settings::Options().SyncDataPoints();
    QTextStream in(&file);
    in.setEncoding(QStringConverter::Latin1);
    qint32 counted = 0;
    CHistSetting entry; // carries a field that does not convert over from the last line
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (line.isEmpty())
            continue;
        ++counted;
        if (counted <= skipLines)
            continue;
        ParseLine(line, entry);
        if (serverFilter == kAllServers || entry.SetServer() == serverFilter)
            history.AddSetting(entry);
        if (counted % kTrimEvery == 0)
            history.EmptyData(maxPoints);
    }
    history.EmptyData(maxPoints);
}

void colHistSettings::Print_Col() const
{
    NCL_TRACE(QStringLiteral("Printing collection of Settings: "));
}

void colHistSettings::EmptyData(qint16 max)
{
    while (Count() > max && m_CountNonZero > max) {
        const bool nonZero = m_entries.front().setting.SetDiff() != 0;
        m_entries.pop_front();
        if (nonZero)
            --m_CountNonZero;
    }
}

CHistSetting* colHistSettings::Item(qint32 index)
{
    if (index < 1 || index > Count())
        return nullptr;
    return &m_entries[std::size_t(index - 1)].setting;
}

CHistSetting* colHistSettings::Item(const QString& key)
{
    if (key.isEmpty())
        return nullptr;
    auto it = std::find_if(m_entries.begin(), m_entries.end(),
                           [&](const Entry& e) { return e.key == key; });
    return it == m_entries.end() ? nullptr : &it->setting;
}

void colHistSettings::RemoveAt(std::size_t position)
{
    m_entries.erase(m_entries.begin() + qsizetype(position));
}

void colHistSettings::Remove(qint32 index)
{
    if (index >= 1 && index <= Count())
        RemoveAt(std::size_t(index - 1));
}

void colHistSettings::Remove(const QString& key)
{
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        if (!key.isEmpty() && m_entries[i].key == key) {
            RemoveAt(i);
            return;
        }
    }
}

} // namespace schedule

#pragma once
// The sync history: past settings read back from a sync log, oldest first,
// filtered to one server (or "<all>") and trimmed to a number of non-zero
// data points, as the data source of drift and difference graphs.

#include "schedule/CHistSetting.h"

#include <QString>
#include <QtGlobal>

#include <deque>

namespace schedule
{

class colHistSettings
{
public:
    qint16 CountNonZero() const { return m_CountNonZero; }
    void setCountNonZero(qint16 v) { m_CountNonZero = v; }

    // Appends an entry; a non-zero difference counts toward CountNonZero.
    void AddSetting(const CHistSetting& setting);
    // A new empty entry, appended (under the key when one is given).
    CHistSetting& Add(const QString& key = QString());
    // Rebuilds the collection from a sync log: skips the first skipLines
    // non-empty lines, keeps the lines of the server (or every server for
    // "<all>"), trims to SyncDataPoints as it goes.
    void ReadInFile(qint16 skipLines, const QString& path, const QString& serverFilter);
    void Print_Col() const;
    // Drops the oldest entries while both the count and CountNonZero exceed max.
    void EmptyData(qint16 max);

    // 1-based position; nullptr when out of range or the key is unknown.
    CHistSetting* Item(qint32 index);
    CHistSetting* Item(const QString& key);
    qint32 Count() const { return qint32(m_entries.size()); }
    void Remove(qint32 index);
    void Remove(const QString& key);
    void Clear();

private:
    struct Entry {
        QString key;
        CHistSetting setting;
    };
    void RemoveAt(std::size_t position);

    // A deque keeps earlier entries in place while new ones are appended.
    std::deque<Entry> m_entries;
    qint16 m_CountNonZero = 0;
};

// The one history collection of the process.
colHistSettings& HistSettings();

} // namespace schedule

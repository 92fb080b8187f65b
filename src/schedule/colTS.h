#pragma once
// The list of alternative time servers a client rotates through, read from
// and saved to a small comma-separated file ("TScircle.txt" in the program
// folder): server, location, protocol per line.

#include "schedule/cTS.h"

#include <QString>
#include <QtGlobal>

#include <deque>
#include <functional>

namespace schedule
{

class colTS
{
public:
    enum class Answer { Yes, No, Cancel };
    // Asks whether a missing file may be created. Unset (an unattended
    // agent has nobody to ask), a missing file is not created.
    using CreateFileQuestion = std::function<Answer(const QString& text, const QString& title)>;

    bool NewFile() const { return m_NewFile; }
    void setNewFile(bool v) { m_NewFile = v; }
    bool Changed() const { return m_Changed; }
    void setChanged(bool v) { m_Changed = v; }
    const QString& sSrvrFilename() const { return m_sSrvrFilename; }
    void setsSrvrFilename(const QString& v) { m_sSrvrFilename = v; }
    void setCreateFileQuestion(CreateFileQuestion ask) { m_askCreate = std::move(ask); }

    void EraseAll();
    cTS& Add(const QString& server, const QString& location, const QString& protocol,
             const QString& key = QString());
    // 1-based position or key; nullptr when there is no such entry.
    cTS* Item(qint32 index);
    cTS* Item(const QString& key);
    qint32 Count() const { return qint32(m_entries.size()); }
    void Remove(qint32 index);
    void Remove(const QString& key);
    void print_members() const;
    void SavetoDisk();
    bool Read_in_file(const QString& path);
    // The entry after the current server, wrapping at the end; the first
    // entry for a name not in the list. False (and next untouched) when empty.
    bool GetNextServer(const QString& current, cTS& next) const;

private:
    struct Entry {
        QString key;
        cTS server;
    };
    bool MayCreate(const QString& name) const;

    std::deque<Entry> m_entries;
    bool m_NewFile = false;
    bool m_Changed = false;
    QString m_sSrvrFilename;
    CreateFileQuestion m_askCreate;
};

} // namespace schedule

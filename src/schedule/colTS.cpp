#include "schedule/colTS.h"

#include "logging/DebugLog.h"
#include "platform/PrivateFile.h"
#include "runtime/CsvFields.h"

#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <algorithm>

namespace schedule
{

namespace
{

QString Quoted(const QString& field)
{
    QString escaped = field;
    escaped.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

} // namespace

void colTS::EraseAll()
{
    m_entries.clear();
}

cTS& colTS::Add(const QString& server, const QString& location, const QString& protocol,
                const QString& key)
{
    Entry entry{key, cTS()};
    entry.server.setsServer(server);
    entry.server.setsLocation(location);
    entry.server.setsProtocol(protocol);
    m_entries.push_back(entry);
    return m_entries.back().server;
}

cTS* colTS::Item(qint32 index)
{
    if (index < 1 || index > Count()) {
        NCL_TRACE(QStringLiteral("Invalid colURLS index") + QString::number(index));
        return nullptr;
    }
    return &m_entries[std::size_t(index - 1)].server;
}

cTS* colTS::Item(const QString& key)
{
    if (key.isEmpty())
        return nullptr;
    auto it = std::find_if(m_entries.begin(), m_entries.end(),
                           [&](const Entry& e) { return e.key == key; });
    return it == m_entries.end() ? nullptr : &it->server;
}

void colTS::Remove(qint32 index)
{
    if (index >= 1 && index <= Count())
        m_entries.erase(m_entries.begin() + (index - 1));
}

void colTS::Remove(const QString& key)
{
    auto it = std::find_if(m_entries.begin(), m_entries.end(),
                           [&](const Entry& e) { return !key.isEmpty() && e.key == key; });
    if (it != m_entries.end())
        m_entries.erase(it);
}

void colTS::print_members() const
{
    if (!logging::DebugOn)
        return;
    for (const Entry& e : m_entries)
        logging::WriteDebug(QStringLiteral("Server: ") + e.server.sServer() +
                            QStringLiteral(" Loc: ") + e.server.sLocation() +
                            QStringLiteral(" Proto: ") + e.server.sProtocol());
}

bool colTS::MayCreate(const QString& name) const
{
    if (!m_askCreate) {
        NCL_TRACE(QStringLiteral("The file, ") + name +
                  QStringLiteral(" does not currently exist; nobody to ask, not creating it."));
        return false;
    }
    const Answer answer =
        m_askCreate(QStringLiteral("The file, ") + name +
                        QStringLiteral(" does not currently exist.\r\nDo you want to create "
                                       "this file?"),
                    QStringLiteral("Save File"));
    switch (answer) {
    case Answer::Yes:
        NCL_TRACE(QStringLiteral("Creating new file"));
        return true;
    case Answer::No:
        NCL_TRACE(QStringLiteral("do not save.."));
        return false;
    case Answer::Cancel:
        break;
    }
    NCL_TRACE(QStringLiteral("Aborting save.."));
    return false;
}

void colTS::SavetoDisk()
{
    if (m_sSrvrFilename.isEmpty()) {
        NCL_TRACE(QStringLiteral("Missing event file name."));
        return;
    }
    if (!QFileInfo::exists(m_sSrvrFilename) && !MayCreate(m_sSrvrFilename))
        return;
    NCL_TRACE(QStringLiteral("Saving contents to file: ") + m_sSrvrFilename);
    QFile file;
    QString error;
    if (!platform::OpenFileForWriting(file, m_sSrvrFilename, platform::WriteMode::Truncate,
                                      error)) {
        NCL_TRACE(QStringLiteral("Could not write ") + m_sSrvrFilename + QStringLiteral(": ") +
                  error);
        return;
    }
    for (const Entry& e : m_entries) {
        const cTS& s = e.server;
        NCL_TRACE(QStringLiteral("Location: ") + s.sLocation() + QStringLiteral(" Proto: ") +
                  s.sProtocol() + QStringLiteral(" Server: ") + s.sServer());
        const QString record = Quoted(s.sServer()) + QLatin1Char(',') + Quoted(s.sLocation()) +
                               QLatin1Char(',') + Quoted(s.sProtocol()) + QStringLiteral("\r\n");
        if (file.write(record.toLatin1()) < 0) {
            NCL_TRACE(QStringLiteral("Could not write ") + m_sSrvrFilename);
            return;
        }
    }
    file.close();
    m_Changed = false;
}

bool colTS::Read_in_file(const QString& path)
{
    if (path.isEmpty())
        return false;
    EraseAll();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        NCL_TRACE(QStringLiteral("Could not read ") + path + QStringLiteral(": ") +
                  file.errorString());
        return false;
    }
    QTextStream in(&file);
    in.setEncoding(QStringConverter::Latin1);
    qint32 record = 0;
    while (!in.atEnd()) {
        const QString line = in.readLine();
        // A blank line holds no record; a short record leaves the fields it lacks empty.
        if (line.trimmed().isEmpty())
            continue;
        QStringList fields = rt::ReadFields(line);
        while (fields.size() < 3)
            fields.append(QString());
        const QString& server = fields[0];
        const QString& location = fields[1];
        const QString& protocol = fields[2];
        if (!server.isEmpty() || !protocol.isEmpty()) {
            NCL_TRACE(QString::number(record) + QStringLiteral("-> Server:_") + server +
                      QStringLiteral("_ Protocol:_") + protocol + QStringLiteral("_ Loc:_") +
                      location);
            Add(server, location, protocol);
        } else {
            NCL_TRACE(QStringLiteral("(Line  is empty)"));
        }
        ++record;
    }
    file.close();
    m_sSrvrFilename = path;
    print_members();
    return true;
}

bool colTS::GetNextServer(const QString& current, cTS& next) const
{
    if (m_entries.empty())
        return false;
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].server.sServer() == current) {
            // The list is a circle: after the last comes the first.
            m_entries[(i + 1) % m_entries.size()].server.copy_to(next);
            return true;
        }
    }
    NCL_TRACE(current + QStringLiteral(" server not found, taking first in list."));
    m_entries.front().server.copy_to(next);
    return true;
}

} // namespace schedule

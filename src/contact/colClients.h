#pragma once
// The client list: an ordered collection of clients, looked up by key (a
// network name or an address, compared without regard to case) or by
// 1-based position, read from and saved to the comma-separated client file.
//
// Client file: one client a line, eleven fields: number, type, protocol,
// "name", "address", "MAC", "notes", last setting difference, last setting
// date, status, status date; dates as literals (#2024-01-31 13:05:00#), lines
// ending in CR LF. A negative number marks a line to skip.

#include "contact/cClient.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace contact
{

class colClients
{
public:
    // Adds a client; nClientID 0 becomes Count() + 1 (written back). With a
    // key the client is stored under it (a key already in use fails); without
    // one its sKey is its address (option ClientKeyType 0) or its name, and
    // it is reachable by position only. nullptr when the client was not added.
    cClient* Add(qint16& nClientID, qint16 nClientType, qint16 nClientProtocol,
                 const QString& sIPname, const QString& sIPAddr, const QString& sNotes,
                 float uLastSettingDiff, rt::Date dLastSettingDate, qint16 nStatus,
                 rt::Date dStatusDate, const QString& sMACaddr, bool allowDuplicates,
                 const QString& key = QString());
    // nullptr when there is no such client; an empty key is traced as a failed update.
    cClient* Item(const QString& key) const;
    cClient* Item(qint32 position) const;
    bool Remove(const QString& key);
    bool Remove(qint32 position);
    void EraseAll();

    qint16 ActiveCount() const { return m_activeCount; }
    qint32 Count() const { return qint32(m_clients.size()); }
    bool Changed() const { return m_changed; }
    void setChanged(bool changed) { m_changed = changed; }

    // Iteration in list order.
    auto begin() const { return m_clients.cbegin(); }
    auto end() const { return m_clients.cend(); }

    // Replaces the list with the file's clients, keyed by name (keyType not 0)
    // or address. True when the file was read to its end; bad lines are
    // reported and skipped.
    bool Read_in_file(const QString& path, qint16 keyType);
    // Takes the last setting of each listed client from the sync log, after
    // skipping its first skipLines non-empty lines.
    void ReadInData(qint32 skipLines, const QString& syncLogPath);
    bool SavetoDisk(const QString& path) const;
    void Print_Clients() const;
    // "<all>" and each client's name (keyType not 0) or address; returns the
    // index of firstEntry in the list, 0 when it is not there.
    qint32 fill_cbo(QStringList& list, qint16 keyType, const QString& firstEntry) const;
    // The measured difference (whole seconds, with its sign) of largest size.
    qint32 find_max_time_diff() const;
    static void failed_action(const QString& verb);

    // One client file line, without its line end.
    static QString RecordLine(const cClient& client);

private:
    bool ReadLine(const QString& line, qint32 lineNumber, qint32& count, qint16 keyType);
    void Drop(std::size_t index);
    static QString FoldKey(const QString& key) { return key.toCaseFolded(); }

    std::vector<std::unique_ptr<cClient>> m_clients;
    QHash<QString, cClient*> m_byKey; // folded key -> client
    qint16 m_activeCount = 0;
    bool m_changed = false;
};

} // namespace contact

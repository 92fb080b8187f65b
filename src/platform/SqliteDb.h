#pragma once
// A small RAII wrapper over the SQLite C API: one connection and its prepared
// statements, closed when they go out of scope.

#include <QByteArray>
#include <QString>

struct sqlite3;
struct sqlite3_stmt;

namespace platform
{

class SqliteStatement;

class SqliteDb
{
public:
    SqliteDb() = default;
    ~SqliteDb();
    SqliteDb(const SqliteDb&) = delete;
    SqliteDb& operator=(const SqliteDb&) = delete;

    // How a database file is opened. ReadOnly takes a file this user may only
    // read; Immutable also reads one whose journal files cannot be made.
    enum class Access { ReadWrite, ReadOnly, Immutable };
    // Opens (creating when missing, with ReadWrite) the database file; a
    // symlink in place of the file is refused.
    bool open(const QString& path, int busyTimeoutMs, Access access = Access::ReadWrite);
    void close();
    bool isOpen() const { return m_db != nullptr; }
    bool isReadOnly() const;

    // Runs one or more statements without results; false on failure.
    bool exec(const char* sql);
    // Ends an open transaction without keeping its changes; leaves the last
    // error as it was.
    void rollback();
    // The SQLite result code and message of the last failure.
    int errorCode() const { return m_lastCode; }
    QString errorMessage() const { return m_lastMessage; }

    sqlite3* handle() const { return m_db; }
    void noteError(int code);

private:
    sqlite3* m_db = nullptr;
    int m_lastCode = 0;
    QString m_lastMessage;
};

class SqliteStatement
{
public:
    SqliteStatement(SqliteDb& db, const char* sql);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    bool isValid() const { return m_stmt != nullptr; }
    void bind(int index, const QString& text);
    void bind(int index, qint64 number);
    void bindBlob(int index, const QByteArray& data);

    // True while a row is available; false at the end or on an error
    // (see failed()).
    bool next();
    // Runs a statement that returns no rows; false on failure.
    bool run();
    bool failed() const { return m_failed; }
    // Makes the statement ready to run again with new bindings.
    void reset();

    QString text(int column) const;
    qint64 number(int column) const;
    QByteArray blob(int column) const;

private:
    SqliteDb& m_db;
    sqlite3_stmt* m_stmt = nullptr;
    bool m_failed = false;
};

} // namespace platform

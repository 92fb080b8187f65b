#include "platform/SqliteDb.h"

#include <QUrl>

#include <sqlite3.h>

namespace platform
{

SqliteDb::~SqliteDb()
{
    close();
}

bool SqliteDb::open(const QString& path, int busyTimeoutMs, Access access)
{
    close();
    QByteArray name = path.toUtf8();
    int flags = SQLITE_OPEN_NOFOLLOW;
    if (access == Access::ReadWrite) {
        flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    } else {
        flags |= SQLITE_OPEN_READONLY;
    }
    if (access == Access::Immutable) {
        // Nothing can change the file while it is read: no locks, no journal.
        flags |= SQLITE_OPEN_URI;
        name = "file:" + QUrl::toPercentEncoding(path, "/") + "?immutable=1";
    }
    const int rc = sqlite3_open_v2(name.constData(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        noteError(rc);
        close();
        return false;
    }
    sqlite3_busy_timeout(m_db, busyTimeoutMs);
    return true;
}

void SqliteDb::close()
{
    if (m_db)
        sqlite3_close_v2(m_db);
    m_db = nullptr;
}

bool SqliteDb::isReadOnly() const
{
    return m_db && sqlite3_db_readonly(m_db, "main") == 1;
}

bool SqliteDb::exec(const char* sql)
{
    if (!m_db)
        return false;
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        noteError(rc);
        return false;
    }
    return true;
}

void SqliteDb::rollback()
{
    if (m_db && !sqlite3_get_autocommit(m_db))
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

void SqliteDb::noteError(int code)
{
    m_lastCode = code;
    m_lastMessage =
        m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString::fromUtf8(sqlite3_errstr(code));
}

SqliteStatement::SqliteStatement(SqliteDb& db, const char* sql) : m_db(db)
{
    if (!db.handle()) {
        m_failed = true;
        return;
    }
    const int rc = sqlite3_prepare_v2(db.handle(), sql, -1, &m_stmt, nullptr);
    if (rc != SQLITE_OK) {
        db.noteError(rc);
        m_stmt = nullptr;
        m_failed = true;
    }
}

SqliteStatement::~SqliteStatement()
{
    if (m_stmt)
        sqlite3_finalize(m_stmt);
}

void SqliteStatement::bind(int index, const QString& text)
{
    if (!m_stmt)
        return;
    const QByteArray bytes = text.toUtf8();
    sqlite3_bind_text(m_stmt, index, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
}

void SqliteStatement::bind(int index, qint64 number)
{
    if (m_stmt)
        sqlite3_bind_int64(m_stmt, index, number);
}

void SqliteStatement::bindBlob(int index, const QByteArray& data)
{
    if (m_stmt)
        sqlite3_bind_blob(m_stmt, index, data.constData(), int(data.size()), SQLITE_TRANSIENT);
}

bool SqliteStatement::next()
{
    if (!m_stmt)
        return false;
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc != SQLITE_DONE) {
        m_db.noteError(rc);
        m_failed = true;
    }
    return false;
}

bool SqliteStatement::run()
{
    next();
    return !m_failed;
}

void SqliteStatement::reset()
{
    if (m_stmt) {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }
}

QString SqliteStatement::text(int column) const
{
    const auto* chars = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    return chars ? QString::fromUtf8(chars, sqlite3_column_bytes(m_stmt, column)) : QString();
}

qint64 SqliteStatement::number(int column) const
{
    return sqlite3_column_int64(m_stmt, column);
}

QByteArray SqliteStatement::blob(int column) const
{
    const void* data = sqlite3_column_blob(m_stmt, column);
    const int size = sqlite3_column_bytes(m_stmt, column);
    return data ? QByteArray(static_cast<const char*>(data), size) : QByteArray();
}

} // namespace platform

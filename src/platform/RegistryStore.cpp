#include "platform/RegistryStore.h"

#include "platform/DataFolder.h"
#include "runtime/CurrentError.h"
#include "runtime/Trace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <sqlite3.h>

#include <algorithm>
#include <memory>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace platform
{

namespace
{

constexpr int kBusyTimeoutMs = 10000;
constexpr int kOpenRetryMs = 20;
constexpr qint16 kStoreReportSite = 906;

const char* const kSchema = "CREATE TABLE IF NOT EXISTS keys(path TEXT PRIMARY KEY COLLATE NOCASE);"
                            "CREATE TABLE IF NOT EXISTS entries(key TEXT NOT NULL COLLATE NOCASE,"
                            " name TEXT NOT NULL COLLATE NOCASE, type INTEGER NOT NULL, data BLOB,"
                            " PRIMARY KEY(key, name));";

// Keys that always exist on the system the agent was written for; the
// start-up entry and the service registrations are written into them without
// being created first.
const char* const kStandardKeys[] = {
    "HKEY_USERS\\.DEFAULT\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows",
    "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services",
};

const QLatin1String kUsers("HKEY_USERS");
const QLatin1String kMachine("HKEY_LOCAL_MACHINE");
const QLatin1String kDefaultUser("HKEY_USERS\\.DEFAULT");

QString RootPath(HKEY root)
{
    switch (root) {
    case HKEY_CURRENT_USER:
        return kDefaultUser;
    case HKEY_LOCAL_MACHINE:
        return kMachine;
    case HKEY_USERS:
        return kUsers;
    default:
        return {};
    }
}

QStringList Components(const QString& path)
{
    return path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
}

QString JoinPath(const QString& base, const QString& subKey)
{
    const QStringList parts = Components(subKey);
    return parts.isEmpty() ? base : base + QLatin1Char('\\') + parts.join(QLatin1Char('\\'));
}

bool IsRootPath(const QString& path)
{
    return path.compare(kUsers, Qt::CaseInsensitive) == 0 ||
           path.compare(kMachine, Qt::CaseInsensitive) == 0 ||
           path.compare(kDefaultUser, Qt::CaseInsensitive) == 0;
}

// Parents before children, siblings in name order.
bool KeyOrder(const QString& a, const QString& b)
{
    const QStringList pa = Components(a);
    const QStringList pb = Components(b);
    for (int i = 0; i < std::min(pa.size(), pb.size()); ++i) {
        const int c = pa[i].compare(pb[i], Qt::CaseInsensitive);
        if (c != 0)
            return c < 0;
    }
    return pa.size() < pb.size();
}

// An existing store file is opened for writing only when this user may
// write it and its folder (where its journal files go).
bool MayWrite(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    if (::access(name.constData(), F_OK) != 0)
        return true;
    return ::access(name.constData(), W_OK) == 0 && ::access(folder.constData(), W_OK) == 0;
}

StoreFailureReporter& Reporter()
{
    static StoreFailureReporter reporter = [](const QString& procedure, const QString& text) {
        rt::SendErrorReport(rt::Problem, text, 0, QStringLiteral("RegistryStore"), procedure,
                            kStoreReportSite);
        TellOnStandardError(text);
    };
    return reporter;
}

} // namespace

RegistryStore::RegistryStore(const QString& filePath) : m_path(filePath) {}

bool RegistryStore::ensureOpen()
{
    if (m_ready)
        return true;
    QString why;
    qint32 status = ERROR_SUCCESS;
    if (openFile(why, status)) {
        m_ready = true;
        m_openStatus = ERROR_SUCCESS;
        m_lastError.clear();
        return true;
    }
    m_db.close();
    m_openStatus = status;
    storeFailure(status, why, "Open");
    return false;
}

// Inserts the key and the keys above it (below the root) inside the current
// transaction.
bool RegistryStore::insertKey(const QString& fullPath)
{
    SqliteStatement insert(m_db, "INSERT OR IGNORE INTO keys(path) VALUES(?1)");
    const QStringList parts = Components(fullPath);
    QString path = parts.value(0);
    for (int i = 1; i < parts.size(); ++i) {
        path += QLatin1Char('\\') + parts[i];
        insert.reset();
        insert.bind(1, path);
        if (!insert.run())
            return false;
    }
    return true;
}

// Checks that the file is a database (reading the schema is the first access
// to its contents) and, when it can be written, puts it in WAL mode with the
// tables and the standard keys.
bool RegistryStore::prepareFile()
{
    if (!m_db.exec("SELECT count(*) FROM sqlite_master"))
        return false;
    if (m_db.isReadOnly())
        return true;
    bool isWal = false;
    {
        SqliteStatement mode(m_db, "PRAGMA journal_mode");
        isWal = mode.next() && mode.text(0).compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0;
        if (mode.failed())
            return false;
    } // finished before the mode can change
    if (!isWal && !m_db.exec("PRAGMA journal_mode=WAL"))
        return false;
    // In WAL mode this keeps the file consistent on a crash; only the last
    // writes before a power loss may be lost, as with a lazily flushed registry.
    if (!m_db.exec("PRAGMA synchronous=NORMAL"))
        return false;
    bool ok = m_db.exec("BEGIN IMMEDIATE") && m_db.exec(kSchema);
    for (const char* key : kStandardKeys)
        ok = ok && insertKey(QString::fromLatin1(key));
    ok = ok && m_db.exec("COMMIT");
    if (!ok)
        m_db.rollback();
    return ok;
}

bool RegistryStore::openFile(QString& why, qint32& status)
{
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder)) {
        status = ERROR_CANTOPEN;
        // Said in the data folder's words when it is that folder, so a person
        // reads the one cause once.
        QString missing;
        if (folder == QDir::cleanPath(DataFolder()) && !EnsureDataFolder(&missing))
            why = missing;
        else
            why = QStringLiteral("cannot create the folder of the registry store ") + folder;
        return false;
    }
    status = ERROR_CANTOPEN;
    if (!MayWrite(m_path))
        return openReadOnly(why);
    // A new store is its owner's alone, whoever makes it; SQLite gives its
    // journal files the same mode.
    const int created = ::open(QFile::encodeName(m_path).constData(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (created >= 0)
        ::close(created);
    if (!m_db.open(m_path, kBusyTimeoutMs)) {
        why = QStringLiteral("cannot open the registry store ") + m_path + QStringLiteral(": ") +
              m_db.errorMessage();
        return false;
    }
    // Another process may be setting the file up at this moment; its locks
    // are waited for up to the busy timeout.
    bool ok = false;
    for (int waited = 0; waited < kBusyTimeoutMs; waited += kOpenRetryMs) {
        ok = prepareFile();
        const int code = m_db.errorCode() & 0xFF;
        if (ok || (code != SQLITE_BUSY && code != SQLITE_LOCKED))
            break;
        QThread::msleep(kOpenRetryMs);
    }
    if (ok)
        return true;
    const int code = m_db.errorCode() & 0xFF;
    if (code == SQLITE_NOTADB || code == SQLITE_CORRUPT) {
        status = ERROR_BADDB;
        why = QStringLiteral("the registry store ") + m_path + QStringLiteral(" is not a database");
    } else {
        why = QStringLiteral("cannot use the registry store ") + m_path + QStringLiteral(": ") +
              m_db.errorMessage();
    }
    return false;
}

// A store this user may only read is read as it stands: without its journal
// files when they cannot be made, and said once to be unsaveable.
bool RegistryStore::openReadOnly(QString& why)
{
    bool ok = m_db.open(m_path, kBusyTimeoutMs, SqliteDb::Access::ReadOnly) &&
              m_db.exec("SELECT count(*) FROM sqlite_master");
    if (!ok)
        ok = m_db.open(m_path, kBusyTimeoutMs, SqliteDb::Access::Immutable) &&
             m_db.exec("SELECT count(*) FROM sqlite_master");
    if (!ok) {
        why = QStringLiteral("cannot read the registry store ") + m_path + QStringLiteral(": ") +
              m_db.errorMessage();
        return false;
    }
    storeFailure(ERROR_ACCESS_DENIED, ReadOnlyText(), "Open");
    return true;
}

QString RegistryStore::ReadOnlyText() const
{
    return QStringLiteral("the registry store ") + m_path +
           QStringLiteral(" cannot be written: changes cannot be saved");
}

void RegistryStore::storeFailure(qint32 status, const QString& why, const char* procedure)
{
    Q_UNUSED(status);
    m_lastError = why;
    if (m_reported.contains(why))
        return;
    m_reported.insert(why);
    if (Reporter())
        Reporter()(QString::fromLatin1(procedure), why);
}

bool RegistryStore::begin()
{
    return m_db.exec("BEGIN IMMEDIATE");
}

bool RegistryStore::commit()
{
    return m_db.exec("COMMIT");
}

// Called after a failed statement of a write: undoes the transaction and
// turns the database error into the registry's status.
qint32 RegistryStore::failWrite(const char* procedure)
{
    const int code = m_db.errorCode() & 0xFF;
    const QString message = m_db.errorMessage();
    m_db.rollback();
    if (code == SQLITE_READONLY)
        return failWriteReadOnly(procedure);
    if (code == SQLITE_NOTADB || code == SQLITE_CORRUPT) {
        storeFailure(ERROR_BADDB,
                     QStringLiteral("the registry store ") + m_path +
                         QStringLiteral(" is not a database"),
                     procedure);
        return ERROR_BADDB;
    }
    storeFailure(ERROR_CANTWRITE,
                 QStringLiteral("cannot write the registry store ") + m_path +
                     QStringLiteral(": ") + message,
                 procedure);
    return ERROR_CANTWRITE;
}

qint32 RegistryStore::resolve(HKEY key, QString& path) const
{
    path = RootPath(key);
    if (!path.isEmpty())
        return ERROR_SUCCESS;
    const auto it = m_open.constFind(key);
    if (it == m_open.constEnd())
        return ERROR_INVALID_HANDLE;
    path = *it;
    return ERROR_SUCCESS;
}

bool RegistryStore::keyExists(const QString& path)
{
    if (IsRootPath(path))
        return true;
    SqliteStatement query(m_db, "SELECT 1 FROM keys WHERE path = ?1");
    query.bind(1, path);
    return query.next();
}

QString RegistryStore::KeyName(HKEY key) const
{
    QString path;
    resolve(key, path);
    return path;
}

qint32 RegistryStore::CreateKey(HKEY root, const QString& subKey, HKEY& result)
{
    const QString base = RootPath(root);
    if (base.isEmpty())
        return ERROR_INVALID_HANDLE;
    if (!ensureOpen())
        return m_openStatus;
    const QString path = JoinPath(base, subKey);
    if (!keyExists(path)) {
        if (m_db.isReadOnly())
            return failWriteReadOnly("CreateKey");
        if (!begin() || !insertKey(path) || !commit())
            return failWrite("CreateKey");
    }
    result = m_nextHandle;
    m_nextHandle += 4;
    m_open.insert(result, path);
    return ERROR_SUCCESS;
}

qint32 RegistryStore::failWriteReadOnly(const char* procedure)
{
    storeFailure(ERROR_ACCESS_DENIED, ReadOnlyText(), procedure);
    return ERROR_ACCESS_DENIED;
}

qint32 RegistryStore::OpenKey(HKEY root, const QString& subKey, HKEY& result)
{
    const QString base = RootPath(root);
    if (base.isEmpty())
        return ERROR_INVALID_HANDLE;
    if (!ensureOpen())
        return m_openStatus;
    const QString path = JoinPath(base, subKey);
    if (!keyExists(path))
        return ERROR_FILE_NOT_FOUND;
    result = m_nextHandle;
    m_nextHandle += 4;
    m_open.insert(result, path);
    return ERROR_SUCCESS;
}

qint32 RegistryStore::CloseKey(HKEY key)
{
    if (!RootPath(key).isEmpty())
        return ERROR_SUCCESS;
    return m_open.remove(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

qint32 RegistryStore::SetValue(HKEY key, const QString& name, quint32 type, const QByteArray& data)
{
    QString path;
    if (const qint32 status = resolve(key, path); status != ERROR_SUCCESS)
        return status;
    if (!ensureOpen())
        return m_openStatus;
    if (m_db.isReadOnly())
        return failWriteReadOnly("SetValue");
    if (!begin())
        return failWrite("SetValue");
    if (!keyExists(path)) {
        m_db.rollback();
        return ERROR_KEY_DELETED;
    }
    SqliteStatement upsert(m_db, "INSERT INTO entries(key, name, type, data)"
                                 " VALUES(?1, ?2, ?3, ?4) ON CONFLICT(key, name)"
                                 " DO UPDATE SET type = excluded.type, data = excluded.data");
    upsert.bind(1, path);
    upsert.bind(2, name);
    upsert.bind(3, qint64(type));
    upsert.bindBlob(4, data);
    if (!upsert.run() || !commit())
        return failWrite("SetValue");
    return ERROR_SUCCESS;
}

qint32 RegistryStore::QueryValue(HKEY key, const QString& name, quint32& type, quint32& size,
                                 QByteArray* data, quint32 bufferSize)
{
    QString path;
    if (const qint32 status = resolve(key, path); status != ERROR_SUCCESS)
        return status;
    if (!ensureOpen())
        return m_openStatus;
    SqliteStatement query(m_db, "SELECT type, data FROM entries WHERE key = ?1 AND name = ?2");
    query.bind(1, path);
    query.bind(2, name);
    if (!query.next())
        return ERROR_FILE_NOT_FOUND;
    type = quint32(query.number(0));
    const QByteArray bytes = query.blob(1);
    size = quint32(bytes.size());
    if (!data)
        return ERROR_SUCCESS;
    if (bufferSize < size)
        return ERROR_MORE_DATA;
    *data = bytes;
    return ERROR_SUCCESS;
}

qint32 RegistryStore::DeleteValue(HKEY key, const QString& name)
{
    QString path;
    if (const qint32 status = resolve(key, path); status != ERROR_SUCCESS)
        return status;
    if (!ensureOpen())
        return m_openStatus;
    if (m_db.isReadOnly())
        return failWriteReadOnly("DeleteValue");
    if (!begin())
        return failWrite("DeleteValue");
    SqliteStatement remove(m_db, "DELETE FROM entries WHERE key = ?1 AND name = ?2");
    remove.bind(1, path);
    remove.bind(2, name);
    if (!remove.run())
        return failWrite("DeleteValue");
    const bool found = sqlite3_changes(m_db.handle()) > 0;
    if (!commit())
        return failWrite("DeleteValue");
    return found ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

qint32 RegistryStore::DeleteKey(HKEY root, const QString& subKey)
{
    const QString base = RootPath(root);
    if (base.isEmpty())
        return ERROR_INVALID_HANDLE;
    const QString path = JoinPath(base, subKey);
    if (IsRootPath(path))
        return ERROR_ACCESS_DENIED;
    if (!ensureOpen())
        return m_openStatus;
    if (!keyExists(path))
        return ERROR_FILE_NOT_FOUND;
    if (m_db.isReadOnly())
        return failWriteReadOnly("DeleteKey");
    if (!begin())
        return failWrite("DeleteKey");
    const QString below = path + QLatin1Char('\\');
    SqliteStatement keys(m_db, "DELETE FROM keys WHERE path = ?1 OR"
                               " substr(path, 1, length(?2)) = ?2 COLLATE NOCASE");
    keys.bind(1, path);
    keys.bind(2, below);
    SqliteStatement values(m_db, "DELETE FROM entries WHERE key = ?1 OR"
                                 " substr(key, 1, length(?2)) = ?2 COLLATE NOCASE");
    values.bind(1, path);
    values.bind(2, below);
    if (!keys.run() || !values.run() || !commit())
        return failWrite("DeleteKey");
    return ERROR_SUCCESS;
}

qint32 RegistryStore::EnumValues(HKEY key, QList<RegValue>& out)
{
    out.clear();
    QString path;
    if (const qint32 status = resolve(key, path); status != ERROR_SUCCESS)
        return status;
    if (!ensureOpen())
        return m_openStatus;
    SqliteStatement query(m_db, "SELECT name, type, data FROM entries WHERE key = ?1"
                                " ORDER BY rowid");
    query.bind(1, path);
    while (query.next())
        out.append({query.text(0), quint32(query.number(1)), query.blob(2)});
    return query.failed() ? ERROR_CANTOPEN : ERROR_SUCCESS;
}

qint32 RegistryStore::KeysBelow(HKEY key, QStringList& out)
{
    out.clear();
    QString path;
    if (const qint32 status = resolve(key, path); status != ERROR_SUCCESS)
        return status;
    if (!ensureOpen())
        return m_openStatus;
    if (!keyExists(path))
        return ERROR_FILE_NOT_FOUND;
    SqliteStatement query(m_db, "SELECT path FROM keys WHERE substr(path, 1, length(?1)) = ?1"
                                " COLLATE NOCASE");
    query.bind(1, path + QLatin1Char('\\'));
    out.append(path);
    while (query.next())
        out.append(query.text(0));
    std::sort(out.begin() + 1, out.end(), KeyOrder);
    return query.failed() ? ERROR_CANTOPEN : ERROR_SUCCESS;
}

qint32 RegistryStore::EnumSubKeys(HKEY key, QStringList& out)
{
    QStringList all;
    const qint32 status = KeysBelow(key, all);
    out.clear();
    if (status != ERROR_SUCCESS)
        return status;
    const qsizetype depth = Components(all.first()).size() + 1;
    for (const QString& path : all) {
        if (Components(path).size() == depth)
            out.append(path);
    }
    return ERROR_SUCCESS;
}

QString RegistryFilePath()
{
    return DataPath(QStringLiteral("registry.db"));
}

RegistryStore& Registry()
{
    static std::unique_ptr<RegistryStore> store;
    const QString path = RegistryFilePath();
    if (!store || store->filePath() != path)
        store = std::make_unique<RegistryStore>(path);
    return *store;
}

StoreFailureReporter SetStoreFailureReporter(StoreFailureReporter reporter)
{
    return std::exchange(Reporter(), std::move(reporter));
}

QByteArray SzBytes(const QString& text)
{
    QByteArray bytes = text.toUtf8();
    bytes.append('\0');
    return bytes;
}

QByteArray DwordBytes(quint32 value)
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char((value >> (8 * i)) & 0xFF);
    return bytes;
}

quint32 DwordOf(const QByteArray& data)
{
    quint32 value = 0;
    for (int i = 0; i < std::min<qsizetype>(4, data.size()); ++i)
        value |= quint32(quint8(data[i])) << (8 * i);
    return value;
}

QString SzText(const QByteArray& data)
{
    QString text = QString::fromUtf8(data);
    while (text.endsWith(QChar(0)))
        text.chop(1);
    return text;
}

bool ParseKeyName(const QString& fullName, HKEY& root, QString& subKey)
{
    const QString rootName = fullName.section(QLatin1Char('\\'), 0, 0);
    struct RootAlias {
        const char* shortName;
        const char* longName;
        HKEY root;
    };
    static const RootAlias aliases[] = {
        {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {"HKU", "HKEY_USERS", HKEY_USERS},
    };
    for (const RootAlias& alias : aliases) {
        if (rootName.compare(QLatin1String(alias.shortName), Qt::CaseInsensitive) == 0 ||
            rootName.compare(QLatin1String(alias.longName), Qt::CaseInsensitive) == 0) {
            root = alias.root;
            subKey = Components(fullName.section(QLatin1Char('\\'), 1)).join(QLatin1Char('\\'));
            return true;
        }
    }
    return false;
}

QString RootName(HKEY root)
{
    switch (root) {
    case HKEY_CURRENT_USER:
        return QStringLiteral("HKEY_CURRENT_USER");
    case HKEY_LOCAL_MACHINE:
        return kMachine;
    case HKEY_USERS:
        return kUsers;
    default:
        return {};
    }
}

QString SettingsKeyPath(const QString& app, const QString& section)
{
    return QStringLiteral("Software\\VB and VBA Program Settings\\") + app + QLatin1Char('\\') +
           section;
}

QString GetSetting(const QString& app, const QString& section, const QString& key,
                   const QString& defaultValue)
{
    RegistryStore& store = Registry();
    HKEY handle = 0;
    if (store.OpenKey(HKEY_CURRENT_USER, SettingsKeyPath(app, section), handle) != ERROR_SUCCESS)
        return defaultValue;
    quint32 type = REG_NONE;
    quint32 size = 0;
    QByteArray data;
    const qint32 status = store.QueryValue(handle, key, type, size, &data);
    store.CloseKey(handle);
    if (status != ERROR_SUCCESS)
        return defaultValue;
    return type == REG_DWORD ? QString::number(DwordOf(data)) : SzText(data);
}

bool SaveSetting(const QString& app, const QString& section, const QString& key,
                 const QString& value)
{
    RegistryStore& store = Registry();
    HKEY handle = 0;
    qint32 status = store.CreateKey(HKEY_CURRENT_USER, SettingsKeyPath(app, section), handle);
    if (status == ERROR_SUCCESS) {
        status = store.SetValue(handle, key, REG_SZ, SzBytes(value));
        store.CloseKey(handle);
    }
    if (status == ERROR_SUCCESS)
        return true;
    const bool storeFailed = status == ERROR_BADDB || status == ERROR_CANTOPEN ||
                             status == ERROR_CANTWRITE || status == ERROR_ACCESS_DENIED;
    const QString why = storeFailed && !store.lastError().isEmpty()
                            ? store.lastError()
                            : QStringLiteral("cannot save the setting ") + key;
    rt::RaiseError(status, why);
    return false;
}

QList<QPair<QString, QString>> GetAllSettings(const QString& app, const QString& section)
{
    QList<QPair<QString, QString>> pairs;
    RegistryStore& store = Registry();
    HKEY handle = 0;
    if (store.OpenKey(HKEY_CURRENT_USER, SettingsKeyPath(app, section), handle) != ERROR_SUCCESS)
        return pairs;
    QList<RegValue> values;
    store.EnumValues(handle, values);
    store.CloseKey(handle);
    for (const RegValue& value : values) {
        pairs.append({value.name, value.type == REG_DWORD ? QString::number(DwordOf(value.data))
                                                          : SzText(value.data)});
    }
    return pairs;
}

} // namespace platform

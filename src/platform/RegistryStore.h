#pragma once
// The registry: keys with '\' paths under the roots HKEY_CURRENT_USER,
// HKEY_LOCAL_MACHINE and HKEY_USERS, holding REG_SZ and REG_DWORD values.
//
// Kept in one SQLite database, registry.db in the data folder, shared by every
// process of the agent (WAL mode and a busy timeout, each write one immediate
// transaction, so two writers never lose a value). HKEY_CURRENT_USER is the
// same tree as HKEY_USERS\.DEFAULT, so the service and an interactive copy see
// the same values. Key and value names compare without regard to case; a value
// keeps the spelling it was first written with.
//
// The operations fail the way the registry calls do and return their status
// codes: a missing key cannot be opened, a missing value cannot be queried.
// A store file that is not a database, or cannot be written, is reported once
// (see SetStoreFailureReporter) and every operation on it fails; the caller
// goes on.

#include "platform/SqliteDb.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

namespace platform
{

using HKEY = quint32;

// Predefined roots.
constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
constexpr HKEY HKEY_USERS = 0x80000003u;

// Value types.
constexpr quint32 REG_NONE = 0;
constexpr quint32 REG_SZ = 1;
constexpr quint32 REG_BINARY = 3;
constexpr quint32 REG_DWORD = 4;

// Status codes of the registry calls.
enum RegStatus : qint32 {
    ERROR_SUCCESS = 0,
    ERROR_FILE_NOT_FOUND = 2,
    ERROR_ACCESS_DENIED = 5,
    ERROR_INVALID_HANDLE = 6,
    ERROR_INVALID_PARAMETER = 87,
    ERROR_MORE_DATA = 234,
    ERROR_BADDB = 1009,
    ERROR_CANTOPEN = 1011,
    ERROR_CANTWRITE = 1013,
    ERROR_KEY_DELETED = 1018,
};

struct RegValue {
    QString name;
    quint32 type = REG_NONE;
    QByteArray data;
};

class RegistryStore
{
public:
    explicit RegistryStore(const QString& filePath);
    QString filePath() const { return m_path; }

    // Creates the key and every missing key above it, or opens it when it exists.
    qint32 CreateKey(HKEY root, const QString& subKey, HKEY& result);
    qint32 OpenKey(HKEY root, const QString& subKey, HKEY& result);
    qint32 CloseKey(HKEY key);
    qint32 SetValue(HKEY key, const QString& name, quint32 type, const QByteArray& data);
    // Type and size of a value; with data given, its bytes as well. A buffer
    // limit smaller than the value's size gives ERROR_MORE_DATA, as the call does.
    qint32 QueryValue(HKEY key, const QString& name, quint32& type, quint32& size,
                      QByteArray* data = nullptr, quint32 bufferSize = 0xFFFFFFFFu);
    qint32 DeleteValue(HKEY key, const QString& name);
    // Deletes the key with every key and value below it.
    qint32 DeleteKey(HKEY root, const QString& subKey);
    // The key's values in the order they were first written.
    qint32 EnumValues(HKEY key, QList<RegValue>& out);
    // Full names of the key's direct subkeys, sorted.
    qint32 EnumSubKeys(HKEY key, QStringList& out);
    // Full names of every stored key at or below the key, parents before children.
    qint32 KeysBelow(HKEY key, QStringList& out);
    // Full name of an open key or root ("HKEY_USERS\.DEFAULT\Software\...").
    QString KeyName(HKEY key) const;

    // Why the last operation on the store file itself failed ("" when it did not).
    QString lastError() const { return m_lastError; }

private:
    bool ensureOpen();
    bool openFile(QString& why, qint32& status);
    bool openReadOnly(QString& why);
    QString ReadOnlyText() const;
    bool prepareFile();
    bool insertKey(const QString& fullPath);
    bool keyExists(const QString& path);
    bool begin();
    bool commit();
    qint32 resolve(HKEY key, QString& path) const;
    qint32 failWrite(const char* procedure);
    qint32 failWriteReadOnly(const char* procedure);
    void storeFailure(qint32 status, const QString& why, const char* procedure);

    QString m_path;
    SqliteDb m_db;
    bool m_ready = false;
    qint32 m_openStatus = ERROR_SUCCESS;
    QString m_lastError;
    QSet<QString> m_reported;
    QHash<HKEY, QString> m_open;
    HKEY m_nextHandle = 0x100;
};

// The store of the current data folder (registry.db there), opened on first
// use and again when the data folder changes.
RegistryStore& Registry();
QString RegistryFilePath();

// How failures of the store file are reported. By default: the error reporter
// (severity 2) and one line on stderr, once per failure. Tools that print
// their own message install a silent reporter. Returns the previous one.
using StoreFailureReporter = std::function<void(const QString& procedure, const QString& text)>;
StoreFailureReporter SetStoreFailureReporter(StoreFailureReporter reporter);

// Value data as the registry keeps it: REG_SZ text with its trailing NUL,
// REG_DWORD as 4 bytes, low byte first.
QByteArray SzBytes(const QString& text);
QByteArray DwordBytes(quint32 value);
quint32 DwordOf(const QByteArray& data);
// REG_SZ data as text, all trailing NULs removed.
QString SzText(const QByteArray& data);

// Root names: "HKCU", "HKLM", "HKU" and their long forms, any case.
bool ParseKeyName(const QString& fullName, HKEY& root, QString& subKey);
QString RootName(HKEY root);

// The application settings area: HKEY_CURRENT_USER\Software\VB and VBA Program
// Settings\<app>\<section>, REG_SZ values.
QString GetSetting(const QString& app, const QString& section, const QString& key,
                   const QString& defaultValue = QString());
// False on failure, with the current error (rt::Err) set to the reason.
bool SaveSetting(const QString& app, const QString& section, const QString& key,
                 const QString& value);
// Every (name, value) pair of the section in store order; empty when none.
QList<QPair<QString, QString>> GetAllSettings(const QString& app, const QString& section);
QString SettingsKeyPath(const QString& app, const QString& section);

} // namespace platform

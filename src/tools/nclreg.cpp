// nclreg: query, add, delete and export keys and values of the agent's
// registry store, in the manner of reg.exe. The store is found through
// NCLMOD_HOME like the agent finds it.
//
// Exit codes: 0 success, 1 the key or value is not there, the store is missing
// or cannot be used, or an overwrite was refused; 2 bad usage. Every failure
// prints one line on stderr.

#include "platform/RegistryStore.h"

#include <QFileInfo>
#include <QStringList>
#include <QTextStream>

#include <cstdio>
#include <unistd.h>

using namespace platform;

namespace
{

enum Exit { Ok = 0, NotFound = 1, Usage = 2 };

const char* const kHelp =
    "Usage:\n"
    "  nclreg query KEY [/v NAME]\n"
    "  nclreg add KEY [/v NAME [/t REG_SZ|REG_DWORD] [/d DATA]] [/f]\n"
    "  nclreg delete KEY [/v NAME] [/f]\n"
    "  nclreg export [KEY]\n"
    "  nclreg --help | --version\n"
    "\n"
    "KEY is ROOT\\SubKey, ROOT one of HKCU, HKLM, HKU or HKEY_CURRENT_USER,\n"
    "HKEY_LOCAL_MACHINE, HKEY_USERS (HKCU is the same tree as HKU\\.DEFAULT).\n"
    "query prints the key's name, then one line per value:\n"
    "    NAME    TYPE    DATA\n"
    "(REG_DWORD data as 0x and hex digits), then the names of its subkeys.\n"
    "export prints the key and every key below it (all keys without KEY).\n"
    "add and delete print \"The operation completed successfully.\" when done.\n"
    "add over an existing value asks first on a terminal; without one it refuses\n"
    "unless /f is given.\n"
    "query, delete and export never create the store; add does.\n"
    "--verbose (anywhere) names the store used on standard error.\n"
    "The store is registry.db in the data folder ($NCLMOD_HOME when set).\n"
    "Exit codes: 0 success, 1 key or value not there, store missing or unusable,\n"
    "or the overwrite refused; 2 bad usage.\n";

const char* const kDone = "The operation completed successfully.\n";

int Fail(int code, const QString& message)
{
    std::fprintf(stderr, "nclreg: %s\n", qPrintable(message));
    return code;
}

int StoreFailure(qint32 status)
{
    const QString why = Registry().lastError();
    if (status == ERROR_FILE_NOT_FOUND || why.isEmpty())
        return Fail(NotFound,
                    QStringLiteral("ERROR: The system was unable to find the specified registry "
                                   "key or value."));
    return Fail(NotFound, QStringLiteral("ERROR: ") + why);
}

struct Args {
    QString command;
    QString key;
    bool hasValue = false;
    QString valueName;
    QString type = QStringLiteral("REG_SZ");
    bool hasType = false;
    QString data;
    bool hasData = false;
    bool force = false;
};

bool IsSwitch(const QString& word, const char* name)
{
    return (word.startsWith(QLatin1Char('/')) || word.startsWith(QLatin1Char('-'))) &&
           word.mid(1).compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
}

// Parses the words after the command; false with a message on bad usage.
bool ParseArgs(const QStringList& words, Args& args, QString& error)
{
    for (int i = 0; i < words.size(); ++i) {
        const QString& word = words[i];
        const bool hasNext = i + 1 < words.size();
        if (IsSwitch(word, "v") || IsSwitch(word, "t") || IsSwitch(word, "d")) {
            if (!hasNext) {
                error = QStringLiteral("missing argument after ") + word;
                return false;
            }
            const QString next = words[++i];
            if (IsSwitch(word, "v")) {
                args.hasValue = true;
                args.valueName = next;
            } else if (IsSwitch(word, "t")) {
                args.hasType = true;
                args.type = next.toUpper();
            } else {
                args.hasData = true;
                args.data = next;
            }
        } else if (IsSwitch(word, "f")) {
            args.force = true;
        } else if (args.key.isEmpty() && !word.startsWith(QLatin1Char('/'))) {
            args.key = word;
        } else {
            error = QStringLiteral("unexpected argument ") + word;
            return false;
        }
    }
    return true;
}

QString TypeName(quint32 type)
{
    switch (type) {
    case REG_NONE:
        return QStringLiteral("REG_NONE");
    case REG_SZ:
        return QStringLiteral("REG_SZ");
    case REG_BINARY:
        return QStringLiteral("REG_BINARY");
    case REG_DWORD:
        return QStringLiteral("REG_DWORD");
    default:
        return QStringLiteral("REG_TYPE_%1").arg(type);
    }
}

QString DataText(const RegValue& value)
{
    if (value.type == REG_SZ)
        return SzText(value.data);
    if (value.type == REG_DWORD)
        return QStringLiteral("0x") + QString::number(DwordOf(value.data), 16);
    return QString::fromLatin1(value.data.toHex().toUpper());
}

QString ValueLine(const RegValue& value)
{
    const QString name = value.name.isEmpty() ? QStringLiteral("(Default)") : value.name;
    const QString blanks = QStringLiteral("    ");
    return blanks + name + blanks + TypeName(value.type) + blanks + DataText(value);
}

// A key as the user named it: the long root name and the rest as given.
struct Target {
    HKEY root = 0;
    QString subKey;
    QString displayName;
};

bool ParseTarget(const QString& key, Target& target, QString& error)
{
    if (!ParseKeyName(key, target.root, target.subKey)) {
        error = QStringLiteral("invalid key name ") + key;
        return false;
    }
    target.displayName = RootName(target.root);
    if (!target.subKey.isEmpty())
        target.displayName += QLatin1Char('\\') + target.subKey;
    return true;
}

// A stored key name shown under the root the user named.
QString DisplayName(const QString& storedName, const QString& storedBase,
                    const QString& displayBase)
{
    return displayBase + storedName.mid(storedBase.size());
}

void PrintKey(QTextStream& out, HKEY key, const QString& displayName)
{
    QList<RegValue> values;
    Registry().EnumValues(key, values);
    out << displayName << '\n';
    for (const RegValue& value : values)
        out << ValueLine(value) << '\n';
}

// Reading never makes a store: a missing one is said as such, not as an
// empty key, and leaves no file or folder behind.
bool StoreExists()
{
    return QFileInfo(RegistryFilePath()).isFile();
}

int MissingStore()
{
    return Fail(NotFound, QStringLiteral("ERROR: the registry store ") + RegistryFilePath() +
                              QStringLiteral(" does not exist"));
}

// reg.exe asks before it overwrites; without a terminal to ask on, the
// answer is no.
bool OverwriteAllowed(const Args& args)
{
    if (args.force)
        return true;
    const QString name = args.valueName.isEmpty() ? QStringLiteral("(Default)") : args.valueName;
    if (!isatty(STDIN_FILENO)) {
        std::fprintf(stderr,
                     "nclreg: ERROR: Value %s exists; not overwritten without a terminal to ask "
                     "on (add /f to overwrite)\n",
                     qPrintable(name));
        return false;
    }
    std::printf("Value %s exists, overwrite(Yes/No)? ", qPrintable(name));
    std::fflush(stdout);
    char answer[16] = {};
    if (!std::fgets(answer, sizeof answer, stdin))
        return false;
    const QString text = QString::fromLatin1(answer).trimmed().toLower();
    if (text == QLatin1String("y") || text == QLatin1String("yes"))
        return true;
    std::printf("The operation was cancelled by the user.\n");
    return false;
}

int Query(const Args& args)
{
    Target target;
    QString error;
    if (!ParseTarget(args.key, target, error))
        return Fail(Usage, error);
    if (!StoreExists())
        return MissingStore();
    RegistryStore& store = Registry();
    HKEY key = 0;
    if (const qint32 status = store.OpenKey(target.root, target.subKey, key); status != 0)
        return StoreFailure(status);
    QTextStream out(stdout);
    if (args.hasValue) {
        RegValue value{args.valueName, REG_NONE, {}};
        quint32 size = 0;
        const qint32 status = store.QueryValue(key, args.valueName, value.type, size, &value.data);
        if (status != ERROR_SUCCESS)
            return StoreFailure(status);
        // Shown with the name's stored spelling.
        QList<RegValue> values;
        store.EnumValues(key, values);
        for (const RegValue& stored : values) {
            if (stored.name.compare(args.valueName, Qt::CaseInsensitive) == 0)
                value.name = stored.name;
        }
        out << target.displayName << '\n' << ValueLine(value) << '\n';
        return Ok;
    }
    PrintKey(out, key, target.displayName);
    QStringList subKeys;
    store.EnumSubKeys(key, subKeys);
    if (!subKeys.isEmpty())
        out << '\n';
    for (const QString& subKey : subKeys)
        out << DisplayName(subKey, store.KeyName(key), target.displayName) << '\n';
    return Ok;
}

bool DwordData(const QString& text, quint32& out)
{
    bool ok = false;
    const QString trimmed = text.trimmed();
    const qulonglong value = trimmed.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)
                                 ? trimmed.mid(2).toULongLong(&ok, 16)
                                 : trimmed.toULongLong(&ok, 10);
    if (!ok || value > 0xFFFFFFFFull)
        return false;
    out = quint32(value);
    return true;
}

int Add(const Args& args)
{
    Target target;
    QString error;
    if (!ParseTarget(args.key, target, error))
        return Fail(Usage, error);
    if (!args.hasValue && (args.hasType || args.hasData))
        return Fail(Usage, QStringLiteral("/t and /d need /v NAME"));
    QByteArray data;
    quint32 type = REG_SZ;
    if (args.type == QLatin1String("REG_SZ")) {
        data = SzBytes(args.data);
    } else if (args.type == QLatin1String("REG_DWORD")) {
        type = REG_DWORD;
        quint32 number = 0;
        if (!DwordData(args.hasData ? args.data : QStringLiteral("0"), number))
            return Fail(Usage, QStringLiteral("invalid REG_DWORD data ") + args.data);
        data = DwordBytes(number);
    } else {
        return Fail(Usage, QStringLiteral("unsupported type ") + args.type);
    }
    RegistryStore& store = Registry();
    HKEY key = 0;
    if (const qint32 status = store.CreateKey(target.root, target.subKey, key); status != 0)
        return StoreFailure(status);
    if (args.hasValue) {
        quint32 existingType = REG_NONE;
        quint32 size = 0;
        const bool exists =
            store.QueryValue(key, args.valueName, existingType, size, nullptr) == ERROR_SUCCESS;
        if (exists && !OverwriteAllowed(args)) {
            store.CloseKey(key);
            return NotFound;
        }
        if (const qint32 status = store.SetValue(key, args.valueName, type, data); status != 0)
            return StoreFailure(status);
    }
    store.CloseKey(key);
    std::fputs(kDone, stdout);
    return Ok;
}

int Delete(const Args& args)
{
    Target target;
    QString error;
    if (!ParseTarget(args.key, target, error))
        return Fail(Usage, error);
    if (args.hasType || args.hasData)
        return Fail(Usage, QStringLiteral("delete takes only KEY and /v NAME"));
    if (!args.hasValue && target.subKey.isEmpty())
        return Fail(Usage, QStringLiteral("a root key cannot be deleted"));
    if (!StoreExists())
        return MissingStore();
    RegistryStore& store = Registry();
    qint32 status = ERROR_SUCCESS;
    if (!args.hasValue) {
        status = store.DeleteKey(target.root, target.subKey);
    } else {
        HKEY key = 0;
        status = store.OpenKey(target.root, target.subKey, key);
        if (status == ERROR_SUCCESS)
            status = store.DeleteValue(key, args.valueName);
    }
    if (status != ERROR_SUCCESS)
        return StoreFailure(status);
    std::fputs(kDone, stdout);
    return Ok;
}

int ExportFrom(QTextStream& out, HKEY root, const QString& subKey, const QString& displayBase)
{
    RegistryStore& store = Registry();
    HKEY key = 0;
    if (const qint32 status = store.OpenKey(root, subKey, key); status != 0)
        return StoreFailure(status);
    QStringList keys;
    if (const qint32 status = store.KeysBelow(key, keys); status != 0)
        return StoreFailure(status);
    const QString base = store.KeyName(key);
    for (const QString& name : keys) {
        HKEY below = 0;
        HKEY childRoot = 0;
        QString childSub;
        ParseKeyName(name, childRoot, childSub);
        if (store.OpenKey(childRoot, childSub, below) != ERROR_SUCCESS)
            continue;
        PrintKey(out, below, DisplayName(name, base, displayBase));
        out << '\n';
        store.CloseKey(below);
    }
    store.CloseKey(key);
    return Ok;
}

int Export(const Args& args)
{
    QTextStream out(stdout);
    if (args.hasValue || args.hasType || args.hasData)
        return Fail(Usage, QStringLiteral("export takes only KEY"));
    if (!StoreExists())
        return MissingStore();
    if (args.key.isEmpty()) {
        const int machine =
            ExportFrom(out, HKEY_LOCAL_MACHINE, QString(), QStringLiteral("HKEY_LOCAL_MACHINE"));
        if (machine != Ok)
            return machine;
        return ExportFrom(out, HKEY_USERS, QString(), QStringLiteral("HKEY_USERS"));
    }
    Target target;
    QString error;
    if (!ParseTarget(args.key, target, error))
        return Fail(Usage, error);
    return ExportFrom(out, target.root, target.subKey, target.displayName);
}

} // namespace

int main(int argc, char** argv)
{
    QStringList words;
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        const QString word = QString::fromLocal8Bit(argv[i]);
        if (word == QLatin1String("--verbose"))
            verbose = true;
        else
            words.append(word);
    }
    if (words.isEmpty())
        return Fail(Usage, QStringLiteral("missing command (see nclreg --help)"));
    const QString command = words.takeFirst().toLower();
    if (command == QLatin1String("--help") || command == QLatin1String("-h") ||
        command == QLatin1String("/?")) {
        std::fputs(kHelp, stdout);
        return Ok;
    }
    if (command == QLatin1String("--version")) {
        std::printf("nclreg %d.%d.%d\n", NCL_VERSION_MAJOR, NCL_VERSION_MINOR, NCL_VERSION_PATCH);
        return Ok;
    }
    if (verbose)
        std::fprintf(stderr, "nclreg: store %s\n", qPrintable(RegistryFilePath()));
    // The store's failures are printed here, once, as this tool's error line.
    SetStoreFailureReporter(nullptr);
    Args args;
    QString error;
    if (!ParseArgs(words, args, error))
        return Fail(Usage, error);
    if (command != QLatin1String("export") && args.key.isEmpty())
        return Fail(Usage, QStringLiteral("missing KEY (see nclreg --help)"));
    if (command == QLatin1String("query"))
        return Query(args);
    if (command == QLatin1String("add"))
        return Add(args);
    if (command == QLatin1String("delete"))
        return Delete(args);
    if (command == QLatin1String("export"))
        return Export(args);
    return Fail(Usage, QStringLiteral("unknown command ") + command + " (see nclreg --help)");
}

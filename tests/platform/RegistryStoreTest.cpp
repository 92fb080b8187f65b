#include "platform/RegistryStore.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <functional>
#include <sys/wait.h>
#include <unistd.h>

using namespace platform;
using namespace testsupport;

namespace
{

class RegistryStoreTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        previousReporter = SetStoreFailureReporter(
            [this](const QString&, const QString& text) { reports.append(text); });
    }
    void TearDown() override { SetStoreFailureReporter(previousReporter); }

    QString dbPath() const { return home.file("registry.db"); }

    // Writes one REG_SZ value, creating the key.
    static qint32 Put(RegistryStore& store, HKEY root, const QString& key, const QString& name,
                      const QString& text)
    {
        HKEY handle = 0;
        qint32 status = store.CreateKey(root, key, handle);
        if (status == ERROR_SUCCESS)
            status = store.SetValue(handle, name, REG_SZ, SzBytes(text));
        store.CloseKey(handle);
        return status;
    }
    // The data of one value, or the status as text when it cannot be read.
    static QByteArray Get(RegistryStore& store, HKEY root, const QString& key, const QString& name)
    {
        HKEY handle = 0;
        qint32 status = store.OpenKey(root, key, handle);
        quint32 type = 0, size = 0;
        QByteArray data;
        if (status == ERROR_SUCCESS)
            status = store.QueryValue(handle, name, type, size, &data);
        store.CloseKey(handle);
        return status == ERROR_SUCCESS ? data : "status " + QByteArray::number(status);
    }

    StoreFailureReporter previousReporter;
    ScopedHome home;
    QStringList reports;
};

TEST_F(RegistryStoreTest, KeysAndValuesBehaveAsTheRegistryCallsDo)
{
    RegistryStore store(dbPath());
    HKEY key = 0;
    EXPECT_EQ(store.OpenKey(HKEY_USERS, "Software\\Nothing", key), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(store.CreateKey(HKEY_USERS, "A\\B\\C", key), ERROR_SUCCESS);
    quint32 type = 0, size = 0;
    EXPECT_EQ(store.QueryValue(key, "missing", type, size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(store.DeleteValue(key, "missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(store.CloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(store.CloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(store.SetValue(key, "x", REG_SZ, SzBytes("y")), ERROR_INVALID_HANDLE);
    // Creating a key creates the keys above it; deleting one takes the keys
    // below it and leaves its siblings.
    EXPECT_EQ(store.OpenKey(HKEY_USERS, "A\\B", key), ERROR_SUCCESS);
    HKEY sibling = 0;
    ASSERT_EQ(store.CreateKey(HKEY_USERS, "AB", sibling), ERROR_SUCCESS);
    EXPECT_EQ(store.DeleteKey(HKEY_USERS, "A"), ERROR_SUCCESS);
    EXPECT_EQ(store.OpenKey(HKEY_USERS, "A\\B\\C", key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(store.OpenKey(HKEY_USERS, "AB", sibling), ERROR_SUCCESS);
    // A key deleted under an open handle can no longer take values.
    EXPECT_EQ(store.SetValue(key, "x", REG_SZ, SzBytes("y")), ERROR_KEY_DELETED);
    EXPECT_EQ(store.DeleteKey(HKEY_USERS, ".DEFAULT"), ERROR_ACCESS_DENIED);

    // Sizes and data keep the registry layout: REG_SZ with its NUL, too small
    // a buffer is refused.
    ASSERT_EQ(store.CreateKey(HKEY_LOCAL_MACHINE, "Software\\T", key), ERROR_SUCCESS);
    for (const auto& [name, valueType, data] :
         {std::tuple{"text", REG_SZ, SzBytes("abc")}, std::tuple{"empty", REG_SZ, SzBytes("")},
          std::tuple{"number", REG_DWORD, DwordBytes(0x12345678u)}}) {
        QByteArray read;
        ASSERT_EQ(store.SetValue(key, name, valueType, data), ERROR_SUCCESS) << name;
        ASSERT_EQ(store.QueryValue(key, name, type, size), ERROR_SUCCESS) << name;
        EXPECT_EQ(type, valueType) << name;
        EXPECT_EQ(size, quint32(data.size())) << name;
        EXPECT_EQ(store.QueryValue(key, name, type, size, &read, size - 1), ERROR_MORE_DATA)
            << name;
        ASSERT_EQ(store.QueryValue(key, name, type, size, &read), ERROR_SUCCESS) << name;
        EXPECT_EQ(read, data) << name;
    }

    // The current user is HKEY_USERS\.DEFAULT, and names ignore case; a
    // value rewritten under another spelling keeps its first one and its place.
    ASSERT_EQ(Put(store, HKEY_CURRENT_USER, "Software\\App", "TCPPort", "1001"), ERROR_SUCCESS);
    EXPECT_EQ(Get(store, HKEY_USERS, ".default\\SOFTWARE\\app", "tcpport"), SzBytes("1001"));
    Put(store, HKEY_CURRENT_USER, "Software\\App", "Other", "x");
    Put(store, HKEY_CURRENT_USER, "Software\\App", "TCPPORT", "2002");
    store.OpenKey(HKEY_CURRENT_USER, "Software\\App", key);
    QList<RegValue> values;
    store.EnumValues(key, values);
    ASSERT_EQ(values.size(), 2);
    EXPECT_EQ(values[0].name, "TCPPort");
    EXPECT_EQ(SzText(values[0].data), "2002");
    EXPECT_EQ(store.KeyName(key), "HKEY_USERS\\.DEFAULT\\Software\\App");

    // Keys below one list parents first, and not the siblings that share its start.
    for (const char* path : {"Top\\b", "Top\\a\\deep", "Top\\a", "Top b", "Top\\c"})
        ASSERT_EQ(store.CreateKey(HKEY_USERS, QString::fromLatin1(path), key), ERROR_SUCCESS);
    ASSERT_EQ(store.OpenKey(HKEY_USERS, "Top", key), ERROR_SUCCESS);
    QStringList below, children;
    store.KeysBelow(key, below);
    EXPECT_EQ(below,
              QStringList({"HKEY_USERS\\Top", "HKEY_USERS\\Top\\a", "HKEY_USERS\\Top\\a\\deep",
                           "HKEY_USERS\\Top\\b", "HKEY_USERS\\Top\\c"}));
    store.EnumSubKeys(key, children);
    EXPECT_EQ(children,
              QStringList({"HKEY_USERS\\Top\\a", "HKEY_USERS\\Top\\b", "HKEY_USERS\\Top\\c"}));

    EXPECT_TRUE(reports.isEmpty());
}

// Runs the checks in a child process, as an unprivileged user when asked and
// the tests run as root (root writes any file); Held() waits for the child.
pid_t InChild(const std::function<void()>& checks, bool anotherUser = false)
{
    const pid_t child = fork();
    if (child == 0) {
        if (anotherUser && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(100);
        checks();
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    return child;
}
bool Held(pid_t child)
{
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Stores that cannot be used as they are: every call that needs what the
// store cannot give fails, and the reason is reported once.
TEST_F(RegistryStoreTest, BrokenStoresFailWhatTheyCannotDoAndSayWhyOnce)
{
    const QString readOnly = home.file("ro/registry.db");
    {
        RegistryStore store(readOnly);
        ASSERT_EQ(Put(store, HKEY_USERS, "K", "v", "kept"), ERROR_SUCCESS);
    }
    WriteFile(dbPath(), QByteArray("this is not a database, only text\n").repeated(200));
    WriteFile(home.file("plainfile"), "x");
    const auto owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    const auto others = QFileDevice::ReadOther | QFileDevice::ExeOther;
    const struct {
        QString path;
        const char* reason;
        QByteArray read;
        qint32 write;
        QFileDevice::Permissions otherUsersMay; // none: opened by its owner
    } cases[] = {
        {dbPath(), "is not a database", "status 1009", ERROR_BADDB, {}},
        {home.file("plainfile/sub/registry.db"),
         "cannot create the folder",
         "status 1011",
         ERROR_CANTOPEN,
         {}},
        // Read by another user: in a folder where its journal files cannot be
        // made, and in one where they can.
        {readOnly, "cannot be written", SzBytes("kept"), ERROR_ACCESS_DENIED, others},
        {readOnly, "cannot be written", SzBytes("kept"), ERROR_ACCESS_DENIED,
         others | QFileDevice::WriteOther},
    };
    QFile::setPermissions(home.path(), owner | others);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        reports.clear();
        const auto checks = [&] {
            RegistryStore store(c.path);
            EXPECT_EQ(Get(store, HKEY_USERS, "K", "v"), c.read);
            EXPECT_EQ(Put(store, HKEY_USERS, "K", "v", "new"), c.write);
            EXPECT_EQ(Put(store, HKEY_USERS, "K2", "v", "new"), c.write);
            EXPECT_EQ(store.SetValue(HKEY_USERS, "v", REG_SZ, SzBytes("x")), c.write);
            ASSERT_EQ(reports.size(), 1);
            EXPECT_TRUE(reports[0].contains(QLatin1String(c.reason))) << qPrintable(reports[0]);
        };
        if (c.otherUsersMay == QFileDevice::Permissions()) {
            checks();
            continue;
        }
        QFile::setPermissions(home.file("ro"), owner | c.otherUsersMay);
        QFile::setPermissions(readOnly, QFileDevice::ReadOwner | QFileDevice::ReadOther);
        EXPECT_TRUE(Held(InChild(checks, true)));
    }
}

TEST_F(RegistryStoreTest, TwoProcessesWritingAtOnceLoseNothing)
{
    const auto writeAll = [this](const QString& prefix) {
        RegistryStore store(dbPath());
        int failures = 0;
        for (int i = 0; i < 200; ++i)
            failures += Put(store, HKEY_CURRENT_USER, "Software\\Shared",
                            prefix + QString::number(i), "x") != ERROR_SUCCESS;
        return failures;
    };
    const pid_t child = InChild([&] { EXPECT_EQ(writeAll("child"), 0); });
    EXPECT_EQ(writeAll("parent"), 0);
    EXPECT_TRUE(Held(child));

    RegistryStore store(dbPath());
    HKEY key = 0;
    ASSERT_EQ(store.OpenKey(HKEY_USERS, ".DEFAULT\\Software\\Shared", key), ERROR_SUCCESS);
    QList<RegValue> values;
    store.EnumValues(key, values);
    EXPECT_EQ(values.size(), 400);
}

} // namespace

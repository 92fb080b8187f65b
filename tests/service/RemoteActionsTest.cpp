// Remote commands: exit requests reach the recording power control, files go
// back in blocks, programs start, wake requests send their packet.
#include "service/RemoteActions.h"
#include "platform/RegistryStore.h"
#include "service/ConsoleAccess.h"
#include "service/WakeOnLan.h"

#include "LoopbackSupport.h"
#include "TestSupport.h"
#include "logging/ScopedTrace.h"
#include "platform/EventWait.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using service::RemoteActions;

namespace
{

class RemoteActionsTest : public ::testing::Test
{
protected:
    RemoteActionsTest()
        : power("NCLMOD_POWER", "record:" + dir.filePath("power.log").toLocal8Bit()),
          trace(dir.path()), actions(wakeOnLan, [this](qint16 index, const QByteArray& bytes) {
              sent.append({index, bytes});
              return true;
          })
    {
    }

    QString run(const QString& sData, qint16 index = 1)
    {
        sLog = "stale";
        return actions.do_command(sData, index, sLog);
    }
    // A file of the alphabet over and over, so that a block out of place shows.
    QString file(const QString& name, qsizetype size)
    {
        testsupport::WriteFile(
            dir.filePath(name),
            QByteArray("abcdefghijklmnopqrstuvwxyz").repeated(size / 26 + 1).left(size));
        return dir.filePath(name);
    }

    QTemporaryDir dir;
    testsupport::ScopedEnv power;
    testsupport::ScopedTrace trace;
    service::WakeOnLan wakeOnLan;
    QList<QPair<qint16, QByteArray>> sent;
    RemoteActions actions;
    QString sLog;
};

} // namespace

// Every combination of the four exit words gives its flags; other spellings,
// repeats and words run together are read word by word.
TEST_F(RemoteActionsTest, ExitWordsGiveTheFlags)
{
    const QStringList words = {"Shutdown", "Reboot", "(forced)", "Power-off"};
    const QStringList actions = {"logoff",   "halt",     "reboot",   "reboot",   "logoff", "halt",
                                 "reboot",   "reboot",   "poweroff", "poweroff", "reboot", "reboot",
                                 "poweroff", "poweroff", "reboot",   "reboot"};
    QStringList commands = {"C+Windows", "C+Windows shutdown REBOOT", "C+WindowsShutdown",
                            "C+Windows  Shutdown Shutdown", "C+Windows (forced) Reboot extra"};
    QStringList expected = {"flags=0 action=logoff", "flags=0 action=logoff",
                            "flags=0 action=logoff", "flags=1 action=halt",
                            "flags=6 action=reboot forced"};
    for (int flags = 0; flags < 16; ++flags) {
        QString command = flags == 0 ? "C+Windows Logoff" : "C+Windows";
        for (int bit = 0; bit < 4; ++bit) {
            if (flags & (1 << bit))
                command += " " + words[bit];
        }
        commands << command;
        expected << QString("flags=%1 action=%2%3")
                        .arg(flags)
                        .arg(actions[flags], flags & 4 ? " forced" : "");
    }
    for (const QString& command : commands) {
        EXPECT_EQ(run(command), "") << command.toStdString();
        EXPECT_EQ(sLog, command.mid(2));
    }
    EXPECT_EQ(testsupport::ReadFile(dir.filePath("power.log")), expected.join('\n') + '\n');
    for (const char* line :
         {"Remote SHUTDOWN Command:_C+Windows Shutdown (forced)_", "Exit_Windows, Flags: 10",
          "Running Windows NT, Windows 2000 or Windows XP", "Post-AdjustToken GetLastError "})
        EXPECT_TRUE(trace.Text().contains(line)) << line;
    EXPECT_TRUE(sent.isEmpty());

    // A power control that refuses: only traced.
    testsupport::ScopedEnv refusing("NCLMOD_POWER", "not-a-backend");
    EXPECT_EQ(run("C+Windows Reboot"), "");
    EXPECT_EQ(sLog, "Windows Reboot");
    EXPECT_TRUE(trace.Text().contains("Exit_Windows Error: "));
}

TEST_F(RemoteActionsTest, FileGoesBackInBlocksUntilDone)
{
    const struct {
        qsizetype size;
        QList<qsizetype> blocks; // sizes sent for block 0, 1, 2, ...; the last one ends the file
    } cases[] = {{10000, {4096, 4096, 1808}}, {4096, {4096}}, {4097, {4096, 1}}, {5, {5}}};
    for (const auto& c : cases) {
        const QString name = file("f" + QString::number(c.size), c.size);
        sent.clear();
        ASSERT_EQ(run("C+ncl_getfile " + name, 3), "");
        EXPECT_EQ(sLog, "");
        for (qsizetype block = 1; block < c.blocks.size(); ++block) {
            EXPECT_FALSE(actions.FileDone()) << c.size << " block " << block;
            run("C+ncl_getfile." + QString::number(block), 3);
        }
        EXPECT_TRUE(actions.FileDone()) << c.size;
        ASSERT_EQ(sent.size(), c.blocks.size()) << c.size;
        QByteArray whole;
        for (qsizetype i = 0; i < sent.size(); ++i) {
            EXPECT_EQ(sent[i].first, 3);
            EXPECT_EQ(sent[i].second.size(), c.blocks[i]) << c.size << " block " << i;
            whole += sent[i].second;
        }
        EXPECT_EQ(whole, testsupport::ReadFile(name).toLatin1());
        // The request after the last block sends nothing and clears the flag.
        run("C+ncl_getfile." + QString::number(c.blocks.size()), 3);
        EXPECT_EQ(sent.size(), c.blocks.size());
        EXPECT_FALSE(actions.FileDone());
    }
    EXPECT_TRUE(trace.Text().contains("Done ncl_getfile"));

    // Blocks past the end repeat the last piece (1808 bytes of 10000).
    for (const qint32 n : {7, -1}) {
        bool eof = false;
        EXPECT_EQ(service::ReadInData(dir.filePath("f10000"), n, eof).size(), 1808) << n;
        EXPECT_TRUE(eof) << n;
    }
    bool eof = false;
    EXPECT_TRUE(service::ReadInData(file("empty", 0), 0, eof).isEmpty());
    EXPECT_TRUE(eof);
    EXPECT_TRUE(service::ReadInData("", 0, eof).isEmpty());
    EXPECT_FALSE(eof);
}

// A symlink is answered like a missing file, since only regular files are
// read; FIFOs, devices and folders are refused by the platform's file opening,
// whose own tests show each kind.
TEST_F(RemoteActionsTest, UnreadableFilesAreReportedAndSendNothing)
{
    const QString link = dir.filePath("link");
    ASSERT_TRUE(QFile::link(file("target", 10), link));
    const QStringList names = {dir.filePath("missing.txt"), link};
    for (const QString& name : names) {
        run("C+ncl_getfile " + name);
        run("C+ncl_getfile.99999");
        EXPECT_TRUE(sent.isEmpty()) << name.toStdString();
        EXPECT_FALSE(actions.FileDone());
    }
    EXPECT_EQ(trace.Text().count("ReadInData error"), 2 * names.size());
    // A name of one character is no name; a bad block number is reported.
    run("C+ncl_getfile x");
    run("C+ncl_getfile.99999999999");
    EXPECT_TRUE(sent.isEmpty());
    EXPECT_TRUE(trace.Text().contains("Getting file:__"));
    EXPECT_TRUE(trace.Text().contains("Bad block number: 99999999999"));
}

// Other command lines start a program; what cannot run is traced. The
// security settings: no program started with RemoteRun off; with
// FileFetchRoot only files below it, symlinks resolved; and a block only for
// the address that asked for block 0 of its file.
TEST_F(RemoteActionsTest, CommandLinesAndSecuritySettings)
{
    testsupport::ScopedHome home;
    const QString made = dir.filePath("made");
    EXPECT_EQ(run("C+touch " + made), "");
    EXPECT_EQ(sLog, "Run: touch " + made);
    EXPECT_TRUE(testsupport::WaitFor([&] { return QFileInfo::exists(made); }));
    EXPECT_EQ(run("C+/nonexistent/program --flag"), "");
    EXPECT_EQ(sLog, "Run: /nonexistent/program --flag");
    EXPECT_TRUE(trace.Text().contains("Could not run: /nonexistent/program --flag"));
    EXPECT_EQ(run("C+nclfoo bar"), "");
    EXPECT_EQ(sLog, "");
    EXPECT_TRUE(trace.Text().contains("Unknown NCL command:_oo bar_"));

    loopback::SetMachineValue(service::ConsoleAccess::kKeyPath, "RemoteRun", platform::REG_DWORD,
                              platform::DwordBytes(0));
    const QString root = dir.filePath("shared");
    ASSERT_TRUE(QDir().mkpath(root + "/sub"));
    loopback::SetMachineValue(service::ConsoleAccess::kKeyPath, "FileFetchRoot", platform::REG_SZ,
                              platform::SzBytes(root));
    service::ConsoleAccess access;
    access.Load(false);
    actions.SetAccess(&access);
    QHash<qint16, QString> peers = {{1, "127.0.0.2"}, {2, "127.0.0.3"}};
    actions.SetPeerOf([&](qint16 index) { return peers.value(index); });

    const QString target = dir.filePath("started");
    EXPECT_EQ(run("C+touch " + target), "");
    EXPECT_EQ(sLog, "Run: touch " + target);
    testsupport::Spin(300);
    EXPECT_FALSE(QFileInfo::exists(target));
    EXPECT_TRUE(trace.Text().contains("Remote run is off (RemoteRun): not started: touch "));

    const QString inside = root + "/sub/in.txt";
    testsupport::WriteFile(inside, QByteArray(5000, 'i'));
    const QString outside = file("out.txt", 10);
    ASSERT_TRUE(QFile::link(outside, root + "/escape"));
    ASSERT_TRUE(QFile::link(inside, root + "/alias"));
    const struct {
        QString name;
        bool sent;
    } fetches[] = {
        {inside, true},   {root + "/alias", true},   {root + "/sub/../sub/in.txt", true},
        {outside, false}, {root + "/escape", false}, {root + "/../out.txt", false},
    };
    for (const auto& f : fetches) {
        sent.clear();
        run("C+ncl_getfile " + f.name, 1);
        EXPECT_EQ(sent.size(), f.sent ? 1 : 0) << f.name.toStdString();
        run("C+ncl_getfile.1", 1); // ends the file, or sends nothing
        run("C+ncl_getfile.2", 1); // clears the done flag
    }

    // Another address asking for the next block gets nothing of this file.
    sent.clear();
    run("C+ncl_getfile " + inside, 1);
    run("C+ncl_getfile.1", 2);
    EXPECT_EQ(sent.size(), 1);
    run("C+ncl_getfile.1", 1);
    ASSERT_EQ(sent.size(), 2);
    EXPECT_EQ(sent[1].second.size(), 5000 - 4096);
    EXPECT_TRUE(actions.FileDone("127.0.0.2"));
    EXPECT_FALSE(actions.FileDone("127.0.0.3"));
}

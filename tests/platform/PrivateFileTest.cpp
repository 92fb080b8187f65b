// The files the agent writes, each through its real writer: a symlink
// planted in its place is never written through, a FIFO there never blocks
// the writer, and a file the agent creates is its owner's alone. Files it
// reads are opened only when they are regular files.
#include "platform/PrivateFile.h"
#include "contact/colClients.h"
#include "logging/DebugLog.h"
#include "logging/EventLog.h"
#include "logging/ScopedTrace.h"
#include "schedule/colTS.h"
#include "settings/AppState.h"
#include "settings/COptions.h"
#include "settings/StartupEntries.h"

#include "TestSupport.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>

namespace
{

struct Writer {
    const char* what;
    const char* fileName;
    std::function<void(const QString& path)> write;
    bool replaces = false; // written as a new file in its place rather than opened
};

const Writer kWriters[] = {
    {"debug trace", "DebugFile.txt",
     [](const QString& path) {
         const testsupport::ScopedTrace trace(QFileInfo(path).path());
         logging::WriteDebug("a trace line");
     }},
    // The sync log is appended by the same writer as the event file.
    {"event file", "evntfile.txt",
     [](const QString& path) {
         settings::Options().setLoggingEvntOn(true);
         logging::LogEvent("an event", logging::EventInformation, path);
         settings::Options().setLoggingEvntOn(false);
     }},
    {"client list", "clientlist.txt",
     [](const QString& path) { contact::colClients().SavetoDisk(path); }},
    {"time-server list", "TScircle.txt",
     [](const QString& path) {
         schedule::colTS list;
         list.setCreateFileQuestion(
             [](const QString&, const QString&) { return schedule::colTS::Answer::Yes; });
         list.setsSrvrFilename(path);
         list.Add("time.example", "here", "SNTP");
         list.SavetoDisk();
     }},
    {"launcher", "TdwnBkgd.exe", [](const QString&) { settings::EnsureBackgroundProgram(); }, true},
};

class PrivateFileTest : public ::testing::Test
{
protected:
    static mode_t Mode(const QString& path)
    {
        struct stat st {
        };
        return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode : 0;
    }
    // The error of opening the file for reading, 0 when it opens.
    static int ReadError(const QString& path)
    {
        const int fd = platform::OpenRegularFileForReading(path);
        if (fd < 0)
            return errno;
        ::close(fd);
        return 0;
    }

    testsupport::ScopedHome home;
};

TEST_F(PrivateFileTest, WrittenFilesAreNeverRedirectedAndReadOnesAreRegular)
{
    const QString victim = home.file("victim");
    for (const Writer& w : kWriters) {
        SCOPED_TRACE(w.what);
        const QString path = home.file(w.fileName);

        // Created afresh: the owner's alone (the launcher may be run by its owner).
        w.write(path);
        ASSERT_TRUE(QFileInfo(path).isFile());
        EXPECT_EQ(Mode(path) & 07777, w.replaces ? 0700u : 0600u);
        EXPECT_EQ(ReadError(path), 0);
        QFile::remove(path);
        EXPECT_EQ(ReadError(path), ENOENT);

        // A planted symlink: the file it names stays as it was.
        testsupport::WriteFile(victim, "victim");
        ::chmod(QFile::encodeName(victim).constData(), 0644);
        ASSERT_TRUE(QFile::link(victim, path));
        EXPECT_EQ(ReadError(path), ELOOP);
        w.write(path);
        EXPECT_EQ(testsupport::ReadFile(victim), "victim");
        EXPECT_EQ(Mode(victim) & 07777, 0644u);
        // What takes the place of a symlink is a file of the agent's own.
        EXPECT_EQ(QFileInfo(path).isSymLink(), !w.replaces);
        QFile::remove(path);

        // A FIFO that nobody reads: no wait, nothing written.
        ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        EXPECT_EQ(ReadError(path), EINVAL);
        QElapsedTimer took;
        took.start();
        w.write(path);
        EXPECT_LT(took.elapsed(), 5000);
        QFile::remove(path);
    }
    EXPECT_EQ(ReadError("/dev/zero"), EINVAL);
    EXPECT_EQ(ReadError(home.path()), EINVAL);
}

} // namespace

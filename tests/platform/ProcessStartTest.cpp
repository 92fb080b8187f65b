// Starting programs: command lines split as a shell splits them, and a
// detached start that really runs the program.
#include "platform/ProcessStart.h"

#include "EventWait.h"
#include "TestSupport.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using platform::Shell;
using platform::SplitCommandLine;

TEST(ProcessStartTest, SplitsLikeAShellAndStartsWithoutWaiting)
{
    const struct {
        const char* line;
        QStringList words;
    } cases[] = {
        {"touch /tmp/a", {"touch", "/tmp/a"}},
        {"  a \t b  ", {"a", "b"}},
        {"", {}},
        {"   ", {}},
        {"echo 'two words' \"and three more\"", {"echo", "two words", "and three more"}},
        {"a'b c'd", {"ab cd"}},
        {"x ''", {"x", ""}},
        {R"(say "a \"q\" \\ \$HOME \n")", {"say", R"(a "q" \ $HOME \n)"}},
        {R"(say 'no \escapes here')", {"say", R"(no \escapes here)"}},
        {R"(a\ b c\'d)", {"a b", "c'd"}},
        {"echo $HOME *.txt > out", {"echo", "$HOME", "*.txt", ">", "out"}},
    };
    for (const auto& c : cases) {
        QStringList words{"stale"};
        EXPECT_TRUE(SplitCommandLine(QString::fromUtf8(c.line), words)) << c.line;
        EXPECT_EQ(words, c.words) << c.line;
    }
    // What does not split is refused, and so is what names nothing that can start.
    QStringList words;
    for (const char* open : {"echo 'open", "echo \"open", "trailing\\"})
        EXPECT_FALSE(SplitCommandLine(QString::fromUtf8(open), words)) << open;
    for (const char* line : {"", "   ", "/nonexistent/program arg", "echo 'open"}) {
        int error = 0;
        EXPECT_FALSE(Shell(QString::fromUtf8(line), error)) << line;
        EXPECT_NE(error, 0) << line;
    }
    // What can start is started and not waited for.
    QTemporaryDir dir;
    const QString target = dir.filePath("made by shell");
    int error = -1;
    ASSERT_TRUE(Shell("sh -c 'sleep 0.2; echo ran > \"$0\"' '" + target + "'", error));
    EXPECT_EQ(error, 0);
    EXPECT_FALSE(QFileInfo::exists(target)); // the start did not wait for the program
    EXPECT_TRUE(testsupport::WaitFor([&] { return testsupport::ReadFile(target) == "ran\n"; }));
}

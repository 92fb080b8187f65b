// nclreg as a script sees it: its output lines, exit codes and error lines.
#include "EventWait.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

using namespace testsupport;

namespace
{

QString NclregPath()
{
    QString build = qEnvironmentVariable("NCL_BUILD_DIR");
    if (build.isEmpty())
        build = QCoreApplication::applicationDirPath() + "/../..";
    for (const char* place : {"/nclreg", "/src/tools/nclreg"}) {
        if (QFileInfo(build + QLatin1String(place)).isExecutable())
            return build + QLatin1String(place);
    }
    return build + "/nclreg";
}

struct Result {
    int code = -1;
    QString out;
    QString err;
};

Result Nclreg(const QStringList& args)
{
    QProcess process;
    process.start(NclregPath(), args);
    process.waitForFinished(30000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

const QString kKey = "HKU\\.DEFAULT\\Software\\VB and VBA Program Settings\\NCLmod\\Options";
const QString kDone = "The operation completed successfully.\n";

class NclregTest : public ::testing::Test
{
protected:
    ScopedHome home;
};

// Reading never makes a store or its folder; adding does, and says it is done.
TEST_F(NclregTest, OnlyAddMakesTheStore)
{
    const QString folder = home.file("data");
    ScopedEnv elsewhere("NCLMOD_HOME", folder.toLocal8Bit());
    const QString store = folder + "/registry.db";
    for (const QStringList& args : {QStringList{"query", kKey}, QStringList{"export"},
                                    QStringList{"delete", kKey, "/v", "TCPPort", "/f"}}) {
        const Result r = Nclreg(args);
        EXPECT_EQ(r.code, 1) << qPrintable(args.join(' '));
        EXPECT_EQ(r.err, "nclreg: ERROR: the registry store " + store + " does not exist\n");
        EXPECT_FALSE(QFileInfo::exists(folder));
    }
    const Result added = Nclreg({"--verbose", "add", kKey, "/v", "TCPPort", "/d", "1001"});
    EXPECT_EQ(added.code, 0);
    EXPECT_EQ(added.out, "The operation completed successfully.\n");
    EXPECT_EQ(added.err, "nclreg: store " + store + "\n");
    EXPECT_TRUE(QFileInfo::exists(store));
}

// A script of commands on one store: what each prints and its exit code. A
// failure prints nothing on standard output and one line on standard error.
TEST_F(NclregTest, CommandsPrintAsRegExeDoes)
{
    const QString options = "Software\\VB and VBA Program Settings\\NCLmod\\Options";
    const QString sub = "HKEY_CURRENT_USER\\" + options + "\\Sub\n";
    const struct {
        QStringList args;
        int code;
        QString out;
    } steps[] = {
        {{"add", kKey, "/v", "TCPPort", "/t", "REG_SZ", "/d", "1001"}, 0, kDone},
        {{"add", kKey, "/v", "Count", "/t", "REG_DWORD", "/d", "1001"}, 0, kDone},
        {{"add", kKey + "\\Sub"}, 0, kDone},
        {{"query", kKey, "/v", "tcpport"},
         0,
         "HKEY_USERS\\.DEFAULT\\" + options + "\n    TCPPort    REG_SZ    1001\n"},
        // The same tree seen through HKCU, all values, then the subkeys.
        {{"query", "HKEY_CURRENT_USER\\" + options},
         0,
         "HKEY_CURRENT_USER\\" + options +
             "\n    TCPPort    REG_SZ    1001\n    Count    REG_DWORD    0x3e9\n\n" + sub},
        {{"add", "HKLM\\Software\\E\\Inner", "/v", "x", "/t", "REG_DWORD", "/d", "0x10"}, 0, kDone},
        {{"add", "HKLM\\Software\\E", "/v", "y", "/d", "text with  blanks"}, 0, kDone},
        {{"export", "HKLM\\Software\\E"},
         0,
         "HKEY_LOCAL_MACHINE\\Software\\E\n    y    REG_SZ    text with  blanks\n\n"
         "HKEY_LOCAL_MACHINE\\Software\\E\\Inner\n    x    REG_DWORD    0x10\n\n"},
        // An existing value is not overwritten without /f where nobody can be asked.
        {{"add", "HKLM\\Software\\E", "/v", "y", "/d", "other"}, 1, ""},
        {{"delete", "HKLM\\Software\\E", "/v", "Y", "/f"}, 0, kDone},
        {{"query", "HKLM\\Software\\E", "/v", "y"}, 1, ""},
        {{"delete", "HKLM\\Software\\E", "/v", "missing"}, 1, ""},
        {{"delete", "HKLM\\Software\\E"}, 0, kDone},
        {{"query", "HKLM\\Software\\E\\Inner"}, 1, ""},
        {{"delete", "HKLM\\Software\\Missing"}, 1, ""},
        {{"query"}, 2, ""},
        {{"frobnicate", "HKLM\\Software\\T"}, 2, ""},
        {{"query", "HKXX\\Software"}, 2, ""},
        {{"query", kKey, "/v"}, 2, ""},
        {{"add", kKey, "/v", "n", "/t", "REG_BINARY", "/d", "00"}, 2, ""},
        {{"add", kKey, "/v", "n", "/t", "REG_DWORD", "/d", "many"}, 2, ""},
        {{"add", kKey, "/v", "n", "/t", "REG_DWORD", "/d", "4294967296"}, 2, ""},
        {{"delete", "HKLM"}, 2, ""},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(qPrintable(step.args.join(' ')));
        const Result r = Nclreg(step.args);
        EXPECT_EQ(r.code, step.code);
        EXPECT_EQ(r.out, step.out);
        EXPECT_EQ(r.err.count('\n'), step.code == 0 ? 0 : 1) << qPrintable(r.err);
    }
    EXPECT_TRUE(Nclreg({"export"}).out.contains("HKEY_USERS\\.DEFAULT\\" + options + "\\Sub\n"));
    // A store that is not a database: exit 1, and the reason is the one line.
    WriteFile(home.file("registry.db"), QByteArray(4096, 'x'));
    for (const QStringList& args : {QStringList{"query", "HKCU\\Software"},
                                    QStringList{"add", "HKCU\\Software\\X", "/v", "a"}}) {
        const Result r = Nclreg(args);
        EXPECT_EQ(r.code, 1);
        EXPECT_TRUE(r.err.startsWith("nclreg: ERROR: ") && r.err.contains("is not a database") &&
                    r.err.count('\n') == 1)
            << qPrintable(r.err);
    }
    const Result help = Nclreg({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_TRUE(help.out.contains("nclreg query KEY [/v NAME]"));
}

TEST_F(NclregTest, AddAsksOnATerminalBeforeOverwriting)
{
    ASSERT_EQ(Nclreg({"add", kKey, "/v", "TCPPort", "/d", "1001"}).code, 0);
    const struct {
        const char* answer;
        const char* data;   // what the value holds afterwards
        const char* prints; // after the question
        int exitCode;
    } cases[] = {
        {"no\n", "1001", "The operation was cancelled by the user.", 1},
        {"yes\n", "2002", "The operation completed successfully.", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        QProcess process;
        process.start("script",
                      {"-q", "-e", "-c", NclregPath() + " add '" + kKey + "' /v TCPPort /d 2002",
                       "/dev/null"});
        ASSERT_TRUE(process.waitForStarted(5000)) << "script(1) is not installed";
        process.write(c.answer);
        ASSERT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitCode(), c.exitCode);
        const QString out = QString::fromUtf8(process.readAllStandardOutput());
        EXPECT_TRUE(
            out.contains("Value TCPPort exists, overwrite(Yes/No)? " + QLatin1String(c.prints)))
            << qPrintable(out);
        EXPECT_TRUE(Nclreg({"query", kKey, "/v", "TCPPort"})
                        .out.endsWith("REG_SZ    " + QLatin1String(c.data) + QLatin1Char('\n')));
    }
}

} // namespace

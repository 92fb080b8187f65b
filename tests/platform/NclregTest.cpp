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

TEST_F(NclregTest, AddThenQueryPrintsAsRegExeDoes)
{
    ASSERT_EQ(Nclreg({"add", kKey, "/v", "TCPPort", "/t", "REG_SZ", "/d", "1001"}).code, 0);
    ASSERT_EQ(Nclreg({"add", kKey, "/v", "Count", "/t", "REG_DWORD", "/d", "1001"}).code, 0);
    ASSERT_EQ(Nclreg({"add", kKey + "\\Sub"}).code, 0);

    const Result one = Nclreg({"query", kKey, "/v", "tcpport"});
    EXPECT_EQ(one.code, 0);
    EXPECT_EQ(one.out, "HKEY_USERS\\.DEFAULT\\Software\\VB and VBA Program "
                       "Settings\\NCLmod\\Options\n"
                       "    TCPPort    REG_SZ    1001\n");

    // The same tree seen through HKCU, all values, then the subkeys.
    const Result all = Nclreg(
        {"query", "HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\NCLmod\\Options"});
    EXPECT_EQ(all.code, 0);
    EXPECT_EQ(all.out, "HKEY_CURRENT_USER\\Software\\VB and VBA Program "
                       "Settings\\NCLmod\\Options\n"
                       "    TCPPort    REG_SZ    1001\n"
                       "    Count    REG_DWORD    0x3e9\n"
                       "\n"
                       "HKEY_CURRENT_USER\\Software\\VB and VBA Program "
                       "Settings\\NCLmod\\Options\\Sub\n");
}

// On a terminal, add asks before it overwrites, as reg.exe does; the answer
// is typed on a pseudo-terminal that script(1) gives it.
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

TEST_F(NclregTest, ExitCodesAndOneErrorLine)
{
    ASSERT_EQ(Nclreg({"add", "HKLM\\Software\\T", "/v", "a", "/d", "x"}).code, 0);
    struct Case {
        QStringList args;
        int code;
    };
    const Case cases[] = {
        {{"query", "HKLM\\Software\\Missing"}, 1},
        {{"query", "HKLM\\Software\\T", "/v", "missing"}, 1},
        {{"delete", "HKLM\\Software\\T", "/v", "missing"}, 1},
        {{"delete", "HKLM\\Software\\Missing"}, 1},
        {{"query"}, 2},
        {{"frobnicate", "HKLM\\Software\\T"}, 2},
        {{"query", "HKXX\\Software"}, 2},
        {{"query", "HKLM\\Software\\T", "/v"}, 2},
        {{"add", "HKLM\\Software\\T", "/v", "n", "/t", "REG_BINARY", "/d", "00"}, 2},
        {{"add", "HKLM\\Software\\T", "/v", "n", "/t", "REG_DWORD", "/d", "many"}, 2},
        {{"add", "HKLM\\Software\\T", "/v", "n", "/t", "REG_DWORD", "/d", "4294967296"}, 2},
        {{"delete", "HKLM"}, 2},
        // An existing value is not overwritten without /f where nobody can be asked.
        {{"add", "HKLM\\Software\\T", "/v", "a", "/d", "y"}, 1},
    };
    const auto check = [](const Case& c) {
        const Result r = Nclreg(c.args);
        EXPECT_EQ(r.code, c.code) << qPrintable(c.args.join(' '));
        EXPECT_TRUE(r.out.isEmpty()) << qPrintable(c.args.join(' '));
        EXPECT_EQ(r.err.count('\n'), 1) << qPrintable(c.args.join(' ') + ": " + r.err);
        return r.err;
    };
    for (const Case& c : cases)
        check(c);
    EXPECT_EQ(Nclreg({"query", "HKLM\\Software\\T", "/v", "a"}).out,
              "HKEY_LOCAL_MACHINE\\Software\\T\n    a    REG_SZ    x\n");
    // A store that is not a database: exit 1, and the reason is the one line.
    {
        ScopedHome corrupt;
        WriteFile(corrupt.file("registry.db"), QByteArray(4096, 'x'));
        for (const Case& c : {Case{{"query", "HKCU\\Software"}, 1},
                              Case{{"add", "HKCU\\Software\\X", "/v", "a"}, 1}})
            EXPECT_TRUE(check(c).contains("is not a database"));
    }
    const Result help = Nclreg({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_TRUE(help.out.contains("nclreg query KEY [/v NAME]"));
}

TEST_F(NclregTest, DeleteAndExport)
{
    Nclreg({"add", "HKLM\\Software\\E\\Inner", "/v", "x", "/t", "REG_DWORD", "/d", "0x10"});
    Nclreg({"add", "HKLM\\Software\\E", "/v", "y", "/d", "text with  blanks"});
    const Result exported = Nclreg({"export", "HKLM\\Software\\E"});
    EXPECT_EQ(exported.code, 0);
    EXPECT_EQ(exported.out, "HKEY_LOCAL_MACHINE\\Software\\E\n"
                            "    y    REG_SZ    text with  blanks\n"
                            "\n"
                            "HKEY_LOCAL_MACHINE\\Software\\E\\Inner\n"
                            "    x    REG_DWORD    0x10\n"
                            "\n");
    EXPECT_TRUE(Nclreg({"export"}).out.contains("HKEY_LOCAL_MACHINE\\Software\\E\\Inner\n"));

    const Result deleted = Nclreg({"delete", "HKLM\\Software\\E", "/v", "Y", "/f"});
    EXPECT_EQ(deleted.code, 0);
    EXPECT_EQ(deleted.out, "The operation completed successfully.\n");
    EXPECT_EQ(Nclreg({"query", "HKLM\\Software\\E", "/v", "y"}).code, 1);
    EXPECT_EQ(Nclreg({"delete", "HKLM\\Software\\E"}).code, 0);
    EXPECT_EQ(Nclreg({"query", "HKLM\\Software\\E\\Inner"}).code, 1);
}

} // namespace

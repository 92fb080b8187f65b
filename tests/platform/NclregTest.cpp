// nclreg as a script sees it: its output lines, exit codes and error lines.
#include "TestSupport.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace testsupport;

namespace
{

// The tools are built at the top of the build folder.
QString NclregPath()
{
    const QString build = qEnvironmentVariable("NCL_BUILD_DIR");
    return (build.isEmpty() ? QCoreApplication::applicationDirPath() + "/../.." : build) +
           "/nclreg";
}

// With an answer, nclreg runs on a terminal (under script(1)) and the answer
// is typed there; what it says on the terminal comes back as its output.
ToolResult Nclreg(const QStringList& args, const char* answer = nullptr)
{
    if (answer == nullptr)
        return Run(NclregPath(), args, QProcessEnvironment::systemEnvironment(), 30000);
    QString line = NclregPath();
    for (const QString& arg : args)
        line += " '" + arg + "'";
    return Run("script", {"-q", "-e", "-c", line, "/dev/null"},
               QProcessEnvironment::systemEnvironment(), 30000, answer);
}

const QString kKey = "HKU\\.DEFAULT\\Software\\VB and VBA Program Settings\\NCLmod\\Options";
const QString kDone = "The operation completed successfully.\n";
const QString kAsk = "Value TCPPort exists, overwrite(Yes/No)? ";

// A script of commands on one store: what each prints and its exit code. A
// failure prints nothing on standard output and one line on standard error.
TEST(NclregTest, CommandsPrintAsRegExeDoes)
{
    ScopedHome home;
    // Reading never makes the store or its folder; adding does.
    const QString folder = home.file("data");
    ScopedEnv elsewhere("NCLMOD_HOME", folder.toLocal8Bit());
    const QString store = folder + "/registry.db";
    for (const QStringList& args : {QStringList{"query", kKey}, QStringList{"export"},
                                    QStringList{"delete", kKey, "/v", "TCPPort", "/f"}}) {
        const ToolResult r = Nclreg(args);
        EXPECT_EQ(r.exitCode, 1) << qPrintable(args.join(' '));
        EXPECT_EQ(r.err, "nclreg: ERROR: the registry store " + store + " does not exist\n");
        EXPECT_FALSE(QFileInfo::exists(folder));
    }

    const QString options = "Software\\VB and VBA Program Settings\\NCLmod\\Options";
    const QString hkcu = "HKEY_CURRENT_USER\\" + options;
    const QString port = "HKEY_USERS\\.DEFAULT\\" + options + "\n    TCPPort    REG_SZ    ";
    // Roots in any case, in short or long form; empty components drop out.
    const QString e = "hklm\\Software\\\\E\\";
    const QString hklmE = "HKEY_LOCAL_MACHINE\\Software\\E";
    const QString verbose = "nclreg: store " + store + "\n";
    const QStringList overwrite = {"add", kKey, "/v", "TCPPort", "/t", "REG_SZ", "/d", "2002"};
    const struct {
        QStringList args;
        int code;
        QString out;
        QString err = {};             // empty: one line on failure, none on success
        const char* answer = nullptr; // typed on a terminal
    } steps[] = {
        // clang-format off
        {{"--verbose", "add", kKey, "/v", "TCPPort", "/d", "1001"}, 0, kDone, verbose},
        {{"add", kKey, "/v", "Count", "/t", "REG_DWORD", "/d", "1001"}, 0, kDone},
        {{"add", kKey + "\\Sub"}, 0, kDone},
        // On a terminal an existing value is overwritten only when the user says so.
        {overwrite, 1, kAsk + "The operation was cancelled by the user.", "", "no\n"},
        {{"query", kKey, "/v", "tcpport"}, 0, port + "1001\n"},
        // The same tree seen through HKCU, all values, then the subkeys.
        {{"query", "hkey_current_user\\" + options}, 0, hkcu + "\n    TCPPort    REG_SZ    1001\n"
                             "    Count    REG_DWORD    0x3e9\n\n" + hkcu + "\\Sub\n"},
        {overwrite, 0, kAsk + "The operation completed successfully.", "", "yes\n"},
        {{"query", kKey, "/v", "TCPPort"}, 0, port + "2002\n"},
        {{"add", e + "\\Inner", "/v", "x", "/t", "REG_DWORD", "/d", "0x10"}, 0, kDone},
        {{"add", e, "/v", "y", "/d", "text with  blanks"}, 0, kDone},
        {{"export", e}, 0, hklmE + "\n    y    REG_SZ    text with  blanks\n\n"
                           + hklmE + "\\Inner\n    x    REG_DWORD    0x10\n\n"},
        // An existing value is not overwritten without /f where nobody can be asked.
        {{"add", e, "/v", "y", "/d", "other"}, 1, ""},
        {{"delete", e, "/v", "Y", "/f"}, 0, kDone},
        {{"query", e, "/v", "y"}, 1, ""},
        {{"delete", e, "/v", "missing"}, 1, ""},
        {{"delete", e}, 0, kDone},
        {{"delete", "HKLM\\Software\\Missing"}, 1, ""},
        {{"query"}, 2, ""},
        {{"frobnicate", "HKLM\\Software\\T"}, 2, ""},
        {{"query", "HKCR\\Software"}, 2, ""},
        {{"query", kKey, "/v"}, 2, ""},
        {{"add", kKey, "/v", "n", "/t", "REG_BINARY", "/d", "00"}, 2, ""},
        {{"add", kKey, "/v", "n", "/t", "REG_DWORD", "/d", "many"}, 2, ""},
        {{"add", kKey, "/v", "n", "/t", "REG_DWORD", "/d", "4294967296"}, 2, ""},
        {{"delete", "HKEY_USERS"}, 2, "", "nclreg: a root key cannot be deleted\n"},
        // clang-format on
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(qPrintable(step.args.join(' ')));
        const ToolResult r = Nclreg(step.args, step.answer);
        EXPECT_EQ(r.exitCode, step.code);
        if (step.answer != nullptr) {
            EXPECT_THAT(r.out.toStdString(), testing::HasSubstr(step.out.toStdString()));
        } else {
            EXPECT_EQ(r.out, step.out);
            if (!step.err.isEmpty())
                EXPECT_EQ(r.err, step.err);
            else
                EXPECT_EQ(r.err.count('\n'), step.code == 0 ? 0 : 1) << qPrintable(r.err);
        }
    }
    EXPECT_TRUE(Nclreg({"export"}).out.contains("HKEY_USERS\\.DEFAULT\\" + options + "\\Sub\n"));
    // A store that is not a database: exit 1, and the reason is the one line.
    WriteFile(store, QByteArray(4096, 'x'));
    const ToolResult corrupt = Nclreg({"query", "HKCU\\Software"});
    EXPECT_EQ(corrupt.exitCode, 1);
    EXPECT_EQ(corrupt.err, "nclreg: ERROR: the registry store " + store + " is not a database\n");
    const ToolResult help = Nclreg({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains("nclreg query KEY [/v NAME]"));
}

} // namespace

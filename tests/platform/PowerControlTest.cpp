// The power control: which backend a value of NCLMOD_POWER chooses, what the
// flags ask for, and that the recording backend only writes its line.
#include "platform/PowerControl.h"

#include "TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace platform;

TEST(PowerControlTest, OnlyAnUnsetVariableChoosesTheRealBackend)
{
    EXPECT_EQ(PowerBackendFor(nullptr), PowerBackendKind::Real);
    const struct {
        QByteArray value;
        PowerBackendKind kind;
    } cases[] = {
        {"record:/tmp/power.log", PowerBackendKind::Recording},
        {"record:x", PowerBackendKind::Recording},
        {"record:", PowerBackendKind::Refusing},
        {"", PowerBackendKind::Refusing},
        {"real", PowerBackendKind::Refusing},
        {"Record:/tmp/p", PowerBackendKind::Refusing},
        {" record:/tmp/p", PowerBackendKind::Refusing},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PowerBackendFor(&c.value), c.kind) << c.value.constData();
    // A refusing setting, or a record file that cannot be written, acts on nothing.
    QTemporaryDir dir;
    for (const QByteArray& value :
         {QByteArray("record:"), QByteArray("bogus"),
          "record:" + dir.filePath("missing/dir/power.log").toLocal8Bit()}) {
        testsupport::ScopedEnv power("NCLMOD_POWER", value);
        int error = 0;
        EXPECT_FALSE(ExitWindowsEx(2, -1, error)) << value.constData();
        EXPECT_NE(error, 0);
    }
}

// Each request appends its line to the record file; the real backend would
// run the command.
TEST(PowerControlTest, FlagsChooseTheActionAndTheCommand)
{
    const struct {
        quint32 flags;
        const char* line;
        const char* program;
        QStringList arguments;
    } cases[] = {
        {0, "flags=0 action=logoff", "loginctl", {"terminate-session"}},
        {4, "flags=4 action=logoff forced", "loginctl", {"kill-session", "--signal=SIGKILL"}},
        {1, "flags=1 action=halt", "systemctl", {"halt"}},
        {5, "flags=5 action=halt forced", "systemctl", {"--check-inhibitors=no", "halt"}},
        {2, "flags=2 action=reboot", "systemctl", {"reboot"}},
        {8, "flags=8 action=poweroff", "systemctl", {"poweroff"}},
        {9, "flags=9 action=poweroff", "systemctl", {"poweroff"}},
        {10, "flags=10 action=reboot", "systemctl", {"reboot"}},
        {15, "flags=15 action=reboot forced", "systemctl", {"--check-inhibitors=no", "reboot"}},
    };
    QTemporaryDir dir;
    const QString log = dir.filePath("power.log");
    testsupport::ScopedEnv power("NCLMOD_POWER", "record:" + log.toLocal8Bit());
    QString lines;
    for (const auto& c : cases) {
        int error = -1;
        EXPECT_TRUE(ExitWindowsEx(c.flags, -1, error)) << c.flags;
        EXPECT_EQ(error, 0);
        lines += QLatin1String(c.line) + "\n";
        EXPECT_EQ(testsupport::ReadFile(log), lines);
        const PowerCommand command = LogindCommand(ActionFor(c.flags), c.flags & EWX_FORCE);
        EXPECT_EQ(command.program, QLatin1String(c.program)) << c.flags;
        EXPECT_EQ(command.arguments, c.arguments) << c.flags;
    }
}

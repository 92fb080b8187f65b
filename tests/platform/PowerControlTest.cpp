// The power control: which backend a value of NCLMOD_POWER chooses, and what
// the flags ask for.
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

// The action the flags ask for, and what the real backend runs for it. The
// line the recording backend writes for every combination of flags is checked
// where the exit words of a console request become flags.
TEST(PowerControlTest, FlagsChooseTheActionAndTheCommand)
{
    const struct {
        quint32 flags;
        const char* program;
        QStringList arguments;
    } cases[] = {
        {0, "loginctl", {"terminate-session"}},
        {4, "loginctl", {"kill-session", "--signal=SIGKILL"}},
        {1, "systemctl", {"halt"}},
        {5, "systemctl", {"--check-inhibitors=no", "halt"}},
        {2, "systemctl", {"reboot"}},
        {8, "systemctl", {"poweroff"}},
        {9, "systemctl", {"poweroff"}},
        {10, "systemctl", {"reboot"}},
        {15, "systemctl", {"--check-inhibitors=no", "reboot"}},
    };
    for (const auto& c : cases) {
        const PowerCommand command = LogindCommand(ActionFor(c.flags), c.flags & EWX_FORCE);
        EXPECT_EQ(command.program, QLatin1String(c.program)) << c.flags;
        EXPECT_EQ(command.arguments, c.arguments) << c.flags;
    }
}

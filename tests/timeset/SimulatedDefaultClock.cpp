// The engine tests install their own clocks. Whatever falls back to the
// process-wide default clock (a test that forgot, or a fixture that replaced
// its clock in the wrong order) must find a simulated one, never the host's:
// the tests run as root, where the real clock would really be set.
#include "SimulatedDefaultClock.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace enginetest
{

namespace
{

QTemporaryDir& Folder()
{
    static QTemporaryDir folder;
    return folder;
}

class SimulatedDefaultClockEnvironment : public ::testing::Environment
{
public:
    void SetUp() override { qputenv("NCLMOD_SIMCLOCK", DefaultClockFile().toLocal8Bit()); }
};

::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new SimulatedDefaultClockEnvironment);

} // namespace

QString DefaultClockFile()
{
    return Folder().filePath(QStringLiteral("default-clock.offset"));
}

} // namespace enginetest

// Test entry: a core application object for the event loop, a private runtime
// folder, and a recording power backend so no test can act on the machine.
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir runtimeDir;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        QFile::setPermissions(runtimeDir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                     QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", runtimeDir.path().toLocal8Bit());
    }
    if (qEnvironmentVariableIsEmpty("NCLMOD_POWER"))
        qputenv("NCLMOD_POWER",
                QByteArray("record:") + QDir::tempPath().toLocal8Bit() + "/nclmod-test-power.log");
    // No test may move the host clock: the real clock refuses, and a test that
    // forgets to choose a clock gets a simulated one.
    qputenv("NCLMOD_FORBID_REAL_CLOCK", "1");
    QTemporaryDir clockDir;
    if (qEnvironmentVariableIsEmpty("NCLMOD_SIMCLOCK"))
        qputenv("NCLMOD_SIMCLOCK", (clockDir.path() + "/simclock").toLocal8Bit());
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

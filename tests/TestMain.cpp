// Test entry: an application object for the event loop (a widgets one for the
// window tests, on the offscreen platform), a private runtime and config
// folder, a recording power backend and a simulated clock, so no test can act
// on the machine or its desktop.
#ifdef NCL_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir privateDir;
    const QByteArray base = privateDir.path().toLocal8Bit();
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        QFile::setPermissions(privateDir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                     QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", base);
    }
    // Start-up entries of the tests go here, never into the user's own.
    qputenv("XDG_CONFIG_HOME", base + "/config");
    if (qEnvironmentVariableIsEmpty("NCLMOD_POWER"))
        qputenv("NCLMOD_POWER",
                QByteArray("record:") + QDir::tempPath().toLocal8Bit() + "/nclmod-test-power.log");
    // No test may move the host clock: the real clock refuses, and a test that
    // forgets to choose a clock gets a simulated one.
    qputenv("NCLMOD_FORBID_REAL_CLOCK", "1");
    if (qEnvironmentVariableIsEmpty("NCLMOD_SIMCLOCK"))
        qputenv("NCLMOD_SIMCLOCK", base + "/simclock");
    TestApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

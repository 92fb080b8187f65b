// Entry of the window tests: a widgets application on the offscreen platform,
// a private runtime and autostart folder, recorded power actions and a
// simulated clock, so no test can act on the machine or its desktop.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir privateDir;
    const QByteArray base = privateDir.path().toLocal8Bit();
    QDir(privateDir.path()).mkpath("runtime");
    QFile::setPermissions(privateDir.path() + "/runtime",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", base + "/runtime");
    qputenv("XDG_CONFIG_HOME", base + "/config");
    if (qEnvironmentVariableIsEmpty("NCLMOD_POWER"))
        qputenv("NCLMOD_POWER", "record:" + base + "/power.log");
    qputenv("NCLMOD_FORBID_REAL_CLOCK", "1");
    if (qEnvironmentVariableIsEmpty("NCLMOD_SIMCLOCK"))
        qputenv("NCLMOD_SIMCLOCK", base + "/simclock");
    // Everything the agents under test open stays on loopback.
    qputenv("NCLMOD_BIND_ADDRESS", "127.0.0.1");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// The Comm control: its settings strings, its device names, and talking
// through an open port.
#include "platform/CommControl.h"

#include "EventWait.h"
#include "TestSupport.h"
#include "runtime/CurrentError.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

using platform::CommControl;
using testsupport::WaitFor;

TEST(CommControlTest, SettingsStringsAndDeviceNames)
{
    using P = QSerialPort;
    const struct {
        const char* text;
        qint32 baud;
        P::Parity parity;
        P::DataBits data;
        P::StopBits stop;
    } cases[] = {{"9600,N,8,1", 9600, P::NoParity, P::Data8, P::OneStop},
                 {"2400,e,7,2", 2400, P::EvenParity, P::Data7, P::TwoStop},
                 {"4800,O,8,1.5", 4800, P::OddParity, P::Data8, P::OneAndHalfStop}};
    platform::CommSettings settings;
    for (const auto& c : cases) {
        ASSERT_TRUE(platform::ParseCommSettings(c.text, settings)) << c.text;
        EXPECT_EQ(std::tuple(settings.baud, settings.parity, settings.dataBits, settings.stopBits),
                  std::tuple(c.baud, c.parity, c.data, c.stop))
            << c.text;
    }
    for (const char* bad :
         {"9600,N,8", "fast,N,8,1", "9600,X,8,1", "9600,N,9,1", "9600,N,8,3", "-1,N,8,1"})
        EXPECT_FALSE(platform::ParseCommSettings(bad, settings)) << bad;
    CommControl comm;
    EXPECT_FALSE(comm.setSettings("9600,N,8"));
    EXPECT_EQ(rt::Err().number, CommControl::comInvalidPropertyValue);
    EXPECT_EQ(comm.Settings(), "9600,N,8,1");

    // COM n is /dev/ttyS<n-1> unless NCLMOD_COM<n> names a device; a missing
    // device does not open.
    testsupport::ScopedEnv named("NCLMOD_COM3", "/tmp/some-adapter");
    EXPECT_EQ(CommControl::DeviceName(3), "/tmp/some-adapter");
    EXPECT_EQ(CommControl::DeviceName(12), "/dev/ttyS11");
    testsupport::ScopedEnv com("NCLMOD_COM4", "/nonexistent/ttyNCL");
    ASSERT_TRUE(comm.setCommPort(4));
    EXPECT_FALSE(comm.setPortOpen(true));
    EXPECT_EQ(rt::Err().number, CommControl::comPortInvalid);
    EXPECT_FALSE(comm.PortOpen());
    EXPECT_FALSE(comm.setCommPort(0));
    EXPECT_TRUE(comm.Input().isEmpty());
}

// The far end of a pty stands in for the board: the exact bytes the control
// sends are read there. (Reading the board's answer is checked with the relay
// switching, which waits for it.)
TEST(CommControlTest, TalksThroughThePortAndGuardsItWhileOpen)
{
    int board = -1;
    int device = -1;
    char name[128] = {};
    ASSERT_EQ(::openpty(&board, &device, name, nullptr, nullptr), 0);
    ::fcntl(board, F_SETFL, O_NONBLOCK);
    testsupport::ScopedEnv com("NCLMOD_COM1", name);

    CommControl comm;
    ASSERT_TRUE(comm.setCommPort(1));
    ASSERT_TRUE(comm.setPortOpen(true)) << rt::Err().description.toStdString();

    EXPECT_FALSE(comm.setPortOpen(true));
    EXPECT_EQ(rt::Err().number, CommControl::comPortAlreadyOpen);
    EXPECT_FALSE(comm.setCommPort(2));
    EXPECT_EQ(rt::Err().number, CommControl::comPortOpen);
    EXPECT_EQ(comm.CommPort(), 1);

    ASSERT_TRUE(comm.setOutput(QByteArray("!0S\x03!0R", 7)));

    // The board hears both writes, the second one made just before closing.
    ASSERT_TRUE(comm.setOutput(QByteArray("!0S\x00", 4)));
    EXPECT_TRUE(comm.setPortOpen(false));
    EXPECT_FALSE(comm.setOutput("!0R"));
    QByteArray heard;
    WaitFor([&] {
        char buffer[64];
        heard.append(buffer, qMax<ssize_t>(::read(board, buffer, sizeof buffer), 0));
        return heard.size() >= 11;
    });
    EXPECT_EQ(heard, QByteArray("!0S\x03!0R!0S\x00", 11));
    EXPECT_TRUE(comm.setCommPort(1));
    EXPECT_TRUE(comm.setPortOpen(true));
    ::close(device);
    ::close(board);
}

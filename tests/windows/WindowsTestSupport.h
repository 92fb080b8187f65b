#pragma once
// Shared set-up of the window tests: a fresh program folder with the agent
// started as far as its main window, and the debug trace in that folder.

#include "host/ProgramEntry.h"
#include "host/ServiceControl.h"
#include "host/frmMainEntSrvc.h"
#include "logging/DebugLog.h"
#include "settings/AppState.h"
#include "settings/COptions.h"

#include "TestSupport.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <vector>

namespace windowstest
{

// A 4-digit port unlikely to be taken by a neighbouring test run.
inline int TestPort()
{
    return 6000 + int(QCoreApplication::applicationPid() % 3000);
}

// The agent loaded as far as its main window, listening (once activated) on
// TestPort() plus the offset each fixture chooses.
class AgentWindowTest : public ::testing::Test
{
protected:
    explicit AgentWindowTest(int portOffset) : port(TestPort() + portOffset) {}
    void SetUp() override
    {
        // Options naming a loopback controller and the port; the marker keeps
        // tracing on through the window's load.
        settings::Options() = settings::COptions();
        testsupport::WriteFile(
            home.file("REVavidod.ini"),
            QStringLiteral("TCPPort, %1\nServerName, 127.0.0.1\n").arg(port).toLocal8Bit());
        testsupport::WriteFile(home.file("debug.txt"), "");
        host::Main({}, "NCLmod");
        logging::DebugFileName = home.file("DebugFile.txt");
        logging::DebugOn = true;
        logging::DebugFileOn = true;
        logging::SetDebugFile(true);
        form.EndProgram = [this](int code) { endCodes.push_back(code); };
        form.Form_Load();
    }
    void TearDown() override
    {
        form.listener.CloseInstance(form.listener.CurrentInstance);
        settings::App().ModuleType = "M";
        logging::CloseDebugFile();
        logging::DebugOn = false;
        logging::DebugFileOn = false;
    }
    QString trace() const { return testsupport::ReadFile(home.file("DebugFile.txt")); }

    const int port;
    // Everything the agent under test opens stays on loopback.
    testsupport::ScopedEnv bindAddress{"NCLMOD_BIND_ADDRESS", "127.0.0.1"};
    testsupport::ScopedHome home;
    host::ServiceControl serviceControl;
    host::frmMainEntSrvc form{&serviceControl};
    std::vector<int> endCodes;
};

} // namespace windowstest

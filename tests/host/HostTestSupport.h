#pragma once
// Shared set-up of the host and window tests: a fresh program folder where the
// agent has made its first start (by default an options file with port 0: any
// free port), a main window logic on it, and the debug trace kept in that folder.

#include "host/ProgramEntry.h"
#include "host/ServiceControl.h"
#include "host/frmMainEntSrvc.h"
#include "logging/DebugLog.h"
#include "settings/AppState.h"
#include "settings/COptions.h"
#include "settings/OptionStore.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <vector>

namespace hosttest
{

class AgentTest : public ::testing::Test
{
protected:
    explicit AgentTest(QByteArray initialOptions = "TCPPort, 0\n")
        : m_initialOptions(std::move(initialOptions))
    {
    }
    void SetUp() override
    {
        settings::Options() = settings::COptions();
        testsupport::WriteFile(home.file("REVavidod.ini"), m_initialOptions);
        ASSERT_EQ(host::Main({}, "NCLmod"), host::MainResult::ShowWindow);
        logging::DebugFileName = home.file("DebugFile.txt");
        form.EndProgram = [this](int code) { endCodes.push_back(code); };
    }
    void TearDown() override
    {
        logging::CloseDebugFile();
        logging::DebugOn = false;
        logging::DebugFileOn = false;
    }
    // Turns tracing on the way the marker file does.
    void TraceOn()
    {
        testsupport::WriteFile(home.file("debug.txt"), "");
        logging::DebugOn = logging::SetDebugFileMode(false);
    }
    // The interactive and the service trace.
    QString trace() const
    {
        return testsupport::ReadFile(home.file("DebugFile.txt")) +
               testsupport::ReadFile(home.file("DebugFileSvc.txt"));
    }
    // The listener element in use, and whether it listens.
    platform::SocketControl* element() const
    {
        return form.listener.tcpServer.Item(form.listener.CurrentInstance);
    }
    bool listening() const
    {
        return element() && element()->State() == platform::SocketControl::sckListening;
    }
    static QString Setting(const char* section, const char* name)
    {
        return settings::GetSetting("NCLmod", section, name, "<none>");
    }

    const QByteArray m_initialOptions;
    // Everything the agent under test opens stays on loopback.
    testsupport::ScopedEnv bindAddress{"NCLMOD_BIND_ADDRESS", "127.0.0.1"};
    testsupport::ScopedHome home;
    host::ServiceControl serviceControl;
    host::frmMainEntSrvc form{&serviceControl};
    std::vector<int> endCodes;
};

} // namespace hosttest

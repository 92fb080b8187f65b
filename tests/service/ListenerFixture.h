#pragma once
// The fixture of the tests that run a listener on loopback: a fresh home with
// the debug trace in it, a free port as TCPPort, and the listener bound to one
// loopback address.

#include "service/Listener.h"
#include "settings/AppState.h"
#include "settings/COptions.h"

#include "LoopbackSupport.h"
#include "TestSupport.h"
#include "logging/ScopedTrace.h"
#include "platform/EventWait.h"
#include "timeset/EngineTestSupport.h"

#include <gtest/gtest.h>

namespace loopback
{

class ListenerFixture : public ::testing::Test
{
protected:
    explicit ListenerFixture(const char* bindAddress = "127.0.0.1")
        : bindAddress("NCLMOD_BIND_ADDRESS", bindAddress)
    {
    }
    void SetUp() override
    {
        settings::App().ModuleType = QStringLiteral("M");
        port = FreePort();
        ASSERT_NE(port, 0);
        settings::Options().setTCPPort(port);
        settings::Options().setClientFormat(0);
        settings::Options().setServername(QString());
    }

    QString Trace() const { return debug.Text(); }
    bool Logged(const QString& text) const { return Trace().contains(text); }

    testsupport::ScopedHome home;
    testsupport::ScopedEnv bindAddress;
    testsupport::ScopedTrace debug{home.path()};
    qint16 port = 0;
    service::Listener listener;
};

} // namespace loopback

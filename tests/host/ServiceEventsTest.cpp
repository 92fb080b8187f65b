// The service events of the main window, the service manager operations and
// the service messages between an interactive copy and the service, both in
// this process.
#include "HostTestSupport.h"

#include "host/ServiceRegistration.h"
#include "host/modStartStopSvc.h"
#include "platform/EventWait.h"
#include "platform/ServiceHost.h"
#include "platform/ServiceManager.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <functional>

using namespace host;
using namespace testsupport;

namespace
{

class ServiceEventsTest : public hosttest::AgentTest
{
protected:
    void SetUp() override
    {
        AgentTest::SetUp();
        TraceOn();
    }
    QString settingsKey() const { return settings::App().RegSettingsKey; }
};

TEST_F(ServiceEventsTest, EveryControlCodeIsAcknowledgedAndTraced)
{
    struct Case {
        int code;
        const char* line;
    };
    const Case cases[] = {
        {127, " <---Unknown code"}, {149, " <---Unknown code"}, {144, " <---Unknown code"},
        {255, " <---Unknown code"}, {132, " ---Flush logs"},    {133, " ---Do heartbeat"},
        {148, " ---Reset ports"},   {131, " ---Flush Debug"},   {136, " <---Unknown code"},
        // The debug file is switched on, then off: the last case closes it.
        {134, "Debug FILE mode is now on."},    {135, "Debug FILE mode is now off."},
    };
    static const QRegularExpression dated("^\\d+-.*\\d{4}");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        settings::SaveSetting("NCLmod", "Settings", "OK", "");
        form.Service_Control(c.code);
        const QString ok = Setting("Settings", "OK");
        EXPECT_TRUE(ok.startsWith(QString::number(c.code) + "-")) << ok.toStdString();
        EXPECT_TRUE(dated.match(ok).hasMatch()) << ok.toStdString();
        const QString text = trace();
        const QString event = "Svc Control event  " + QString::number(c.code) + " received\r\n";
        const qsizetype at = text.lastIndexOf(event);
        ASSERT_GE(at, 0);
        EXPECT_TRUE(text.mid(at + event.size()).contains(QString::fromLatin1(c.line)));
    }
}

TEST_F(ServiceEventsTest, OptionsChangedRereadsTheOptionsAndStatusPublishesTheLabels)
{
    form.CheckSettings(); // the first run left the options marked changed
    settings::SaveSetting("NCLmod", "Options", "TCPPort", "2121");
    form.Service_Control(128);
    EXPECT_EQ(settings::Options().TCPPort(), 2121);
    EXPECT_EQ(form.lblNISTLog, "Options Changed");
    EXPECT_EQ(Setting("Options", "Changed"), "False");

    form.lblSvcStatusColor = 0x00FF00;
    form.Service_Control(140);
    EXPECT_EQ(Setting("Settings", "setstattext"), "Options Changed");
    EXPECT_EQ(Setting("Settings", "setstatcolor"), "65280");
    EXPECT_TRUE(trace().contains(" ---Get Status Svc Mod"));
}

// A listener that lost its socket is opened again by the next minute's
// settings check, and by a status request of the interactive copy.
TEST_F(ServiceEventsTest, ListenerThatNeedsAResetIsOpenedAgain)
{
    form.CheckSettings(); // the first run left the options marked changed
    const struct {
        const char* by;
        std::function<void()> trigger;
    } cases[] = {
        {"settings check", [&] { form.CheckSettings(); }},
        {"status code", [&] { form.Service_Control(140); }},
    };
    service::Listener& listener = form.listener;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.by);
        listener.CloseInstance(listener.CurrentInstance);
        listener.ListenerNeedsReset = true;
        c.trigger();
        const platform::SocketControl* element = listener.tcpServer.Item(listener.CurrentInstance);
        ASSERT_NE(element, nullptr);
        EXPECT_EQ(element->State(), platform::SocketControl::sckListening);
        EXPECT_FALSE(listener.ListenerNeedsReset);
    }
}

TEST_F(ServiceEventsTest, DebugTogglesBackAndPauseContinueRunTheStartWorkAgain)
{
    const bool first = logging::DebugOn;
    form.Service_Control(130);
    EXPECT_EQ(logging::DebugOn, !first);
    form.Service_Control(130);
    EXPECT_EQ(logging::DebugOn, first);

    bool success = false;
    form.Service_Pause(&success);
    EXPECT_TRUE(success);
    EXPECT_FALSE(form.timerInit.isActive());
    success = false;
    form.Service_Continue(&success);
    EXPECT_TRUE(success);
    EXPECT_TRUE(form.timerInit.isActive());
    form.timerInit.stop();
    const QString text = trace();
    EXPECT_TRUE(text.contains("Got PauseService Signal"));
    EXPECT_TRUE(text.contains("Got Continue Service Signal"));
}

TEST_F(ServiceEventsTest, OperationsOnAMissingOrStoppedServiceGiveTheirFailureTexts)
{
    qint16 index = 0;
    EXPECT_EQ(ServiceStatus("", kServiceName, index), "Could not open Service");
    EXPECT_EQ(index, 3);
    EXPECT_EQ(ServiceStateColor(kServiceName), kColorGrey);
    EXPECT_EQ(ServiceStart("", kServiceName, index), "Could not open Service");
    EXPECT_EQ(ServiceStatus("\\\\elsewhere", kServiceName, index),
              "Could not open Service Manager");

    EXPECT_FALSE(RegisterService(kServiceName, "INSTALL", home.file("missing/NCLmod")));
    EXPECT_TRUE(trace().contains("ServiceCreate Status: Could not create Service at path  for "
                                 "Nightcall"));
    ASSERT_TRUE(RegisterService(kServiceName, "INSTALL", QCoreApplication::applicationFilePath()));
    EXPECT_EQ(platform::ServiceImagePath(kServiceName), QCoreApplication::applicationFilePath());
    EXPECT_EQ(ServiceStatus("", kServiceName, index), "Stopped");
    EXPECT_EQ(index, 2);
    EXPECT_EQ(ServiceStateColor(kServiceName), kColorLightRed);

    struct Case {
        QString (*operation)(const QString&, const QString&, qint16&);
        const char* text;
        const char* traceLine;
    };
    const Case cases[] = {
        {ServicePause, "Failed to Pause", "ServicePause Status: Failed to Pause"},
        {ServiceContinue, "Failed to Continue", "ServiceContinue Status: Failed to Continue"},
        {ServiceStop, "Failed to Stop", "ServiceStop Status: Failed to Stop"},
    };
    for (const Case& c : cases) {
        index = 0;
        EXPECT_EQ(c.operation("", kServiceName, index), c.text);
        EXPECT_EQ(index, 3);
        EXPECT_TRUE(trace().contains(c.traceLine)) << c.traceLine;
    }
    EXPECT_EQ(StatusColor(0), kColorGreen);
    EXPECT_EQ(StatusColor(1), kColorLightYellow);
    EXPECT_EQ(StatusColor(2), kColorLightRed);
    EXPECT_EQ(StatusColor(3), kColorGrey);
    EXPECT_EQ(StatusColor(-1), kColorGrey);

    EXPECT_TRUE(ServiceDelete(kServiceName));
    EXPECT_FALSE(ServiceDelete(kServiceName));
    EXPECT_TRUE(trace().contains("ServiceDelete Status: Could not open Service  for Nightcall"));
}

TEST_F(ServiceEventsTest, MessagesThatCannotBeSentFailWithoutReachingTheManager)
{
    ASSERT_TRUE(ServiceCreate(kServiceName, QCoreApplication::applicationFilePath()));
    for (const int code : {0, 6, 127, 256, -1}) {
        EXPECT_FALSE(ServiceCommand(code, kServiceName)) << code;
        EXPECT_FALSE(trace().contains("Control Service Failed")) << code;
    }
    EXPECT_FALSE(svc_call_func("BOGUS", "NCLmod", settingsKey()));
    EXPECT_TRUE(trace().contains("svc_call_func: command not found BOGUS"));

    // The service is registered but not running: delivery fails and is reported.
    EXPECT_FALSE(SendAndWait(140, settingsKey(), kServiceName));
    const QString text = trace();
    EXPECT_TRUE(text.contains("Control Service Failed: Error 1062"));
    EXPECT_TRUE(text.contains("ERROR  Severity:1, Err:1062, "));
    EXPECT_TRUE(text.contains("ID: Send_Mesg 195, Msg:Failed to successfully send service message "
                              "#140, Resp:0"));
}

TEST_F(ServiceEventsTest, InteractiveCopyTalksToTheServiceInThisProcess)
{
    ASSERT_TRUE(ServiceCreate(kServiceName, QCoreApplication::applicationFilePath()));
    ScopedEnv asService("NCLMOD_SERVICE_NAME", "Nightcall");
    ServiceControl control;
    frmMainEntSrvc service{&control};
    std::vector<int> serviceEnds;
    service.EndProgram = [&](int code) { serviceEnds.push_back(code); };
    service.Form_Load();
    ASSERT_NE(control.Host(), nullptr);
    Spin(20); // Start comes on the event loop
    ASSERT_TRUE(service.StartedAsService);
    service.timerInit.stop(); // no main service loop in this process

    qint16 index = 3;
    EXPECT_EQ(ServiceStatus("", kServiceName, index), "Running");
    EXPECT_EQ(index, 0);

    form.ServiceMessage("OPTIONS_CHANGED");
    EXPECT_TRUE(Setting("Settings", "OK").startsWith("128-"));
    EXPECT_EQ(service.lblNISTLog, "Options Changed");
    form.StatusPoll();
    EXPECT_EQ(form.lblNISTLog, "Options Changed");
    EXPECT_EQ(form.lblSvcStatusColor, kColorGreen);
    EXPECT_TRUE(svc_call_func("START", "NCLmod", settingsKey()));
    EXPECT_TRUE(Setting("Settings", "OK").startsWith("144-"));
    form.ServiceMessage("RESET_PORTS");
    EXPECT_TRUE(Setting("Settings", "OK").startsWith("148-"));
    EXPECT_TRUE(trace().contains("Ports reset at service"));

    EXPECT_EQ(ServicePause("", kServiceName, index), "OK");
    EXPECT_EQ(index, 1);
    EXPECT_EQ(ServiceStatus("", kServiceName, index), "Paused");
    EXPECT_EQ(ServiceContinue("", kServiceName, index), "OK");
    EXPECT_EQ(index, 0);
    EXPECT_TRUE(service.timerInit.isActive());
    service.timerInit.stop();
    EXPECT_EQ(ServiceStatus("", kServiceName, index), "Running");

    EXPECT_EQ(ServiceStop("", kServiceName, index), "OK");
    EXPECT_EQ(index, 2);
    Spin(300);
    EXPECT_TRUE(service.StopRequested);
    EXPECT_EQ(serviceEnds, std::vector<int>{0});
    EXPECT_EQ(Setting("Options", "Changed"), "True");
    EXPECT_EQ(ServiceStatus("", kServiceName, index), "Stop Pending");
}

TEST_F(ServiceEventsTest, RemoveregDeletesTheServiceRegistration)
{
    ASSERT_TRUE(ServiceCreate("NCLmod", QCoreApplication::applicationFilePath()));
    EXPECT_EQ(Main({"removereg"}, "NCLmod"), MainResult::Ended);
    qint16 index = 0;
    EXPECT_EQ(ServiceStatus("", "NCLmod", index), "Could not open Service");
}

} // namespace

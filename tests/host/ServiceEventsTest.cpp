// The service events of the main window, the service manager operations and
// the service messages between an interactive copy and the service, both in
// this process.
#include "HostTestSupport.h"

#include "host/ServiceOptions.h"
#include "host/ServiceRegistration.h"
#include "host/modStartStopSvc.h"
#include "platform/EventWait.h"
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
        {127, " <---Unknown code"},
        {149, " <---Unknown code"},
        {144, " <---Unknown code"},
        {132, " ---Flush logs"},
        {133, " ---Do heartbeat"},
        {148, " ---Reset ports"},
        {131, " ---Flush Debug"},
        // The debug file is switched on, then off: the last case closes it.
        {134, "Debug FILE mode is now on."},
        {135, "Debug FILE mode is now off."},
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
    EXPECT_EQ(Setting("Options", "Changed"), "False");

    form.lblSvcStatusColor = 0x00FF00;
    form.Service_Control(140);
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
        EXPECT_TRUE(listening());
        EXPECT_FALSE(listener.ListenerNeedsReset);
    }
}

TEST_F(ServiceEventsTest, DebugCodeTogglesBack)
{
    const bool first = logging::DebugOn;
    form.Service_Control(130);
    EXPECT_EQ(logging::DebugOn, !first);
    form.Service_Control(130);
    EXPECT_EQ(logging::DebugOn, first);
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

// The interactive copy and the service window logic against a service that
// runs in this process: the copy leaves the port to the service and follows
// its status; the window's Pause turns into Continue on a paused service, and
// Start continues it too.
TEST_F(ServiceEventsTest, InteractiveCopyTalksToTheServiceInThisProcess)
{
    ASSERT_TRUE(ServiceCreate(kServiceName, QCoreApplication::applicationFilePath()));
    form.StatusPoll();
    EXPECT_EQ(form.lblSvcStatusColor, kColorLightYellow);
    EXPECT_TRUE(trace().contains("Status svc call failed"));
    form.Form_Activate();
    EXPECT_FALSE(form.BackgroundServiceRunning);
    EXPECT_TRUE(listening());

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

    form.ServiceMessage("OPTIONS_CHANGED");
    EXPECT_TRUE(Setting("Settings", "OK").startsWith("128-"));
    EXPECT_EQ(service.lblNISTLog, "Options Changed");
    form.StatusPoll();
    EXPECT_EQ(form.lblNISTLog, "Options Changed");
    EXPECT_EQ(form.lblSvcStatusColor, kColorGreen);
    EXPECT_TRUE(svc_call_func("START", "NCLmod", settingsKey()));
    EXPECT_TRUE(Setting("Settings", "OK").startsWith("144-"));

    form.Form_Activate();
    EXPECT_TRUE(form.BackgroundServiceRunning);
    EXPECT_TRUE(form.cmdStatusVisible);
    EXPECT_TRUE(form.lblNISTLog.startsWith("Note: the background service"));
    EXPECT_TRUE(trace().contains("Service running, closing port in application"));
    EXPECT_FALSE(listening());
    EXPECT_TRUE(Setting("Settings", "OK").startsWith("148-"));
    EXPECT_TRUE(trace().contains("Ports reset at service"));

    ServiceOptions window;
    window.Setup(kServiceName, &form, 0);
    window.Form_Load();
    EXPECT_EQ(window.lblSvcName, "Nightcall");
    EXPECT_EQ(window.lblSvcNote,
              "Control of the Nightcall service can also be done from the Control panel");
    EXPECT_FALSE(window.TimerSvc.isActive());
    const struct {
        void (ServiceOptions::*click)();
        const char* status;
        quint32 color;
        const char* pauseCaption;
    } steps[] = {
        {&ServiceOptions::cmdSvcStatus_Click, "Running", kColorGreen, "Pause"},
        {&ServiceOptions::cmdSvcPause_Click, "OK", kColorLightYellow, "Pause"},
        {&ServiceOptions::cmdSvcStatus_Click, "Paused", kColorLightYellow, "Continue"},
        {&ServiceOptions::cmdSvcPause_Click, "OK", kColorGreen, "Continue"},
        {&ServiceOptions::cmdSvcStatus_Click, "Running", kColorGreen, "Pause"},
        {&ServiceOptions::cmdSvcPause_Click, "OK", kColorLightYellow, "Pause"},
        {&ServiceOptions::cmdSvcStatus_Click, "Paused", kColorLightYellow, "Continue"},
        {&ServiceOptions::cmdSvcStart_Click, "OK", kColorGreen, "Continue"},
        {&ServiceOptions::cmdSvcStatus_Click, "Running", kColorGreen, "Pause"},
        {&ServiceOptions::cmdSvcStop_Click, "OK", kColorLightRed, "Pause"},
    };
    int step = 0;
    for (const auto& s : steps) {
        SCOPED_TRACE(step++);
        (window.*s.click)();
        EXPECT_EQ(window.lblSvcStatus, s.status);
        EXPECT_EQ(window.lblSvcStatusColor, s.color);
        EXPECT_EQ(window.cmdSvcPauseCaption, s.pauseCaption);
        // Continue runs the start work again.
        const bool continued = s.color == kColorGreen && QByteArray(s.status) == "OK";
        EXPECT_EQ(service.timerInit.isActive(), continued);
        service.timerInit.stop();
    }
    EXPECT_TRUE(window.TimerSvc.isActive());
    EXPECT_EQ(window.TimerSvc.interval(), 5000);
    EXPECT_TRUE(trace().contains("Got PauseService Signal"));
    EXPECT_TRUE(trace().contains("Got Continue Service Signal"));

    Spin(300);
    EXPECT_TRUE(service.StopRequested);
    EXPECT_EQ(serviceEnds, std::vector<int>{0});
    EXPECT_EQ(Setting("Options", "Changed"), "True");
    qint16 index = 0;
    EXPECT_EQ(ServiceStatus("", kServiceName, index), "Stop Pending");
    form.Form_Activate();
    EXPECT_FALSE(form.BackgroundServiceRunning);
    EXPECT_FALSE(form.cmdStatusVisible);
    EXPECT_EQ(form.lblNISTLog, "Ready");
    EXPECT_TRUE(listening());
}

TEST_F(ServiceEventsTest, RemoveregDeletesTheServiceRegistration)
{
    ASSERT_TRUE(ServiceCreate("NCLmod", QCoreApplication::applicationFilePath()));
    EXPECT_EQ(Main({"removereg"}, "NCLmod"), MainResult::Ended);
    qint16 index = 0;
    EXPECT_EQ(ServiceStatus("", "NCLmod", index), "Could not open Service");
}

} // namespace

// The service window and the main window against the real service manager:
// the agent itself is registered in a temporary program folder and started,
// paused, continued and stopped from the window.
#include "host/ServiceRegistration.h"
#include "host/modStartStopSvc.h"
#include "host/windows/MainWindowView.h"
#include "host/windows/frmSvcOptions.h"
#include "platform/SocketControl.h"
#include "settings/OptionStore.h"

#include "WindowsTestSupport.h"

#include <QDeadlineTimer>
#include <QFocusEvent>
#include <QLabel>
#include <QPushButton>
#include <QThread>

#include <gtest/gtest.h>

using namespace testsupport;
using namespace windowstest;

namespace
{

class ServiceWindowTest : public AgentWindowTest
{
protected:
    ServiceWindowTest() : AgentWindowTest(2) {}
    void SetUp() override
    {
        AgentWindowTest::SetUp();
        const QString agent = qEnvironmentVariable("NCL_BUILD_DIR") + "/NCLmod";
        ASSERT_TRUE(QFile::exists(agent)) << qPrintable(agent);
        ASSERT_TRUE(host::ServiceCreate(host::kServiceName, agent));
    }
    void TearDown() override
    {
        qint16 index = 0;
        if (host::ServiceStatus("", host::kServiceName, index) != "Stopped")
            host::ServiceStop("", host::kServiceName, index);
        WaitForState("Stopped");
        host::ServiceDelete(host::kServiceName);
        AgentWindowTest::TearDown();
    }
    static QString WaitForState(const QString& wanted)
    {
        qint16 index = 0;
        QString state;
        const QDeadlineTimer deadline(15000);
        while (!deadline.hasExpired()) {
            state = host::ServiceStatus("", host::kServiceName, index);
            if (state == wanted)
                break;
            QThread::msleep(50);
        }
        return state;
    }
};

TEST_F(ServiceWindowTest, ButtonsStartPauseContinueAndStopTheService)
{
    host::frmSvcOptions window(host::kServiceName, &form, 0);
    EXPECT_EQ(window.windowTitle(), "Service");
    EXPECT_EQ(window.lblSvcName->text(), "Nightcall");
    EXPECT_EQ(window.lblSvcNote->text(),
              "Control of the Nightcall service can also be done from the Control panel");
    EXPECT_EQ(window.lblSvcStatus->text(), "Stopped");
    EXPECT_EQ(window.logic.lblSvcStatusColor, host::kColorLightRed);
    EXPECT_FALSE(window.logic.TimerSvc.isActive());
    // A focused button explains itself in the status line.
    for (const auto& [button, hint] :
         {std::pair<QWidget*, QString>{window.cmdSvcStop, "Stop the Nightcall service"},
          {window.cmdSvcPause, "Suspend the Nightcall service"},
          {window.cmdSvcStart, "Start the Nightcall service"},
          {window.cmdSvcStatus, "Check if the Nightcall service is running"},
          {window.cmdHelp, "Help for this screen"},
          {window.cmdOK, "Return to main screen"}}) {
        QFocusEvent event(QEvent::FocusIn);
        QCoreApplication::sendEvent(button, &event);
        EXPECT_EQ(window.lblStatus->text(), hint);
    }

    const struct {
        QPushButton* button;
        QString status;
        quint32 color;
        QString pauseCaption;
    } steps[] = {
        {window.cmdSvcStart, "OK", host::kColorGreen, "Pause"},
        {window.cmdSvcStatus, "Running", host::kColorGreen, "Pause"},
        {window.cmdSvcPause, "OK", host::kColorLightYellow, "Pause"},
        {window.cmdSvcStatus, "Paused", host::kColorLightYellow, "Continue"},
        // Pause on a paused service continues it.
        {window.cmdSvcPause, "OK", host::kColorGreen, "Continue"},
        {window.cmdSvcStatus, "Running", host::kColorGreen, "Pause"},
        {window.cmdSvcPause, "OK", host::kColorLightYellow, "Pause"},
        {window.cmdSvcStatus, "Paused", host::kColorLightYellow, "Continue"},
        // So does Start.
        {window.cmdSvcStart, "OK", host::kColorGreen, "Continue"},
        {window.cmdSvcStatus, "Running", host::kColorGreen, "Pause"},
        {window.cmdSvcStop, "OK", host::kColorLightRed, "Pause"},
    };
    int step = 0;
    for (const auto& s : steps) {
        s.button->click();
        EXPECT_EQ(window.lblSvcStatus->text(), s.status) << "step " << step;
        EXPECT_EQ(window.logic.lblSvcStatusColor, s.color) << "step " << step;
        EXPECT_EQ(window.cmdSvcPause->text(), s.pauseCaption) << "step " << step;
        ++step;
    }
    EXPECT_TRUE(window.logic.TimerSvc.isActive());
    EXPECT_EQ(window.logic.TimerSvc.interval(), 5000);
    EXPECT_EQ(WaitForState("Stopped"), "Stopped");
}

// Each activation of the main window reads the service's state again and
// makes the window top-most: a running service takes the note, the Status
// button and the port; once it stops, Status says the call failed and the
// next activation listens again.
TEST_F(ServiceWindowTest, InteractiveCopyFollowsTheRunningService)
{
    host::MainWindowView view(form);
    const auto activate = [&] {
        QEvent event(QEvent::WindowActivate);
        QCoreApplication::sendEvent(&view, &event);
    };
    const auto listening = [&] {
        const platform::SocketControl* e =
            form.listener.tcpServer.Item(form.listener.CurrentInstance);
        return e && e->State() == platform::SocketControl::sckListening;
    };
    view.Activate();
    EXPECT_TRUE(listening());
    EXPECT_TRUE(view.cmdStatus->isHidden());

    // The service listens on a port of its own, so that it never meets this
    // copy's listener however late the activation comes.
    settings::SaveSetting("NCLmod", "Options", "TCPPort", QString::number(port + 50));
    qint16 index = 0;
    ASSERT_EQ(host::ServiceStart("", host::kServiceName, index), "OK");
    ASSERT_EQ(WaitForState("Running"), "Running");
    activate();
    EXPECT_TRUE(form.BackgroundServiceRunning);
    EXPECT_EQ(form.lblSvcStatusColor, host::kColorGreen);
    EXPECT_FALSE(view.cmdStatus->isHidden());
    EXPECT_EQ(view.cmdStatus->text(), "Status");
    EXPECT_TRUE(view.lblNISTLog->text().startsWith("Note: the background service"));
    EXPECT_FALSE(listening());
    EXPECT_TRUE(trace().contains("Service running, closing port in application"));

    view.cmdStatus->click();
    const QString published = settings::GetSetting("NCLmod", "Settings", "setstattext", "");
    EXPECT_FALSE(published.isEmpty());
    EXPECT_EQ(form.lblNISTLog, published);
    EXPECT_EQ(view.lblNISTLog->text(), published);
    EXPECT_EQ(form.lblSvcStatusColor, host::kColorGreen);

    host::ServiceStop("", host::kServiceName, index);
    ASSERT_EQ(WaitForState("Stopped"), "Stopped");
    view.cmdStatus->click();
    EXPECT_EQ(form.lblSvcStatusColor, host::kColorLightYellow);
    EXPECT_TRUE(trace().contains("Status svc call failed"));
    activate();
    EXPECT_FALSE(form.BackgroundServiceRunning);
    EXPECT_TRUE(view.cmdStatus->isHidden());
    EXPECT_EQ(view.lblNISTLog->text(), "Ready");
    EXPECT_TRUE(listening());
    EXPECT_TRUE(view.windowFlags() & Qt::WindowStaysOnTopHint);
}

} // namespace

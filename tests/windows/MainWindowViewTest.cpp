// The main window as an operator uses it: its menus, the real input and
// message boxes their commands show, the tray, Exit, Help and the service
// window. What the commands and the windows do lives in the host logic and is
// tested there; these tests show that the widgets reach it.
#include "host/windows/MainWindowView.h"
#include "host/ServiceRegistration.h"
#include "host/modStartStopSvc.h"
#include "host/windows/frmSvcOptions.h"
#include "platform/NetworkAdapters.h"
#include "settings/StartupEntries.h"

#include "host/HostTestSupport.h"

#include <QApplication>
#include <QDateTime>
#include <QDialog>
#include <QFocusEvent>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTextBrowser>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using namespace testsupport;

namespace
{

// Answers the modal boxes as they come up: input boxes with the next text of
// a list (kCancel, or an empty list, cancels), message boxes with a chosen
// button. Each box is kept as one line: "Title? label [default text]" for an
// input box, "Title (icon number): text" for a message box.
class BoxAnswerer : public QObject
{
public:
    static inline const QString kCancel = QStringLiteral("<cancel>");

    explicit BoxAnswerer(QStringList texts = {},
                         QMessageBox::StandardButton button = QMessageBox::Ok)
        : m_texts(std::move(texts)), m_button(button)
    {
        connect(&m_timer, &QTimer::timeout, this, &BoxAnswerer::AnswerOpenBox);
        m_timer.start(10);
    }
    QStringList shown;

private:
    void AnswerOpenBox()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* input = qobject_cast<QInputDialog*>(modal)) {
            shown << QStringLiteral("%1? %2 [%3]")
                         .arg(input->windowTitle(), input->labelText(), input->textValue());
            const QString text = m_texts.isEmpty() ? kCancel : m_texts.takeFirst();
            if (text == kCancel)
                return input->reject();
            input->setTextValue(text);
            input->accept();
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            shown << QStringLiteral("%1 (%2): %3")
                         .arg(box->windowTitle())
                         .arg(int(box->icon()))
                         .arg(box->text());
            box->done(m_button);
        }
    }
    QStringList m_texts;
    QMessageBox::StandardButton m_button;
    QTimer m_timer;
};

// A 4-digit port unlikely to be taken by a neighbouring test run.
int TestPort()
{
    return 6000 + int(QCoreApplication::applicationPid() % 3000) + 3;
}

// The agent loaded as far as its main window, with a loopback controller and
// tracing on, listening (once activated) on TestPort().
class MainWindowViewTest : public hosttest::AgentTest
{
protected:
    MainWindowViewTest()
        : AgentTest(
              QStringLiteral("TCPPort, %1\nServerName, 127.0.0.1\n").arg(TestPort()).toLocal8Bit())
    {
    }
    void SetUp() override
    {
        AgentTest::SetUp();
        TraceOn();
        form.Form_Load();
        view.Refresh();
    }

    const int port = TestPort();
    host::MainWindowView view{form};
};

// An empty or cancelled port box only leaves its trace line. An invalid port
// is explained and asked for again (every reason is tested with the host
// logic); a valid one moves the listener to a new element on that port; 0
// (any free port) is taken at once.
TEST_F(MainWindowViewTest, PortIsAskedAgainUntilValidThenListensThere)
{
    const QString ask = "TCP Port? Enter the port number to listen on [%1]";
    const QString invalid =
        "Invalid Entry (1): Entry must be a number %1.\nUse port 1001 as a default.";
    const qint16 before = form.listener.CurrentInstance;
    {
        BoxAnswerer answerer({"", BoxAnswerer::kCancel, "12345", "12a", QString::number(port + 1)});
        view.mnuOptionsPort->trigger();
        view.mnuOptionsPort->trigger();
        EXPECT_EQ(trace().count("Enter port: No entry or cancel"), 2);
        EXPECT_FALSE(settings::Options().Changed());
        EXPECT_EQ(settings::Options().TCPPort(), port);
        EXPECT_EQ(Setting("Options", "TCPPort"), QString::number(port));
        view.mnuOptionsPort->trigger();
        const QString asked = ask.arg(port);
        EXPECT_EQ(answerer.shown, QStringList({asked, asked, asked, invalid.arg("1-4 digits long"),
                                               asked, invalid.arg("0-9999"), asked}));
    }
    EXPECT_EQ(settings::Options().TCPPort(), port + 1);
    EXPECT_TRUE(settings::Options().Changed());
    EXPECT_NE(form.listener.CurrentInstance, before);
    ASSERT_TRUE(listening());
    EXPECT_EQ(element()->LocalPort(), port + 1);

    BoxAnswerer answerer({"0"});
    view.mnuOptionsPort->trigger();
    EXPECT_EQ(answerer.shown, QStringList({ask.arg(port + 1)}));
    EXPECT_EQ(settings::Options().TCPPort(), 0);
}

// An empty or cancelled box only leaves its trace line; an answer is saved.
TEST_F(MainWindowViewTest, InputBoxesOfTheOptionsMenu)
{
    settings::Options().setMACaddr("");
    const struct {
        QAction* action;
        QString asked;
        const char* traceLine;
        const char* option;
        QString answer;
    } cases[] = {
        {view.mnuOptionsMAC,
         "MAC Address? Enter the MAC address of the adapter card [" + platform::AdapterQueryMac() +
             "]",
         "Enter MAC address: No entry or cancel", "MACaddr", "not-a-mac-but-accepted"},
        {view.mnuOptionsController,
         "Controller Address? Enter the network name or IP address of the controller "
         "[127.0.0.1]",
         "Enter controller address: No entry or cancel", "ServerName", "127.0.0.9"},
    };
    const QString registryBefore = Setting("Options", "ServerName") + Setting("Options", "MACaddr");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.traceLine);
        const qsizetype linesBefore = trace().count(c.traceLine);
        BoxAnswerer answerer({"", BoxAnswerer::kCancel});
        c.action->trigger();
        c.action->trigger();
        EXPECT_EQ(answerer.shown, QStringList({c.asked, c.asked}));
        EXPECT_EQ(trace().count(c.traceLine), linesBefore + 2);
    }
    EXPECT_FALSE(settings::Options().Changed());
    EXPECT_EQ(Setting("Options", "ServerName") + Setting("Options", "MACaddr"), registryBefore);
    for (const auto& c : cases) {
        BoxAnswerer answerer({c.answer});
        c.action->trigger();
        EXPECT_EQ(Setting("Options", c.option), c.answer);
    }
    EXPECT_EQ(settings::Options().MACaddr(), "not-a-mac-but-accepted");
}

// Without a controller name Contact explains and sends nothing; with one it
// starts the heartbeat.
TEST_F(MainWindowViewTest, ContactWithoutControllerExplainsAndSendsNothing)
{
    for (const QString server : {"", "127.0.0.1"}) {
        settings::Options().setServername(server);
        BoxAnswerer answerer;
        view.mnuOptionsContact->trigger();
        EXPECT_EQ(answerer.shown.join(""), server.isEmpty()
                                               ? "Controller Name Not Set (1): You must "
                                                 "enter controller name before contacting"
                                               : "");
        // Nothing at all is sent without a name.
        EXPECT_EQ(trace().contains("---------Starting Heartbeat to " + server), !server.isEmpty());
    }
}

// The protocol entries set both formats, move the check mark and open the
// listener again on the same element, for datagrams or streams; the startup
// entry's check mark sets its option.
TEST_F(MainWindowViewTest, CheckMarksSetTheirOptions)
{
    for (const int format : {2, 0}) {
        SCOPED_TRACE(format);
        EXPECT_NE(form.mnuOptionsProtChecked, format);
        (format == 2 ? view.mnuOptionsProt2 : view.mnuOptionsProt0)->trigger();
        EXPECT_EQ(settings::Options().ServerFormat(), format);
        EXPECT_EQ(settings::Options().ClientFormat(), format);
        EXPECT_EQ(form.mnuOptionsProtChecked, format);
        EXPECT_EQ(view.mnuOptionsProt2->isChecked(), format == 2);
        EXPECT_EQ(view.mnuOptionsProt0->isChecked(), format == 0);
        EXPECT_TRUE(settings::Options().Changed());
        ASSERT_NE(element(), nullptr);
        EXPECT_EQ(element()->Protocol(), format == 2 ? 1 : 0);
    }
    for (const bool on : {true, false}) {
        SCOPED_TRACE(on);
        view.mnuOptionsStartup->trigger();
        EXPECT_EQ(view.mnuOptionsStartup->isChecked(), on);
        EXPECT_EQ(form.mnuOptionsStartupChecked, on);
        EXPECT_EQ(settings::Options().SystemStartup(), on);
        EXPECT_TRUE(settings::Options().Changed());
    }
}

// The loaded window offers the service on this platform family; registration
// succeeds once and fails after; the time-server role may not register at all.
TEST_F(MainWindowViewTest, LoadedWindowRegistersTheServiceOnce)
{
    EXPECT_EQ(view.windowTitle(), "Nightcall Module");
    EXPECT_TRUE(view.mnuFileService->isVisible() && view.mnuOptionsSvc->isVisible());
    EXPECT_FALSE(view.lblSvcStatus->isHidden());
    EXPECT_TRUE(view.cmdStatus->isHidden());
    EXPECT_EQ(view.lblSvcStatus->text() + view.cmdManual->text() + view.lblNISTLog->text(),
              "ServiceExitReady");
    view.cmdStatus->click(); // no service answers
    EXPECT_EQ(form.lblSvcStatusColor, host::kColorLightYellow);
    BoxAnswerer answerer;
    view.mnuFileService->trigger();
    EXPECT_EQ(form.lblSvcStatusColor, host::kColorLightRed); // registered, not started
    view.mnuFileService->trigger();
    host::ServiceDelete(host::kServiceName);
    settings::App().ModuleType = "E";
    view.mnuFileService->trigger();
    // Boxes without a title carry the application's name.
    const QString box = QApplication::applicationName() + " (0): ";
    EXPECT_EQ(answerer.shown,
              QStringList({box + "The Nightcall Module has been submitted for registration\n"
                                 "Use Options->Service form or NT Service Manager to start "
                                 "service\nThe service name is VARavazuvozo",
                           box + "The Redeviruza Service failed to register.\n"
                                 "Contact the system administrator for assistance.",
                           box + "Command invalid: Operating system incompatible or not "
                                 "Service module."}));
    qint16 index = 0;
    EXPECT_EQ(host::ServiceStatus("", host::kServiceName, index), "Could not open Service");
}

TEST_F(MainWindowViewTest, WithoutATrayTheWindowStaysOnMinimiseAndTipsReportTheError)
{
    view.Activate();
    EXPECT_TRUE(view.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(view.tray.check_if_loaded());
    const qsizetype errors = trace().count("Add icon error");
    EXPECT_GE(errors, 1);
    view.showMinimized();
    QCoreApplication::processEvents();
    EXPECT_TRUE(form.Minimised);
    EXPECT_TRUE(view.isVisible());

    // Switching the tips tries to add the icon again and reports the error.
    view.tray.mnuRightOff->trigger();
    EXPECT_TRUE(view.tray.mnuRightOff->isChecked());
    EXPECT_FALSE(view.tray.mnuRightOn->isChecked());
    EXPECT_GT(trace().count("Add icon error"), errors);
}

// Starting with the system, Exit asks first. "No" sends the window away
// (minimised here, where there is no tray) whichever way Exit came; an Exit
// while it is away ends without asking and, the window being minimised,
// saves nothing: the start-up change is not written.
TEST_F(MainWindowViewTest, ExitQuestionIsTheSameFromEveryPath)
{
    view.show();
    view.mnuOptionsStartup->trigger(); // changed, not yet saved
    ASSERT_TRUE(settings::Options().SystemStartup());
    const struct {
        const char* path;
        std::function<void()> exit;
    } paths[] = {
        {"File, Exit", [&] { view.mnuFileExit->trigger(); }},
        {"the Exit button", [&] { view.cmdManual->click(); }},
        {"the tray's Exit", [&] { view.tray.mnuLeftExit->trigger(); }},
    };
    for (const auto& p : paths) {
        SCOPED_TRACE(p.path);
        BoxAnswerer answerer({}, QMessageBox::No);
        p.exit();
        QCoreApplication::processEvents();
        EXPECT_EQ(answerer.shown, QStringList({"Tidewarden (2): Are you sure you want to exit "
                                               "the Service Module?"}));
        EXPECT_TRUE(view.isMinimized());
        EXPECT_TRUE(form.Minimised);
        EXPECT_TRUE(endCodes.empty());
        view.showNormal();
        QCoreApplication::processEvents();
        EXPECT_FALSE(form.Minimised);
    }
    {
        BoxAnswerer answerer({}, QMessageBox::No);
        view.cmdManual->click();
        QCoreApplication::processEvents();
    }
    BoxAnswerer answerer({}, QMessageBox::Yes);
    view.tray.mnuLeftExit->trigger();
    EXPECT_TRUE(answerer.shown.isEmpty());
    EXPECT_EQ(endCodes, std::vector<int>({0}));
    EXPECT_FALSE(settings::StartupEntryExists("NCLmod"));
}

// With no help page installed, Help of the main window and of the service
// window show the README's sections for users in a window of the program. The
// service window shows its logic's texts, and its buttons reach that logic.
TEST_F(MainWindowViewTest, HelpShowsTheUsersPartOfTheReadme)
{
    const auto helpText = [](QWidget* owner) {
        auto* help = owner->findChild<QDialog*>("frmHelp");
        if (!help || !help->isVisible())
            return QString("<no help window>");
        const QString text = help->findChild<QTextBrowser*>("txtHelp")->toPlainText();
        help->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return text;
    };
    view.mnuHelpTopics->trigger();
    const QString text = helpText(&view);
    EXPECT_TRUE(text.startsWith("Nightcall Module")) << text.left(80).toStdString();
    EXPECT_TRUE(text.contains("The two commands"));
    EXPECT_FALSE(text.contains("Tests, benchmarks")) << "developer notes are not help";

    host::frmSvcOptions* service = view.ShowServiceOptions();
    EXPECT_EQ(service->windowTitle(), "Service");
    EXPECT_EQ(service->lblSvcName->text() + ": " + service->lblSvcStatus->text(),
              "Nightcall: Could not open Service");
    QFocusEvent focus(QEvent::FocusIn);
    QCoreApplication::sendEvent(service->cmdSvcPause, &focus);
    EXPECT_EQ(service->lblStatus->text(), "Suspend the Nightcall service");
    service->cmdSvcStatus->click();
    EXPECT_TRUE(service->logic.TimerSvc.isActive());
    service->cmdHelp->click();
    EXPECT_EQ(helpText(service), text);
}

TEST_F(MainWindowViewTest, TrayCallbacksFollowTheMouseMessages)
{
    settings::App().ModuleType = "E"; // its main button asks for a time check
    int shows = 0;
    QObject::connect(&view.tray, &host::frmSysTray::showRequested, [&shows] { ++shows; });
    const struct {
        int x;
        bool shows;
        bool timeCheck;
    } cases[] = {
        {7680, false, false}, {7695, true, false},  {7710, false, false}, {7725, true, false},
        {7740, false, false}, {7755, false, false}, {7770, false, true},  {7785, true, false},
    };
    for (const auto& c : cases) {
        const int showsBefore = shows;
        form.setStatusText("Ready");
        view.tray.picIcon_MouseMove(0, 0, c.x, 0);
        EXPECT_EQ(shows - showsBefore, c.shows ? 1 : 0) << c.x;
        EXPECT_EQ(form.lblNISTLog == "Making connection...", c.timeCheck) << c.x;
    }
    EXPECT_TRUE(trace().contains("UNKNOWN MOUSE MOVE:  Button:0 Shift:0 X:7785 Y:0"));

    // Unknown messages are traced once a second at most.
    const qint64 first = QDateTime::currentSecsSinceEpoch();
    const qsizetype before = trace().count("UNKNOWN MOUSE MOVE: ");
    for (int i = 0; i < 5; ++i)
        view.tray.picIcon_MouseMove(1, 0, 9000, 15);
    const qint64 seconds = QDateTime::currentSecsSinceEpoch() - first + 1;
    EXPECT_LE(trace().count("UNKNOWN MOUSE MOVE: ") - before, seconds);
}

} // namespace

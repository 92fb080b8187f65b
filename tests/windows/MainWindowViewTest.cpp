#include "host/windows/MainWindowView.h"
#include "host/modStartStopSvc.h"
#include "host/windows/frmSvcOptions.h"
#include "platform/SocketControl.h"
#include "settings/StartupEntries.h"

#include "WindowsTestSupport.h"

#include <QApplication>
#include <QDateTime>
#include <QDialog>
#include <QInputDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTextBrowser>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using namespace testsupport;
using namespace windowstest;

namespace
{

// Answers the modal boxes as they come up: input boxes from a list of texts,
// message boxes with a chosen button. What the boxes said is kept.
class BoxAnswerer : public QObject
{
public:
    explicit BoxAnswerer(QStringList texts, QMessageBox::StandardButton button = QMessageBox::Ok)
        : m_texts(std::move(texts)), m_button(button)
    {
        connect(&m_timer, &QTimer::timeout, this, &BoxAnswerer::AnswerOpenBox);
        m_timer.start(10);
    }
    QStringList messages;
    QStringList titles;

private:
    void AnswerOpenBox()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* input = qobject_cast<QInputDialog*>(modal)) {
            titles << input->windowTitle();
            if (m_texts.isEmpty()) {
                input->reject();
                return;
            }
            input->setTextValue(m_texts.takeFirst());
            input->accept();
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            titles << box->windowTitle();
            messages << box->text();
            box->done(m_button);
        }
    }
    QStringList m_texts;
    QMessageBox::StandardButton m_button;
    QTimer m_timer;
};

class MainWindowViewTest : public AgentWindowTest
{
protected:
    MainWindowViewTest() : AgentWindowTest(3) {}
    void SetUp() override
    {
        AgentWindowTest::SetUp();
        view.Refresh();
    }

    host::MainWindowView view{form};
};

TEST_F(MainWindowViewTest, MenusCarryTheirCaptionsAccessKeysAndCheckMarks)
{
    EXPECT_EQ(view.windowTitle(), "Nightcall Module");
    QStringList bar;
    for (QAction* action : view.menuBar()->actions())
        bar << action->text();
    EXPECT_EQ(bar, QStringList({"&File", "&Options", "&Help"}));
    QStringList entries;
    for (QMenu* menu : {view.mnuFile, view.mnuOptions, view.mnuOptionsProtocol, view.mnuHelp})
        for (QAction* action : menu->actions())
            if (!action->isSeparator())
                entries << action->text();
    EXPECT_EQ(entries, QStringList({"&Register Service Module", "&Exit", "&Set Controller Address",
                                    "&Contact Controller", "&Protocol", "Port &Number",
                                    "&MAC address", "&Service..", "Startup &Automatically", "&NIST",
                                    "&SNTP", "Help &Topics", "&About.."}));
    // What the loaded window shows on this platform family.
    EXPECT_TRUE(view.mnuFileService->isVisible());
    EXPECT_TRUE(view.mnuOptionsSvc->isVisible());
    EXPECT_TRUE(view.mnuOptionsProt0->isChecked());
    EXPECT_FALSE(view.mnuOptionsProt2->isChecked());
    EXPECT_FALSE(view.lblSvcStatus->isHidden());
    EXPECT_EQ(view.lblSvcStatus->text(), "Service");
    EXPECT_TRUE(view.cmdStatus->isHidden());
    EXPECT_EQ(view.cmdManual->text(), "Exit");
    EXPECT_EQ(view.lblNISTLog->text(), "Ready");

    view.mnuOptionsProt2->trigger();
    EXPECT_TRUE(view.mnuOptionsProt2->isChecked());
    EXPECT_FALSE(view.mnuOptionsProt0->isChecked());
    EXPECT_EQ(settings::Options().ClientFormat(), 2);
    view.mnuOptionsStartup->trigger();
    EXPECT_TRUE(view.mnuOptionsStartup->isChecked());
}

TEST_F(MainWindowViewTest, PortMenuAsksAgainThroughRealBoxes)
{
    BoxAnswerer answerer({"12345", QString::number(port + 1)});
    view.mnuOptionsPort->trigger();
    EXPECT_EQ(answerer.titles, QStringList({"TCP Port", "Invalid Entry", "TCP Port"}));
    EXPECT_EQ(
        answerer.messages,
        QStringList({"Entry must be a number 1-4 digits long.\nUse port 1001 as a default."}));
    EXPECT_EQ(settings::Options().TCPPort(), port + 1);
}

TEST_F(MainWindowViewTest, WithoutATrayTheWindowStaysOnMinimiseAndTipsReportTheError)
{
    view.Activate();
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
        BoxAnswerer answerer({}, QMessageBox::No);
        p.exit();
        QCoreApplication::processEvents();
        EXPECT_EQ(answerer.titles, QStringList({"Tidewarden"})) << p.path;
        EXPECT_EQ(answerer.messages,
                  QStringList({"Are you sure you want to exit the Service Module?"}))
            << p.path;
        EXPECT_TRUE(view.isMinimized()) << p.path;
        EXPECT_TRUE(form.Minimised) << p.path;
        EXPECT_TRUE(endCodes.empty()) << p.path;
        view.showNormal();
        QCoreApplication::processEvents();
        EXPECT_FALSE(form.Minimised) << p.path;
    }
    {
        BoxAnswerer answerer({}, QMessageBox::No);
        view.cmdManual->click();
        QCoreApplication::processEvents();
    }
    BoxAnswerer answerer({}, QMessageBox::Yes);
    view.tray.mnuLeftExit->trigger();
    EXPECT_TRUE(answerer.messages.isEmpty());
    EXPECT_EQ(endCodes, std::vector<int>({0}));
    EXPECT_FALSE(settings::StartupEntryExists("NCLmod"));
}

// Each activation reads the service's state again and makes the window
// top-most: a service started since takes the note, the Status button and
// the port; once it stops, this copy listens again.
TEST_F(MainWindowViewTest, EveryActivationReadsTheServiceStateAfresh)
{
    quint32 color = host::kColorGrey;
    form.QueryServiceColor = [&] { return color; };
    const auto listening = [&] {
        const platform::SocketControl* e =
            form.listener.tcpServer.Item(form.listener.CurrentInstance);
        return e && e->State() == platform::SocketControl::sckListening;
    };
    const auto activate = [&] {
        QEvent event(QEvent::WindowActivate);
        QCoreApplication::sendEvent(&view, &event);
    };
    view.Activate();
    EXPECT_TRUE(view.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(listening());
    EXPECT_TRUE(view.cmdStatus->isHidden());

    color = host::kColorGreen;
    activate();
    EXPECT_TRUE(form.BackgroundServiceRunning);
    EXPECT_FALSE(view.cmdStatus->isHidden());
    EXPECT_TRUE(view.lblNISTLog->text().startsWith("Note: the background service"));
    EXPECT_FALSE(listening());
    EXPECT_TRUE(trace().contains("Service running, closing port in application"));

    color = host::kColorGrey;
    activate();
    EXPECT_FALSE(form.BackgroundServiceRunning);
    EXPECT_TRUE(view.cmdStatus->isHidden());
    EXPECT_EQ(view.lblNISTLog->text(), "Ready");
    EXPECT_TRUE(listening());
    EXPECT_TRUE(view.windowFlags() & Qt::WindowStaysOnTopHint);
}

// With no help page installed, Help of the main window and of the service
// window show the README's sections for users in a window of the program.
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

    const struct {
        QSystemTrayIcon::ActivationReason reason;
        int message;
    } reasons[] = {
        {QSystemTrayIcon::Trigger, 513},
        {QSystemTrayIcon::DoubleClick, 515},
        {QSystemTrayIcon::Context, 517},
        {QSystemTrayIcon::MiddleClick, 519},
    };
    for (const auto& r : reasons)
        EXPECT_EQ(host::frmSysTray::MessageOfReason(r.reason), r.message);
}

} // namespace

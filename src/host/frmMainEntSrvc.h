#pragma once
// The main window's logic, headless: its state, timers and procedures. The Qt
// Widgets views (main window, tray) sit on top of this object and only show
// what it holds; without a display it runs alone.

#include "contact/ControllerContact.h"
#include "schedule/CAutoSetting.h"
#include "schedule/CSync.h"
#include "schedule/TimeObjCallback.h"
#include "schedule/colTS.h"
#include "service/ConsoleActions.h"
#include "service/ConsoleRequests.h"
#include "service/Listener.h"
#include "timeset/CNISTDisplay.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

namespace settings
{
class COptions;
}
namespace timeset
{
class CNISTtimeset;
}

namespace host
{

class ServiceControl;

class frmMainEntSrvc : public QObject,
                       public schedule::TimeObjCallback,
                       public timeset::CNISTDisplay
{
    Q_OBJECT
public:
    explicit frmMainEntSrvc(ServiceControl* serviceControl, QObject* parent = nullptr);
    ~frmMainEntSrvc() override;

    // Main-window state.
    bool StartedAsService = false;
    bool ServiceMode = false;
    bool BackgroundServiceRunning = false;
    bool StopRequested = false;
    bool ManualClick = false;
    bool ResetPortsPending = false;
    bool StartMinimised = false;
    bool SyncWarningShown = false;

    // What the window shows; the views read these and follow statusChanged.
    QString Caption;
    QString lblNISTLog;
    QString lblSvcStatus;
    quint32 lblSvcStatusColor = 0;
    bool cmdStatusVisible = false;
    bool cmdManualVisible = true;
    bool mnuFileVisible = true;
    bool mnuOptionsStartupVisible = true;
    bool mnuOptionsStartupChecked = false;
    bool mnuFileServiceVisible = false;
    bool mnuOptionsSvcVisible = false;
    bool lblSvcStatusVisible = false;
    bool lblNoteVisible = true;
    int mnuOptionsProtChecked = -1; // index of the checked protocol entry, -1 for none
    bool Minimised = false;

    // The server sockets on TCPPort, with CurrentInstance and ListenerNeedsReset.
    service::Listener listener;
    // What the console and time clients ask on those sockets.
    service::ConsoleRequests requests{listener, *this};
    // Remote commands and relay switchings behind those requests.
    service::ConsoleActions actions{requests, listener};
    // Heartbeats and contacts on the outbound socket, with their watchdog
    // (which takes the place of tmrServer), the client list and its polling.
    contact::ControllerContact controllerContact{
        listener, *this, [this]() -> timeset::CNISTtimeset& { return NISTtimeset(); }};

    // The contact's watchdog (tmrServer) and the relay timer (tmrRelay) live
    // with the contact and the relay switching they pace.
    QTimer timerInit;
    QTimer tmrMin;

    // Ends the process; replaced by tests. The argument is the exit code.
    std::function<void(int)> EndProgram;
    // Asks the operator a yes/no question; headless runs answer yes.
    std::function<bool(const QString& text, const QString& title)> AskYesNo;
    // The installed service's state as its status colour; replaced by tests.
    std::function<quint32()> QueryServiceColor;

    void Form_Load();
    void Initialize();
    void SyncInit();
    void Form_Activate();
    void timerInit_Timer();
    void MainServiceLoop();
    bool CheckSettings();
    void MainRouter();
    void ManualMode();
    void cmdManual_Click();

    // What the engine reports while it works.
    float DisplaySync(const timeset::SyncDisplayInfo& info) override;
    void DisplayNoChange() override;
    void NISTdone() override;
    void HeartbeatDone(const QString& key, const QString& upDown,
                       const QString& macAddress) override;
    // A heartbeat may also end with NISTdone and the key.
    void NISTdone(const QString& key);
    // The paced wait's callbacks do nothing here.
    void NewSecond() override {}
    void NewMinute() override {}
    // Returns the cancel flag: true when the operator chose to stay.
    bool Form_Unload();
    void SaveNewSettings(settings::COptions& options);

    // Service control events.
    void Service_Start(bool* success);
    void Service_Stop();
    void Service_Pause(bool* success);
    void Service_Continue(bool* success);
    void Service_Control(int code);
    // Writes the status text and the status label's colour to the "Settings" values.
    void PublishStatus();

    // Interactive side: messages to the running service, and its status poll.
    void ServiceMessage(const QString& command);
    void StatusPoll();

    void setStatusText(const QString& text);

    // Puts the listener on the port and transport the options name now:
    // the element in use is reset, and every other element still listening
    // or bound elsewhere follows it (TCP) or is closed (UDP), so that no
    // socket stays on the old port.
    void MoveListenerToOptions();

    // The window's clock-setting engine, created on first use. NISTdone (and
    // HeartbeatDone) release it after every message, so callers take it
    // afresh for each message and do not keep the reference.
    timeset::CNISTtimeset& NISTtimeset();
    void ReleaseNISTtimeset();

    // The last setting's record (at start, the one the options hold) and the
    // automatic-interval state, both for the life of the window.
    schedule::CSync PreviousSync;
    schedule::CAutoSetting AutoSetting;
    // The list of alternative time servers, loaded on request from "TScircle.txt".
    schedule::colTS TimeServers;
    bool LoadTimeServers();

Q_SIGNALS:
    void statusChanged();
    // The operator chose to stay at the exit question: the window goes to
    // the tray (or is minimised), whichever way Exit was asked for.
    void minimiseRequested();

private:
    // Records a finished setting of the engine: sync record, automatic
    // interval, sync log and events.
    void RecordSetting(const timeset::CNISTtimeset& engine);

    // Says once, on standard output, how the agent serves (see StartLine).
    void AnnounceStart();

    ServiceControl* m_serviceControl;
    bool m_unloading = false;
    bool m_startAnnounced = false;
    // This copy listens on TCPPort (started by an activation that found no
    // running service).
    bool m_serving = false;
    // While the service loop runs, its end (not the unload) finishes the process.
    bool m_serviceLoopRunning = false;
    std::unique_ptr<timeset::CNISTtimeset> m_engine;
};

// The main window, set by Initialize.
frmMainEntSrvc* MainForm();

} // namespace host

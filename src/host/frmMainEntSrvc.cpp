#include "host/frmMainEntSrvc.h"

#include "host/ProgramInfo.h"
#include "host/ServiceControl.h"
#include "host/modStartStopSvc.h"
#include "logging/DebugLog.h"
#include "logging/EventLog.h"
#include "logging/SyncLog.h"
#include "platform/DataFolder.h"
#include "runtime/DateTime.h"
#include "runtime/Numbers.h"
#include "runtime/TextFormat.h"
#include "schedule/CTimeObj.h"
#include "schedule/Pauses.h"
#include "settings/AppState.h"
#include "settings/COptions.h"
#include "settings/OptionStore.h"
#include "timeset/CNISTtimeset.h"
#include "timeset/ShortDateFormat.h"

#include <cmath>
#include <cstdio>

namespace host
{

namespace
{

frmMainEntSrvc* g_mainForm = nullptr;

constexpr quint32 kGreen = 0x00FF00;

QString SettingModeName(qint16 mode)
{
    switch (mode) {
    case settings::SettingMode::Auto:
        return QStringLiteral("load: AUTO MODE");
    case settings::SettingMode::Timed:
        return QStringLiteral("load: TIMED MODE");
    case settings::SettingMode::Once:
        return QStringLiteral("load: ONCE  MODE");
    case settings::SettingMode::Daily:
        return QStringLiteral("load: DAILY  MODE");
    case settings::SettingMode::Manual:
        return QStringLiteral("load: MANUAL  MODE");
    default:
        return QStringLiteral("load: ELSE MODE");
    }
}

} // namespace

frmMainEntSrvc* MainForm()
{
    return g_mainForm;
}

frmMainEntSrvc::frmMainEntSrvc(ServiceControl* serviceControl, QObject* parent)
    : QObject(parent), m_serviceControl(serviceControl)
{
    timerInit.setInterval(2000);
    timerInit.setSingleShot(false);
    tmrMin.setInterval(59000);
    connect(&timerInit, &QTimer::timeout, this, &frmMainEntSrvc::timerInit_Timer);
    connect(&tmrMin, &QTimer::timeout, this, &frmMainEntSrvc::StatusPoll);
    connect(&listener, &service::Listener::StatusText, this, &frmMainEntSrvc::setStatusText);
    connect(&listener, &service::Listener::PortUnavailableAtStart, this,
            [this](qint32 number, const QString& text) {
                // Said where a person sees it; the agent keeps its other duties,
                // except when another program (a second agent) holds the port:
                // two agents would take each other's requests, so this one ends.
                platform::TellOnStandardError(text);
                logging::LogEvent(text, logging::EventError,
                                  settings::Options().LoggingEvntFileName());
                if (number == platform::SocketControl::sckAddressInUse)
                    EndProgram(1);
            });
    requests.Engine = [this]() -> timeset::CNISTtimeset& { return NISTtimeset(); };
    connect(&requests, &service::ConsoleRequests::StatusText, this, [this](const QString& text) {
        setStatusText(text);
        // A foreground run shows each handled request on standard output.
        if (!StartedAsService && !text.isEmpty()) {
            const QString block = QString(text).replace(QLatin1String("\r\n"), QLatin1String("\n"));
            std::printf("%s\n\n", qPrintable(block));
            std::fflush(stdout);
        }
    });
    if (m_serviceControl) {
        connect(m_serviceControl, &ServiceControl::Start, this, &frmMainEntSrvc::Service_Start);
        connect(m_serviceControl, &ServiceControl::Stop, this, &frmMainEntSrvc::Service_Stop);
        connect(m_serviceControl, &ServiceControl::Pause, this, &frmMainEntSrvc::Service_Pause);
        connect(m_serviceControl, &ServiceControl::Continue, this,
                &frmMainEntSrvc::Service_Continue);
        connect(m_serviceControl, &ServiceControl::Control, this, &frmMainEntSrvc::Service_Control);
    }
    EndProgram = [](int code) {
        logging::CloseDebugFile();
        std::exit(code);
    };
    AskYesNo = [](const QString&, const QString&) { return true; };
    QueryServiceColor = [] { return ServiceStateColor(kServiceName); };
}

frmMainEntSrvc::~frmMainEntSrvc()
{
    if (g_mainForm == this)
        g_mainForm = nullptr;
}

void frmMainEntSrvc::setStatusText(const QString& text)
{
    lblNISTLog = text;
    Q_EMIT statusChanged();
}

void frmMainEntSrvc::Form_Load()
{
    Initialize();
    Caption = QStringLiteral("Nightcall Module");
    setStatusText(QStringLiteral("Ready"));
    if (settings::App().PlatformFamily == QLatin1String("Windows NT")) {
        mnuFileServiceVisible = true;
        mnuOptionsSvcVisible = true;
        lblSvcStatusVisible = true;
    } else {
        lblNoteVisible = false;
    }
    mnuOptionsStartupChecked = settings::Options().SystemStartup();
    logging::DebugOn = logging::SetDebugFileMode(logging::DebugOn);
    if (m_serviceControl) {
        m_serviceControl->ControlsAccepted = 2;
        m_serviceControl->Interactive = false;
        m_serviceControl->StartService();
    }
    NCL_TRACE(QStringLiteral("Start Service sent"));
}

void frmMainEntSrvc::Initialize()
{
    NCL_TRACE(QStringLiteral("-----Initialize Svc Module ----"));
    g_mainForm = this;
    settings::COptions& options = settings::Options();
    // The protocol menu has entries for these two formats only.
    const qint16 format = options.ServerFormat();
    const bool onMenu =
        format == settings::ServerFormat::Nist || format == settings::ServerFormat::Sntp;
    mnuOptionsProtChecked = onMenu ? format : -1;
    if (options.ServerConn() == settings::ServerConn::DirectDial)
        setStatusText(QStringLiteral("NIST (direct dial)"));
    SyncInit();
    const QString shortDate =
        timeset::detect_short_date(ServiceMode ? QStringLiteral("SYSTEM") : QStringLiteral("USER"));
    NCL_TRACE(QStringLiteral("Short date Format: ") + shortDate);
    listener.CurrentInstance = 0;
    listener.limits.Configure(service::ReadLimits());
    options.setChanged(false);
    requests.Access().Load(true);
}

void frmMainEntSrvc::SyncInit()
{
    NCL_TRACE(QStringLiteral("---SyncInit---"));
    settings::COptions& options = settings::Options();
    PreviousSync = schedule::CSync();
    PreviousSync.Init_Registry(options);
    if (!options.SyncWarning())
        return;
    settings::LoadLastSyncTime(options, settings::App().AppTitle);
    const qint64 seconds = qint64(std::floor((rt::Now() - options.LastSyncTime()) * 86400.0));
    NCL_TRACE(QStringLiteral("Seconds since last time check: ") + QString::number(seconds));
    if (seconds > options.msecTimeOffset()) {
        SyncWarningShown = true;
        setStatusText(logging::ShowSyncWarning(qint32(seconds / 60)));
    }
}

void frmMainEntSrvc::Form_Activate()
{
    const settings::COptions& options = settings::Options();
    if (!StartedAsService) {
        if (!ServiceMode)
            Minimised = StartMinimised;
        if (settings::App().ModuleType == settings::ModuleType::EnterpriseService) {
            NCL_TRACE(QStringLiteral("--------------------Form Main Activation(Service) "
                                     "----------------------------------"));
            NCL_TRACE(SettingModeName(options.SettingMode()));
        } else if (settings::App().ModuleType == settings::ModuleType::ServiceModule) {
            NCL_TRACE(QStringLiteral(
                "--------------------Form Main(Svc Module)  ----------------------------------"));
        }
        // Read afresh at every activation: the service may have been started
        // or stopped (from the service window, or from outside) meanwhile.
        if (!ServiceMode && settings::App().PlatformFamily == QLatin1String("Windows NT")) {
            lblSvcStatusColor = QueryServiceColor();
            if (lblSvcStatusColor == kGreen) {
                BackgroundServiceRunning = true;
                cmdStatusVisible = true;
                if (!tmrMin.isActive()) {
                    tmrMin.setInterval(15000);
                    tmrMin.start();
                }
                setStatusText(QStringLiteral(
                    "Note: the background service (VARavazuvozo) is now\r\nrunning and "
                    "responding to requests from Redeviruza."));
            } else {
                BackgroundServiceRunning = false;
                // The Status button and its poll are for a running service only.
                cmdStatusVisible = false;
                tmrMin.stop();
                if (lblNISTLog.startsWith(QLatin1String("Note:")))
                    setStatusText(QStringLiteral("Ready"));
            }
        }
    }
    if (!BackgroundServiceRunning) {
        // Heartbeat and listener when this copy starts serving: at the first
        // activation, or once the service it left the port to has stopped.
        if (!m_serving) {
            controllerContact.SetReuseAddress();
            controllerContact.Heartbeat(options.Servername(), options.MACaddr(),
                                        QStringLiteral("U"));
            // Said once the port is ours: an agent that a held port ends says
            // only why.
            listener.serv_init(listener.CurrentInstance);
            AnnounceStart();
            m_serving = true;
        }
    } else {
        NCL_TRACE(QStringLiteral("Not starting listening"));
        // A service started while this copy listened: the port is the service's.
        if (m_serving)
            ResetPortsPending = true;
    }
    if (ResetPortsPending) {
        if (BackgroundServiceRunning) {
            NCL_TRACE(QStringLiteral("Service running, closing port in application"));
            listener.clientClose(listener.tcpServer.Item(listener.CurrentInstance));
            schedule::PauseMilliseconds(100);
            ServiceMessage(QStringLiteral("RESET_PORTS"));
            m_serving = false;
        }
        ResetPortsPending = false;
    }
    Q_EMIT statusChanged();
}

void frmMainEntSrvc::timerInit_Timer()
{
    timerInit.stop();
    cmdStatusVisible = false;
    lblSvcStatus = QStringLiteral("Running");
    listener.serv_init(listener.CurrentInstance);
    AnnounceStart();
    controllerContact.SetReuseAddress();
    controllerContact.Heartbeat(settings::Options().Servername(), settings::Options().MACaddr(),
                                QStringLiteral("U"));
    if (StartedAsService)
        MainServiceLoop();
    else
        Form_Activate();
}

void frmMainEntSrvc::MainServiceLoop()
{
    if (!StartedAsService) {
        NCL_TRACE(QStringLiteral("waiting to init service"));
        return;
    }
    NCL_TRACE(QStringLiteral("Main service loop----------"));
    m_serviceLoopRunning = true;
    while (!StopRequested) {
        MainRouter();
        if (schedule::TimerObj().Sleep(60, this) >= 2)
            break;
        CheckSettings();
    }
    m_serviceLoopRunning = false;
    NCL_TRACE(QStringLiteral("Got Termination Message"));
    settings::SaveSetting(settings::App().AppTitle, QStringLiteral("Options"),
                          QStringLiteral("Changed"), QStringLiteral("True"));
    EndProgram(0);
}

bool frmMainEntSrvc::CheckSettings()
{
    if (logging::DebugOn) {
        logging::WriteDebug(QStringLiteral("Check Settings"));
        logging::DebugOn = logging::SetDebugFileMode(logging::DebugOn);
    }
    const QString appTitle = settings::App().AppTitle;
    bool changed = false;
    rt::TextToBool(settings::GetSetting(appTitle, QStringLiteral("Options"),
                                        QStringLiteral("Changed"), QStringLiteral("False")),
                   changed);
    logging::DebugOn = logging::SetDebugFileMode(logging::DebugOn);
    if (!changed) {
        if (listener.ListenerNeedsReset)
            listener.serv_init(listener.CurrentInstance);
        return false;
    }
    const QString message = QStringLiteral("Options changed, getting new options");
    NCL_TRACE(message);
    logging::LogEvent(message, logging::EventInformation,
                      settings::Options().LoggingEvntFileName());
    const qint16 oldPort = settings::Options().TCPPort();
    const bool oldUdp = settings::ClientFormat::UsesUdp(settings::Options().ClientFormat());
    settings::RegistryGet(settings::Options(), appTitle);
    listener.limits.Configure(service::ReadLimits());
    settings::SaveSetting(appTitle, QStringLiteral("Options"), QStringLiteral("Changed"),
                          QStringLiteral("False"));
    requests.Access().Load(false);
    // New options hold at once, the port and transport too: a console that
    // was told the new port must not wait for the next exchange to find it.
    const qint16 newPort = settings::Options().TCPPort();
    const bool newUdp = settings::ClientFormat::UsesUdp(settings::Options().ClientFormat());
    // Before the listener first starts there is nothing to move.
    if (m_startAnnounced && (newPort != oldPort || newUdp != oldUdp)) {
        std::printf("%s: options changed: now %s port %d (was %s port %d)\n", qPrintable(appTitle),
                    newUdp ? "UDP" : "TCP", int(newPort), oldUdp ? "UDP" : "TCP", int(oldPort));
        std::fflush(stdout);
        MoveListenerToOptions();
    }
    return true;
}

void frmMainEntSrvc::MoveListenerToOptions()
{
    const qint16 port = settings::Options().TCPPort();
    const bool udp = settings::ClientFormat::UsesUdp(settings::Options().ClientFormat());
    const qint16 wanted =
        udp ? platform::SocketControl::sckUDPProtocol : platform::SocketControl::sckTCPProtocol;
    listener.reset_server(listener.CurrentInstance);
    for (const qint16 index : listener.tcpServer.Indexes()) {
        const platform::SocketControl* element = listener.tcpServer.Item(index);
        if (index == listener.CurrentInstance || !element)
            continue;
        const qint16 state = element->State();
        const bool serving = state == platform::SocketControl::sckListening ||
                             (state == platform::SocketControl::sckOpen &&
                              element->Protocol() == platform::SocketControl::sckUDPProtocol);
        if (!serving || (element->LocalPort() == port && element->Protocol() == wanted))
            continue;
        // Several TCP elements may listen on one port and share its connections;
        // over UDP one bound element takes every datagram.
        if (udp)
            listener.CloseInstance(index);
        else
            listener.reset_server(index);
    }
}

void frmMainEntSrvc::AnnounceStart()
{
    if (m_startAnnounced)
        return;
    m_startAnnounced = true;
    std::printf("%s\n", qPrintable(StartLine()));
    std::fflush(stdout);
}

void frmMainEntSrvc::MainRouter()
{
    NCL_TRACE(QStringLiteral("--------------MainRouter (Svc)--------------->  "));
    switch (settings::Options().SettingMode()) {
    case settings::SettingMode::Manual:
        ManualMode();
        break;
    case settings::SettingMode::Batch:
        NCL_TRACE(QStringLiteral("Batch Mode Done"));
        break;
    default:
        NCL_TRACE(QStringLiteral("ELSE Mode"));
        break;
    }
}

void frmMainEntSrvc::ManualMode()
{
    NCL_TRACE(QStringLiteral("Manual Mode"));
}

void frmMainEntSrvc::cmdManual_Click()
{
    if (settings::App().ModuleType == settings::ModuleType::ServiceModule) {
        Form_Unload();
        return;
    }
    if (settings::Options().SettingMode() != settings::SettingMode::Manual)
        schedule::TimerObj().setInterruptFlag(true);
    ManualClick = true;
    setStatusText(QStringLiteral("Making connection..."));
}

void frmMainEntSrvc::NISTdone()
{
    NCL_TRACE(QStringLiteral("TIME SETTING DONE at ") + rt::GeneralDate(rt::Now()) +
              QStringLiteral("."));
    if (m_engine)
        RecordSetting(*m_engine);
    else
        NCL_TRACE(QStringLiteral("No clock-setting engine: nothing to record"));
    // The engine is released; the next message gets a new one.
    ReleaseNISTtimeset();
    const qint16 mode = settings::Options().SettingMode();
    if ((mode == settings::SettingMode::Auto || mode == settings::SettingMode::Timed) &&
        ManualClick) {
        ManualClick = false;
        NCL_TRACE(QStringLiteral("Manual Click  - calling main router"));
        MainRouter();
    }
    if (settings::App().ModuleType == settings::ModuleType::ServiceModule)
        MainRouter();
}

float frmMainEntSrvc::DisplaySync(const timeset::SyncDisplayInfo& /*info*/)
{
    // No window shows the setting in this agent: the measured interval is empty.
    return 0.0f;
}

void frmMainEntSrvc::DisplayNoChange() {}

timeset::CNISTtimeset& frmMainEntSrvc::NISTtimeset()
{
    if (!m_engine)
        m_engine = std::make_unique<timeset::CNISTtimeset>();
    return *m_engine;
}

void frmMainEntSrvc::ReleaseNISTtimeset()
{
    m_engine.reset();
}

void frmMainEntSrvc::HeartbeatDone(const QString& key, const QString& upDown,
                                   const QString& macAddress)
{
    NCL_TRACE(QStringLiteral("Heartbeat done: ") + key + QLatin1Char(' ') + upDown +
              QLatin1Char(' ') + macAddress);
    ReleaseNISTtimeset();
}

void frmMainEntSrvc::NISTdone(const QString& key)
{
    NCL_TRACE(QStringLiteral("Heartbeat done: ") + key);
    ReleaseNISTtimeset();
}

bool frmMainEntSrvc::Form_Unload()
{
    if (m_unloading)
        return false;
    settings::COptions& options = settings::Options();
    NCL_TRACE(settings::App().AppTitle + QStringLiteral(" UNLOADING"));
    if (!ServiceMode && !BackgroundServiceRunning && options.SystemStartup()) {
        if (Minimised) {
            NCL_TRACE(QStringLiteral("Exiting systray (minimized)..."));
        } else if (!AskYesNo(QStringLiteral("Are you sure you want to exit the Service Module?"),
                             QStringLiteral("Tidewarden"))) {
            Minimised = true;
            Q_EMIT minimiseRequested();
            return true;
        } else {
            NCL_TRACE(QStringLiteral("Exiting systray..."));
        }
    }
    m_unloading = true;
    controllerContact.Heartbeat(options.Servername(), options.MACaddr(), QStringLiteral("D"));
    schedule::PauseMilliseconds(100);
    StopRequested = true;
    schedule::TimerObj().setInterruptFlag(true);
    if (options.LoggingFileOn())
        logging::EndSyncLog(options.LoggingMode());
    if (logging::DebugFileOn)
        logging::CloseDebugFile();
    if (options.Changed() && !Minimised)
        SaveNewSettings(options);
    if (!m_serviceLoopRunning)
        EndProgram(0);
    return false;
}

void frmMainEntSrvc::SaveNewSettings(settings::COptions& options)
{
    const settings::AppState& app = settings::App();
    if (settings::RegistrySet(options, app.AppTitle)) {
        NCL_TRACE(QStringLiteral("New Settings saved"));
        settings::Registry_Set(app.RegOptionsKey, options);
    } else {
        NCL_TRACE(QStringLiteral("Error saving new settings."));
    }
    options.setChanged(false);
}

void frmMainEntSrvc::Service_Start(bool* success)
{
    StopRequested = false;
    if (success)
        *success = true;
    StartedAsService = true;
    ServiceMode = true;
    tmrMin.stop();
    logging::DebugFileName = platform::DataPath(QStringLiteral("DebugFileSvc.txt"));
    if (logging::DebugOn) {
        logging::SetDebugFile(false);
        logging::SetDebugFile(true);
    }
    NCL_TRACE(QStringLiteral("-------------Starting Nightcall Module-----------"));
    cmdManualVisible = false;
    mnuOptionsStartupVisible = false;
    mnuFileVisible = false;
    CheckSettings();
    timerInit.start();
}

void frmMainEntSrvc::Service_Stop()
{
    NCL_TRACE(QStringLiteral("Got StopService Signal---Stopping Service Module"));
    StopRequested = true;
    schedule::TimerObj().setInterruptFlag(true);
    timerInit.stop();
    // Stopped before the service loop began: its end, which marks the options
    // changed for the next start, will not come.
    if (!m_serviceLoopRunning)
        settings::SaveSetting(settings::App().AppTitle, QStringLiteral("Options"),
                              QStringLiteral("Changed"), QStringLiteral("True"));
    if (logging::DebugFileOn)
        logging::CloseDebugFile();
    Form_Unload();
}

void frmMainEntSrvc::RecordSetting(const timeset::CNISTtimeset& engine)
{
    settings::COptions& options = settings::Options();
    schedule::CSync sync;
    const float fraction = engine.SettingDifferenceFrac();
    if (fraction != 0 && options.ServerFormat() == settings::ServerFormat::Sntp) {
        sync.setSyncUseFrac(true);
        sync.setSyncSecFrac(float(engine.SettingDifferenceSec()) + fraction);
    } else if (fraction != 0 && options.ServerFormat() == settings::ServerFormat::Nist) {
        sync.setSyncUseFrac(true);
        sync.setSyncSecFrac(fraction);
    }
    const QString server = options.NISTServer();
    const bool directDial = options.ServerConn() == settings::ServerConn::DirectDial;
    sync.Save_Setting(engine.SettingDifferenceSec(), engine.SettingStatus(),
                      directDial ? QString() : server);
    if (engine.SettingStatus() != 0)
        sync.setSyncAccuracy(0);
    else
        sync.Compare_Sync(PreviousSync);
    sync.Save_Registry();
    if (AutoSetting.Save_Auto_Settings(sync))
        options.Update_Auto_Settings(sync.SyncLocalTime(), sync.SyncAccuracy(),
                                     sync.SyncDifferenceSec());
    logging::LogSetting(sync.LogEntry(), server);
    if (!engine.SettingRefused().isEmpty())
        logging::LogRefusedSetting(engine.SettingRefused());
    // A clock set, or found close enough, ends a period of failed checks.
    const qint16 status = engine.SettingStatus();
    if (options.SyncWarning() && (status == 0 || status == 5)) {
        logging::ClearSyncWarning();
        SyncWarningShown = false;
    }
    PreviousSync = sync;
}

bool frmMainEntSrvc::LoadTimeServers()
{
    return TimeServers.Read_in_file(platform::DataPath(QStringLiteral("TScircle.txt")));
}

} // namespace host

// The main window's service events (pause, continue, custom control codes),
// the status it publishes for an interactive copy, and the interactive copy's
// side: its service messages and its status poll.
#include "host/frmMainEntSrvc.h"

#include "host/modStartStopSvc.h"
#include "logging/DebugLog.h"
#include "runtime/DateTime.h"
#include "runtime/Numbers.h"
#include "runtime/TextFormat.h"
#include "settings/AppState.h"
#include "settings/COptions.h"
#include "settings/OptionStore.h"

namespace host
{

namespace
{

QString CurrentlyText()
{
    return QStringLiteral("(currently ") + rt::BoolText(logging::DebugOn) + QLatin1Char(')');
}

// Writes every option of the settings area into the debug trace; the live
// options stay as they are.
void TraceOptions()
{
    settings::COptions scratch = settings::Options();
    settings::RegistryGet(scratch, QStringLiteral("NCLmod"));
}

void ShowOptions()
{
    if (logging::DebugOn) {
        TraceOptions();
        logging::SetDebugFile(false);
        logging::SetDebugFile(true);
        return;
    }
    logging::DebugOn = true;
    logging::SetDebugFile(true);
    TraceOptions();
    logging::SetDebugFile(false);
    logging::DebugOn = false;
}

} // namespace

void frmMainEntSrvc::Service_Pause(bool* success)
{
    NCL_TRACE(QStringLiteral("Got PauseService Signal"));
    if (success)
        *success = true;
}

void frmMainEntSrvc::Service_Continue(bool* success)
{
    NCL_TRACE(QStringLiteral("Got Continue Service Signal"));
    if (success)
        *success = true;
    timerInit.start();
}

void frmMainEntSrvc::Service_Control(int code)
{
    NCL_TRACE(QStringLiteral("Svc Control event  ") + QString::number(code) +
              QStringLiteral(" received"));
    // Acknowledged before anything else, so every code is, known or not.
    settings::SaveSetting(QStringLiteral("NCLmod"), QStringLiteral("Settings"),
                          QStringLiteral("OK"),
                          QString::number(code) + QLatin1Char('-') + rt::GeneralDate(rt::Now()));
    const quint32 offset = quint32(code - 128);
    if (offset > 20) {
        NCL_TRACE(QStringLiteral(" <---Unknown code"));
        return;
    }
    switch (code) {
    case 128:
        NCL_TRACE(QStringLiteral(" ---Options Changed"));
        settings::SaveSetting(settings::App().AppTitle, QStringLiteral("Options"),
                              QStringLiteral("Changed"), QStringLiteral("True"));
        CheckSettings();
        setStatusText(QStringLiteral("Options Changed"));
        break;
    case 129:
        NCL_TRACE(QStringLiteral(" ---Show Options "));
        ShowOptions();
        break;
    case 130:
        NCL_TRACE(QStringLiteral(" ---Toggle debug ") + CurrentlyText());
        logging::DebugOn = !logging::DebugOn;
        logging::SetDebugFile(logging::DebugOn);
        break;
    case 131:
        NCL_TRACE(QStringLiteral(" ---Flush Debug"));
        if (logging::DebugOn) {
            logging::SetDebugFile(false);
            logging::SetDebugFile(true);
        }
        break;
    case 132:
        NCL_TRACE(QStringLiteral(" ---Flush logs"));
        break;
    case 133:
        NCL_TRACE(QStringLiteral(" ---Do heartbeat"));
        break;
    case 134:
        NCL_TRACE(QStringLiteral(" ---Turn debug  ON ") + CurrentlyText());
        logging::SetDebugFile(true);
        break;
    case 135:
        NCL_TRACE(QStringLiteral(" ---Turn debug  OFF ") + CurrentlyText());
        logging::SetDebugFile(false);
        break;
    case 140:
        NCL_TRACE(QStringLiteral(" ---Get Status Svc Mod"));
        PublishStatus();
        if (listener.ListenerNeedsReset)
            listener.serv_init(listener.CurrentInstance);
        break;
    case 148:
        NCL_TRACE(QStringLiteral(" ---Reset ports"));
        MoveListenerToOptions();
        break;
    default:
        NCL_TRACE(QStringLiteral(" <---Unknown code"));
        break;
    }
}

void frmMainEntSrvc::PublishStatus()
{
    const QString app = settings::App().AppTitle;
    settings::SaveSetting(app, QStringLiteral("Settings"), QStringLiteral("setstatcolor"),
                          QString::number(lblSvcStatusColor));
    settings::SaveSetting(app, QStringLiteral("Settings"), QStringLiteral("setstattext"),
                          lblNISTLog);
}

void frmMainEntSrvc::ServiceMessage(const QString& command)
{
    const QString keyPath = settings::App().RegSettingsKey;
    if (command == QLatin1String("OPTIONS_CHANGED")) {
        svc_call_func(command, QStringLiteral("NCLmod"), keyPath);
        NCL_TRACE(QStringLiteral("Options Changed at service"));
    } else if (command == QLatin1String("RESET_PORTS")) {
        if (svc_call_func(command, QStringLiteral("NCLmod"), keyPath))
            NCL_TRACE(QStringLiteral("Ports reset at service"));
    } else {
        NCL_TRACE(QStringLiteral("Unknown command; ") + command);
    }
}

void frmMainEntSrvc::StatusPoll()
{
    const settings::AppState& app = settings::App();
    QString text;
    QString color;
    const bool answered =
        svc_call_func(QStringLiteral("STATUS"), QStringLiteral("NCLmod"), app.RegSettingsKey) &&
        ReadStatusValue(app.RegSettingsKey, app.RegRoot, QStringLiteral("setstattext"), text);
    if (answered)
        setStatusText(text);
    if (answered &&
        ReadStatusValue(app.RegSettingsKey, app.RegRoot, QStringLiteral("setstatcolor"), color)) {
        lblSvcStatusColor = kColorGreen;
    } else {
        NCL_TRACE(QStringLiteral("Status svc call failed"));
        lblSvcStatusColor = kColorLightYellow;
    }
    Q_EMIT statusChanged();
}

} // namespace host

#include "host/MainMenuCommands.h"

#include "host/ServiceRegistration.h"
#include "host/frmMainEntSrvc.h"
#include "host/modStartStopSvc.h"
#include "logging/DebugLog.h"
#include "platform/DataFolder.h"
#include "platform/NetworkAdapters.h"
#include "runtime/Numbers.h"
#include "settings/AppState.h"
#include "settings/COptions.h"
#include "settings/OptionStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace host
{

namespace
{

const QString kCrLf = QStringLiteral("\r\n");

void SaveOptions()
{
    settings::COptions& options = settings::Options();
    const settings::AppState& app = settings::App();
    if (settings::RegistrySet(options, app.AppTitle))
        settings::Registry_Set(app.RegOptionsKey, options);
}

// The executable the service manager starts for the service: this program.
QString ServiceExecutable()
{
    const QString self = QCoreApplication::applicationFilePath();
    return self.isEmpty() ? platform::DataPath(QStringLiteral("NCLmod.exe")) : self;
}

} // namespace

MainMenuCommands::MainMenuCommands(frmMainEntSrvc& form, MenuDialogs& dialogs)
    : m_form(form), m_dialogs(dialogs)
{
}

void MainMenuCommands::mnuOptionsController_Click()
{
    m_form.controllerContact.ControllerAddressMenu(
        [this](const QString& title, const QString& prompt, const QString& defaultText,
               QString& answer) { return m_dialogs.InputBox(title, prompt, defaultText, answer); });
}

void MainMenuCommands::mnuOptionsContact_Click()
{
    m_form.controllerContact.ContactMenu([this](const QString& text, const QString& title) {
        m_dialogs.MessageBox(text, title, MenuDialogs::Icon::Information);
    });
}

bool MainMenuCommands::ValidatePortEntry(const QString& answer, QString& reason)
{
    if (answer.size() >= 5) {
        reason = QStringLiteral("Entry must be a number 1-4 digits long.");
        return false;
    }
    // Four characters at most: a whole number from 0 to 9999 fits in 16 bits.
    qint16 port = 0;
    if (!rt::TextToInt16(answer, port) || port < 0) {
        reason = QStringLiteral("Entry must be a number 0-9999.");
        return false;
    }
    reason.clear();
    return true;
}

void MainMenuCommands::mnuOptionsPort_Click()
{
    settings::COptions& options = settings::Options();
    QString answer;
    for (;;) {
        if (!m_dialogs.InputBox(QStringLiteral("TCP Port"),
                                QStringLiteral("Enter the port number to listen on"),
                                QString::number(options.TCPPort()), answer) ||
            answer.isEmpty()) {
            NCL_TRACE(QStringLiteral("Enter port: No entry or cancel"));
            return;
        }
        QString reason;
        if (ValidatePortEntry(answer, reason))
            break;
        m_dialogs.MessageBox(reason + kCrLf + QStringLiteral("Use port 1001 as a default."),
                             QStringLiteral("Invalid Entry"), MenuDialogs::Icon::Information);
    }
    qint16 port = 0;
    rt::TextToInt16(answer, port);
    options.setTCPPort(port);
    options.setChanged(true);
    ApplyListenerChange(true);
}

void MainMenuCommands::mnuOptionsProt_Click(int index)
{
    // The menu has an entry for each of these two formats, at their values.
    if (index != settings::ServerFormat::Nist && index != settings::ServerFormat::Sntp)
        return;
    settings::COptions& options = settings::Options();
    options.setServerFormat(qint16(index));
    options.setClientFormat(qint16(index));
    m_form.mnuOptionsProtChecked = index;
    options.setChanged(true);
    ApplyListenerChange(false);
    Q_EMIT m_form.statusChanged();
}

void MainMenuCommands::ApplyListenerChange(bool moveToNextElement)
{
    if (m_form.BackgroundServiceRunning) {
        m_form.SaveNewSettings(settings::Options());
        m_form.ServiceMessage(QStringLiteral("OPTIONS_CHANGED"));
        m_form.ServiceMessage(QStringLiteral("RESET_PORTS"));
        return;
    }
    service::Listener& listener = m_form.listener;
    listener.CloseInstance(listener.CurrentInstance);
    if (moveToNextElement)
        listener.CurrentInstance = listener.NextInstance(listener.CurrentInstance);
    listener.serv_init(listener.CurrentInstance);
}

void MainMenuCommands::mnuOptionsMAC_Click()
{
    settings::COptions& options = settings::Options();
    QString defaultText = options.MACaddr();
    if (defaultText.isEmpty())
        defaultText = platform::AdapterQueryMac();
    QString answer;
    if (!m_dialogs.InputBox(QStringLiteral("MAC Address"),
                            QStringLiteral("Enter the MAC address of the adapter card"),
                            defaultText, answer) ||
        answer.isEmpty()) {
        NCL_TRACE(QStringLiteral("Enter MAC address: No entry or cancel"));
        return;
    }
    options.setMACaddr(answer);
    SaveOptions();
}

void MainMenuCommands::mnuOptionsStartup_Click()
{
    settings::COptions& options = settings::Options();
    m_form.mnuOptionsStartupChecked = !m_form.mnuOptionsStartupChecked;
    options.setSystemStartup(m_form.mnuOptionsStartupChecked);
    // The start-up entry follows when the options are saved.
    options.setChanged(true);
    Q_EMIT m_form.statusChanged();
}

void MainMenuCommands::mnuFileService_Click()
{
    const settings::AppState& app = settings::App();
    if (app.PlatformFamily != QLatin1String("Windows NT") ||
        app.ModuleType != settings::ModuleType::ServiceModule) {
        m_dialogs.MessageBox(
            QStringLiteral("Command invalid: Operating system incompatible or not Service module."),
            QString(), MenuDialogs::Icon::None);
        return;
    }
    // Registered directly (no external installer here), so a refusal is seen.
    if (RegisterService(kServiceName, QStringLiteral("INSTALL"), ServiceExecutable())) {
        m_dialogs.MessageBox(
            QStringLiteral("The Nightcall Module has been submitted for registration") + kCrLf +
                QStringLiteral("Use Options->Service form or NT Service Manager to start service") +
                kCrLf + QStringLiteral("The service name is VARavazuvozo"),
            QString(), MenuDialogs::Icon::None);
        m_form.lblSvcStatusColor = ServiceStateColor(kServiceName);
        Q_EMIT m_form.statusChanged();
    } else {
        m_dialogs.MessageBox(QStringLiteral("The Redeviruza Service failed to register.") + kCrLf +
                                 QStringLiteral("Contact the system administrator for assistance."),
                             QString(), MenuDialogs::Icon::None);
    }
    // The service reads these at its start.
    settings::Registry_Set(app.RegOptionsKey, settings::Options());
}

QString MainMenuCommands::HelpPage()
{
    const QString appDir = QCoreApplication::applicationDirPath();
    // An installed help page only: the README is shown by the program itself
    // (its user sections), not handed whole to a browser.
    const QStringList candidates = {
        platform::DataPath(QStringLiteral("NCL.html")),
        appDir + QStringLiteral("/NCL.html"),
    };
    for (const QString& path : candidates) {
        if (QFileInfo(path).isFile())
            return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    }
    return QString();
}

QString MainMenuCommands::AboutText()
{
    return QStringLiteral("Nightcall Module (%1)\r\nVersion %2.%3.%4\r\n\r\n"
                          "Keeps this computer's clock on time and answers its console.")
        .arg(settings::App().AppTitle)
        .arg(NCL_VERSION_MAJOR)
        .arg(NCL_VERSION_MINOR)
        .arg(NCL_VERSION_PATCH);
}

} // namespace host

#include "host/ProgramEntry.h"

#include "host/ServiceRegistration.h"
#include "host/frmMainEntSrvc.h"
#include "logging/DebugLog.h"
#include "platform/DataFolder.h"
#include "platform/SystemClock.h"
#include "runtime/CsvFields.h"
#include "runtime/CurrentError.h"
#include "schedule/Pauses.h"
#include "settings/AppState.h"
#include "settings/COptions.h"
#include "settings/OptionStore.h"
#include "settings/StartupEntries.h"

#include <QFile>
#include <QRegularExpression>

#include <cerrno>

namespace host
{

namespace
{

const char* const kComments = "Nightcall Module: clock-synchronisation agent";
constexpr int kFileNotFound = 53;

void BuildRegistryPaths()
{
    settings::AppState& app = settings::App();
    if (app.PlatformFamily == QLatin1String("Windows 95/98")) {
        app.RegBasePath = QStringLiteral("Software\\VB and VBA Program Settings\\");
        app.RegRoot = settings::HKEY_CURRENT_USER;
    } else {
        app.RegBasePath = QStringLiteral(".DEFAULT\\Software\\VB and VBA Program Settings\\");
        app.RegRoot = settings::HKEY_USERS;
    }
    app.RegOptionsKey = app.RegBasePath + app.AppKeyName + QStringLiteral("\\Options");
    app.RegSettingsKey = app.RegBasePath + app.AppKeyName + QStringLiteral("\\Settings");
}

void InitialiseFirstRun()
{
    settings::COptions& options = settings::Options();
    NCL_TRACE(QStringLiteral("Initializing options for ") + settings::App().AppTitle +
              QStringLiteral(" Version %1.%2.%3 for the first time.")
                  .arg(NCL_VERSION_MAJOR)
                  .arg(NCL_VERSION_MINOR)
                  .arg(NCL_VERSION_PATCH));
    settings::SetDefaults();
    options.setSettingMode(settings::SettingMode::Manual);
    const QString ini = platform::DataPath(QStringLiteral("REVavidod.ini"));
    if (FileExists(ini))
        ReadInitialOptions(ini, options);
    settings::Registry_Set(settings::App().RegOptionsKey, options);
}

} // namespace

QStringList GetCommandLine(const QStringList& arguments, int maxWords)
{
    static const QRegularExpression blanks(QStringLiteral("[ \\t]+"));
    const QStringList words = arguments.join(QLatin1Char(' ')).split(blanks, Qt::SkipEmptyParts);
    return words.mid(0, maxWords);
}

CommandSwitches ApplySwitches(const QStringList& words)
{
    CommandSwitches switches;
    for (const QString& word : words) {
        if (word == QLatin1String("once")) {
            switches.once = true;
        } else if (word == QLatin1String("screen")) {
            logging::DebugOn = true;
            logging::DebugFileOn = false;
        } else if (word == QLatin1String("debug")) {
            logging::DebugOn = true;
            logging::DebugFileOn = true;
            logging::OpenDebugFile();
        } else if (word == QLatin1String("removereg")) {
            switches.removereg = true;
        } else if (word == QLatin1String("background")) {
            switches.background = true;
        }
    }
    return switches;
}

bool FileExists(const QString& path)
{
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        return true;
    return file.error() != QFileDevice::OpenError || QFile::exists(path);
}

void ReadInitialOptions(const QString& path, settings::COptions& options)
{
    NCL_TRACE(QStringLiteral("--Begin: ReadIn Initial Option Settings--"));
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        rt::RaiseError(kFileNotFound, QStringLiteral("File not found: ") + path);
        logging::ReportError(logging::Problem, QStringLiteral("Can't read ") + path, 0,
                             QStringLiteral("modMain"), QStringLiteral("ReadInitialOptions"), 1);
        return;
    }
    int count = 0;
    while (!file.atEnd()) {
        const QString line = QString::fromLatin1(file.readLine())
                                 .remove(QLatin1Char('\r'))
                                 .remove(QLatin1Char('\n'));
        ++count;
        const QStringList fields = rt::ReadFields(line);
        const QString name = fields.value(0);
        const QString value = fields.value(1);
        if (!name.isEmpty()) {
            NCL_TRACE(QString::number(count) + QStringLiteral("-> "));
            settings::set_option_value(name, value, options);
        } else {
            NCL_TRACE(QString::number(count) + QStringLiteral("(Line  is empty:) ") + value);
        }
    }
    NCL_TRACE(QStringLiteral("--End: ReadIn Initial Option Settings--"));
}

MainResult Main(const QStringList& arguments, const QString& executableName)
{
    // Every layer stamps with the agent's clock and traces into the debug
    // trace, from the first line on.
    platform::InstallClock();
    logging::InstallTrace();
    settings::AppState& app = settings::App();
    QString folderError;
    if (!platform::EnsureDataFolder(&folderError)) {
        // Nothing else can be written without the folder: say it where a person sees it.
        platform::TellOnStandardError(folderError);
    }
    const QString unsafe = platform::FolderProblem(platform::DataFolder());
    if (!unsafe.isEmpty()) {
        platform::TellOnStandardError(unsafe);
        return MainResult::Refused;
    }
    logging::DebugFileName = platform::DataPath(QStringLiteral("DebugFile.txt"));
    app.HelpFile = platform::DataPath(QStringLiteral("NCL.hlp"));
    app.AppTitle = QStringLiteral("NCLmod");

    const CommandSwitches switches = ApplySwitches(GetCommandLine(arguments, 4));
    if (logging::DebugOn) {
        logging::WriteDebug(QString());
        logging::WriteDebug(QString::fromLatin1(kComments));
    }

    app.ModuleType = settings::DetectModuleType(executableName);
    if (app.ModuleType == settings::ModuleType::ServiceModule)
        app.AppKeyName = QStringLiteral("NCLmod");
    else if (app.ModuleType == settings::ModuleType::EnterpriseService)
        app.AppKeyName = QStringLiteral("NCLsrvc");
    else
        NCL_TRACE(QStringLiteral("unknown module type: ") + app.ModuleType);

    if (!switches.once) {
        BuildRegistryPaths();
        if (!settings::Registry_Get(settings::Options(), app.AppTitle))
            NCL_TRACE(QStringLiteral("Registry options not found for ") + app.AppTitle +
                      QStringLiteral(".  Aborting."));
        const bool knownType = app.ModuleType == settings::ModuleType::ServiceModule ||
                               app.ModuleType == settings::ModuleType::EnterpriseService;
        if (knownType && settings::Options().NISTServer().isEmpty())
            InitialiseFirstRun();
    }

    if (switches.removereg) {
        settings::RemoveStartupEntry(app.AppTitle);
        if (app.PlatformFamily == QLatin1String("Windows NT"))
            RegisterService(app.AppKeyName, QStringLiteral("REMOVE"),
                            platform::DataPath(app.AppKeyName + QStringLiteral(".exe")));
        return MainResult::Ended;
    }
    return settings::Options().SettingMode() == settings::SettingMode::Batch
               ? MainResult::RunOnceMode
               : MainResult::ShowWindow;
}

void OnceMode(frmMainEntSrvc& form)
{
    NCL_TRACE(QStringLiteral("Once mode begins..."));
    settings::Options().setSettingMode(settings::SettingMode::Batch);
    form.cmdManual_Click();
    schedule::PauseSeconds(30);
    form.Form_Unload();
}

} // namespace host

#include "settings/OptionStore.h"

#include "platform/DataFolder.h"
#include "platform/NetworkAdapters.h"
#include "platform/RegistryStore.h"
#include "runtime/CurrentError.h"
#include "runtime/DateText.h"
#include "runtime/TextFormat.h"
#include "runtime/Trace.h"
#include "settings/AppState.h"
#include "settings/OptionText.h"
#include "settings/StartupEntries.h"
#include "settings/modRegistryTools.h"

#include <span>

namespace settings
{

namespace
{

const QString kModule = QStringLiteral("modMain");
const QString kSection = QStringLiteral("Options");
const QString kCantWrite = QStringLiteral("can't write setting to registry");

// Report sites of the writers of the settings area.
constexpr qint16 kSiteRegistrySet = 11;
constexpr qint16 kSiteSyncSave = 12;
constexpr qint16 kSiteSyncSettingSave = 13;

QStringList Names(std::initializer_list<const char*> names)
{
    QStringList list;
    for (const char* name : names)
        list.append(QString::fromLatin1(name));
    return list;
}

// Registry_Get reads these value names, in this order.
const QStringList kReadOrder = Names({
    "SettingMode",
    "SetOnceExit",
    "isDHCP",
    "NISTServer",
    "LocalPort",
    "LocalHost",
    "ServerFormat",
    "ClientFormat",
    "ServerName",
    "ServerType",
    "ServerPort",
    "ServerTZDiff",
    "ServerCustomFormat",
    "ServerConn",
    "TimedInterval",
    "SyncNextTime",
    "LoggingOn",
    "LoggingFileName",
    "LoggingMode",
    "LoggingMaxSecOn",
    "LoggingActionFile",
    "LoggingEvntFileName",
    "LoggingNTEvntOn",
    "LoggingFileOn",
    "LoggingEvntOn",
    "LoggingSyncStartOn",
    "LoggingSyncDoneOn",
    "LoggingConnFailOn",
    "LoggingCliEvntOn",
    "LoggingMaxSec",
    "SyncWarningInterval",
    "SyncWarning",
    "SyncWarnEmail",
    "EmailOptions",
    "LoggingSyslogServ",
    "LoggingSyslogOn",
    "GraphOn",
    "GraphDriftOn",
    "GraphDifferenceOn",
    "SyncDataPoints",
    "GraphHistOn",
    "GraphHistIgnore0",
    "AutoDesiredAccuracy",
    "AutoUncertainty",
    "AutoPrevAccuracy",
    "AutoPrevSyncTime",
    "AutoPrevDifference",
    "DisplayCliSaveActives",
    "DisplayCliValidate",
    "DisplayCliDelInactives",
    "DisplayTips",
    "DisplayNISTTime",
    "SetMaxThreshold",
    "SetMinThreshold",
    "SetMinThresholdDrift",
    "ControlMode",
    "ControlFunction",
    "ClientStart",
    "ClientKeyType",
    "DomainName",
    "TCPPort",
    "MACaddr",
    "ControlFuncArgs",
    "ScheduleFileName",
    "ClientFileName",
});

// Registry_Set writes these, applies the start-up entry, then writes the
// second list and last "Changed".
const QStringList kWriteBeforeStartup = Names({
    "SettingMode",
    "SetOnceExit",
    "isDHCP",
    "NISTServer",
    "LocalPort",
    "LocalHost",
    "ServerFormat",
    "ClientFormat",
    "ServerName",
    "ServerType",
    "ServerPort",
    "ServerTZDiff",
    "GraphHistIgnore0",
    "ServerCustomFormat",
    "ServerConn",
    "TimedInterval",
    "SyncNextTime",
    "LoggingOn",
    "LoggingFileName",
    "LoggingMode",
    "LoggingActionFile",
    "LoggingMaxSecOn",
    "LoggingEvntFileName",
    "LoggingNTEvntOn",
    "LoggingFileOn",
    "LoggingEvntOn",
    "LoggingSyncStartOn",
    "LoggingSyncDoneOn",
    "LoggingConnFailOn",
    "LoggingCliEvntOn",
    "LoggingMaxSec",
    "SyncWarning",
    "SyncWarningInterval",
    "SyncWarnEmail",
    "EmailOptions",
    "LoggingSyslogOn",
    "LoggingSyslogServ",
    "GraphOn",
    "GraphDriftOn",
    "GraphDifferenceOn",
    "SyncDataPoints",
    "GraphHistOn",
    "GraphClientOpts",
    "GraphAutoSelect",
    "AutoDesiredAccuracy",
    "AutoUncertainty",
    "AutoPrevAccuracy",
    "AutoPrevSyncTime",
    "AutoPrevDifference",
    "DisplayCliSaveActives",
    "DisplayCliValidate",
    "DisplayTips",
    "DisplayCliDelInactives",
    "DisplayNISTTime",
    "DisplayControlPanel",
    "DisplayClientTree",
    "DisplayGraphData",
    "DisplayOneAct",
});
const QStringList kWriteAfterStartup = Names({
    "SetMaxThreshold",
    "SetMinThreshold",
    "SetMinThresholdDrift",
    "DomainName",
    "ControlMode",
    "ControlFunction",
    "ClientStart",
    "ClientKeyType",
    "TCPPort",
    "MACaddr",
    "ControlFuncArgs",
    "ScheduleFileName",
    "ClientFileName",
});

// The settings area holds every option in declaration order except these:
// Changed is only the change flag there, X10ComPort lives only in memory and
// SystemStartup mirrors the start-up entry.
QStringList BuildSettingsAreaNames()
{
    QStringList names;
    for (const QString& property : COptions::PropertyNames()) {
        if (property != QLatin1String("Changed") && property != QLatin1String("X10ComPort") &&
            property != QLatin1String("SystemStartup"))
            names.append(ValueNameOf(property));
    }
    return names;
}

// Defaults in the order they are assigned, as text forms. The defaults that
// depend on the machine or on the current state are set in SetDefaults.
struct Default {
    const char* property;
    const char* text;
};
const Default kNetworkDefaults[] = {
    {"isDHCP", "True"}, {"LocalPort", "0"},  {"LocalHost", ""},
    {"Servername", ""}, {"ServerType", "0"},
};
const Default kSourceDefaults[] = {
    {"ServerPort", "1001"},
    {"DisplayNISTTime", "False"},
    {"ServerTZDiff", ""},
    {"GraphHistIgnore0", "True"},
    {"ServerCustomFormat", "ddd mmm dd Hh:Nn:Ss yyyy"},
    {"NISTServer", "<activated>"},
};
const Default kBehaviourDefaults[] = {
    {"TimedInterval", "3600"},
    {"SyncWarning", "False"},
    {"SyncWarningInterval", "86400"},
    {"SyncWarnEmail", "False"},
    {"msecTimeOffset", "0"},
    {"LoggingOn", "True"},
    {"LoggingFileOn", "True"},
    {"LoggingEvntOn", "False"},
    {"LoggingNTEvntOn", "False"},
    {"LoggingSyncStartOn", "False"},
    {"LoggingSyncDoneOn", "True"},
    {"LoggingConnFailOn", "True"},
    {"LoggingCliEvntOn", "True"},
    {"LoggingMaxSecOn", "True"},
    {"LoggingMaxSec", "30"},
    {"LoggingSyslogOn", "False"},
    {"LoggingSyslogServ", ""},
    {"EmailOptions", ""},
    {"SyncDataPoints", "10"},
    {"AutoDesiredAccuracy", "60"},
    {"AutoUncertainty", "90"},
    {"AutoPrevAccuracy", "60"},
    {"AutoPrevDifference", "0"},
    {"DisplayTips", "False"},
    {"DisplayCliValidate", "False"},
    {"DisplayCliSaveActives", "True"},
    {"DisplayCliDelInactives", "False"},
    {"GraphOn", "False"},
    {"GraphDriftOn", "False"},
    {"GraphDifferenceOn", "False"},
    {"GraphHistOn", "False"},
    {"SetMinThreshold", "300"},
    {"SetMaxThreshold", "86400"},
    {"SetMinThresholdDrift", "2"},
    {"SetOnceExit", "False"},
    {"SystemStartup", "False"},
};
const Default kFileNames[] = {
    {"LoggingFileName", "logfile.txt"},    {"LoggingEvntFileName", "evntfile.txt"},
    {"LoggingActionFile", "EventLog.txt"}, {"ClientFileName", "clientlist.txt"},
    {"ScheduleFileName", "events.txt"},
};
const Default kDisplayAndControllerDefaults[] = {
    {"DisplayControlPanel", "True"}, {"DisplayClientTree", "True"}, {"DisplayOneAct", "True"},
    {"DisplayGraphData", "False"},   {"GraphAutoSelect", "True"},   {"GraphClientOpts", "0"},
};
const Default kControllerDefaults[] = {
    {"TCPPort", "1001"},
    {"ClientStart", "<all>"},
    {"ControlFuncArgs", ""},
    {"DomainName", ""},
};

void Apply(std::span<const Default> defaults, COptions& options)
{
    for (const Default& item : defaults)
        OptionFromText(options, QString::fromLatin1(item.property), QString::fromLatin1(item.text));
}

QString TextOf(const COptions& options, const QString& valueName)
{
    QString text;
    OptionToText(options, PropertyOf(valueName), text);
    return text;
}

void WriteOptionKeyValues(const QString& keyPath, const COptions& options, const QStringList& names)
{
    for (const QString& name : names)
        SaveOptionKey(keyPath, name, TextOf(options, name));
}

// Reports a failed write to the settings area and gives the caller's result.
bool ReportWriteError(const char* procedure, qint16 site)
{
    NCL_TRACE(QStringLiteral("Error writing param"));
    rt::SendErrorReport(rt::Information, kCantWrite, rt::Err().number, kModule,
                        QString::fromLatin1(procedure), site);
    return false;
}

} // namespace

const QStringList& OptionKeyReadNames()
{
    return kReadOrder;
}

const QStringList& OptionKeyWriteNames()
{
    static const QStringList names = kWriteBeforeStartup + kWriteAfterStartup;
    return names;
}

const QStringList& SettingsAreaNames()
{
    static const QStringList names = BuildSettingsAreaNames();
    return names;
}

void SetDefaults()
{
    SetDefaults(Options());
}

void SetDefaults(COptions& options)
{
    Apply(kNetworkDefaults, options);
    if (options.SettingMode() == SettingMode::Batch)
        options.setServerFormat(ServerFormat::Nist);
    else
        options.setSettingMode(SettingMode::Manual);
    options.setServerFormat(ServerFormat::Nist);
    options.setClientFormat(ClientFormat::Nist);
    options.setServerConn(ServerConn::Network);
    Apply(kSourceDefaults, options);
    Apply(kBehaviourDefaults, options);
    options.setLoggingMode(LoggingMode::TextFile);
    const rt::Date now = rt::Now();
    options.setAutoPrevSyncTime(now);
    options.setLastSyncTime(now);
    options.setDisplayCliViewAll(App().PlatformFamily == QLatin1String("Windows NT"));
    // Only the file name is lower-cased: the folder's own spelling is kept,
    // since file names here are case-sensitive.
    for (const Default& file : kFileNames) {
        OptionFromText(options, QString::fromLatin1(file.property),
                       platform::DataPath(QString::fromLatin1(file.text).toLower()));
    }
    Apply(kDisplayAndControllerDefaults, options);
    const QString mac = platform::AdapterQueryMac();
    if (!mac.isEmpty())
        options.setMACaddr(mac);
    Apply(kControllerDefaults, options);
    options.setClientKeyType(ClientKeyType::ByAddress);
    options.setControlFunction(ControlFunction::Ping);
    options.setControlMode(ControlMode::Manual);
}

QString ReadOptionKey(const QString& valueName)
{
    QString value;
    if (QueryValue(App().RegOptionsKey, App().RegRoot, valueName, value)) {
        NCL_TRACE(QStringLiteral("Option Key: ") + valueName + QStringLiteral(", Value: ") + value);
        return value;
    }
    NCL_TRACE(QStringLiteral("ERROR Option Key:_") + valueName + QStringLiteral("_ NOT FOUND!"));
    return QStringLiteral("1");
}

bool ReadOptionKeyFrom(const QString& keyPath, quint32 root, const QString& valueName,
                       QString& value)
{
    if (!QueryValue(keyPath, root, valueName, value))
        return false;
    NCL_TRACE(QStringLiteral("Option Key read: ") + valueName + QStringLiteral(", Value: ") +
              value);
    return true;
}

bool SaveOptionKey(const QString& keyPath, const QString& valueName, const QString& value)
{
    if (!SetKeyValue(keyPath, App().RegRoot, valueName, value, platform::REG_SZ))
        return false;
    NCL_TRACE(QStringLiteral("Option Key saved: ") + valueName + QStringLiteral(", Value: ") +
              value);
    return true;
}

bool Registry_Get(COptions& options, const QString& appTitle)
{
    if (ReadOptionKey(QStringLiteral("NISTServer")).size() < 2) {
        NCL_TRACE(QStringLiteral("RegistryGet: All settings are empty."));
        return false;
    }
    NCL_TRACE(QStringLiteral("Start Registry_Get:"));
    for (const QString& name : kReadOrder) {
        const QString text = ReadOptionKey(name);
        if (OptionFromText(options, PropertyOf(name), text) != TextResult::Set)
            NCL_TRACE(QStringLiteral("Registry_Get:  Error in getting settings."));
        if (name == QLatin1String("ServerName"))
            NCL_TRACE(QStringLiteral("SERVER NAME: ") + options.Servername());
    }
    options.setSystemStartup(StartupEntryExists(appTitle));
    return true;
}

bool Registry_Set(const QString& keyPath, COptions& options)
{
    // The key is made when missing, as an installation would have made it.
    CreateNewKey(keyPath, App().RegRoot);
    WriteOptionKeyValues(keyPath, options, kWriteBeforeStartup);
    SaveStartupRegistrySetting(options.SystemStartup(), App().AppTitle);
    WriteOptionKeyValues(keyPath, options, kWriteAfterStartup);
    SaveOptionKey(keyPath, QStringLiteral("Changed"), QStringLiteral("True"));
    NCL_TRACE(QStringLiteral("Registry_Set: complete"));
    return true;
}

void set_option_value(const QString& name, const QString& value, COptions& options)
{
    NCL_TRACE(QStringLiteral("Name: _") + name + QStringLiteral("_  Value:_") + value +
              QStringLiteral("_"));
    if (!SettingsAreaNames().contains(name)) {
        NCL_TRACE(QStringLiteral("set_option_value:  CASE ElseParam: ") + name);
        return;
    }
    if (OptionFromText(options, PropertyOf(name), value) != TextResult::Set) {
        NCL_TRACE(QStringLiteral("set_option_value: ERROR getting: ") + name +
                  QStringLiteral("_  Value:_") + value + QStringLiteral("_"));
    }
}

bool RegistryGet(COptions& options, const QString& appTitle)
{
    const auto pairs = platform::GetAllSettings(appTitle, kSection);
    if (pairs.isEmpty()) {
        NCL_TRACE(QStringLiteral("RegistryGet: All settings are empty."));
        return false;
    }
    NCL_TRACE(QStringLiteral("Start RegistryGet:"));
    for (const auto& pair : pairs)
        set_option_value(pair.first, pair.second, options);
    options.setSystemStartup(StartupEntryExists(appTitle));
    return true;
}

bool RegistrySet(COptions& options, const QString& appTitle)
{
    for (const QString& name : SettingsAreaNames()) {
        if (!platform::SaveSetting(appTitle, kSection, name, TextOf(options, name)))
            return ReportWriteError("RegistrySet", kSiteRegistrySet);
    }
    SaveStartupRegistrySetting(options.SystemStartup(), appTitle);
    NCL_TRACE(QStringLiteral("RegistrySet: complete"));
    return true;
}

bool SaveAutoSettings(qint32 accuracy, rt::Date syncTime, qint32 difference,
                      const QString& appTitle)
{
    const bool saved =
        platform::SaveSetting(appTitle, kSection, QStringLiteral("AutoPrevAccuracy"),
                              QString::number(accuracy)) &&
        platform::SaveSetting(appTitle, kSection, QStringLiteral("AutoPrevSyncTime"),
                              rt::GeneralDate(syncTime)) &&
        platform::SaveSetting(appTitle, kSection, QStringLiteral("AutoPrevDifference"),
                              QString::number(difference));
    return saved || ReportWriteError("RegistrySyncSave", kSiteSyncSave);
}

bool SaveLastSyncTime(rt::Date syncTime, const QString& appTitle)
{
    return platform::SaveSetting(appTitle, kSection, QStringLiteral("LastSyncTime"),
                                 rt::GeneralDate(syncTime)) ||
           ReportWriteError("RegistrySyncSettingSave", kSiteSyncSettingSave);
}

void LoadLastSyncTime(COptions& options, const QString& appTitle)
{
    const QString text =
        platform::GetSetting(appTitle, kSection, QStringLiteral("LastSyncTime"), QString());
    rt::Date stored = 0;
    if (!text.isEmpty() && rt::TextToDate(text, stored)) {
        options.setLastSyncTime(stored);
        return;
    }
    options.setLastSyncTime(rt::Now());
}

} // namespace settings

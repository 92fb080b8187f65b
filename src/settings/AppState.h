#pragma once
// The process-wide state that every subsystem reads: the application's names,
// its module type, the registry paths built at start and the one options record.

#include <QLatin1String>
#include <QString>
#include <QtGlobal>

namespace settings
{

class COptions;

// Predefined registry roots, as the registry calls name them.
constexpr quint32 HKEY_CURRENT_USER = 0x80000001u;
constexpr quint32 HKEY_LOCAL_MACHINE = 0x80000002u;
constexpr quint32 HKEY_USERS = 0x80000003u;

// The module types: the role the agent takes on its port.
namespace ModuleType
{
constexpr QLatin1String ServiceModule("M");     // takes the enterprise console's commands
constexpr QLatin1String EnterpriseService("E"); // serves time to time clients
} // namespace ModuleType

struct AppState {
    QString AppTitle = QStringLiteral("NCLmod");
    QString ModuleType; // ModuleType::ServiceModule or ::EnterpriseService; any other serves time
    QString AppKeyName; // "NCLmod" for "M", "NCLsrvc" for "E"
    QString PlatformFamily = QStringLiteral("Windows NT");
    quint32 RegRoot = HKEY_USERS;
    QString RegBasePath;
    QString RegOptionsKey;
    QString RegSettingsKey;
    QString HelpFile;
};

AppState& App();
// The one shared options record, created empty on first use.
COptions& Options();

// NCLMOD_MODULE_TYPE when set, else EnterpriseService for an executable named
// NCLsrvc and ServiceModule for any other name.
QString DetectModuleType(const QString& executableName);

} // namespace settings

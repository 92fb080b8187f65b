#include "settings/AppState.h"

#include <QFileInfo>

namespace settings
{

AppState& App()
{
    static AppState state;
    return state;
}

QString DetectModuleType(const QString& executableName)
{
    const QString forced = qEnvironmentVariable("NCLMOD_MODULE_TYPE");
    if (!forced.isEmpty())
        return forced;
    return QFileInfo(executableName).fileName() == QLatin1String("NCLsrvc")
               ? QString(ModuleType::EnterpriseService)
               : QString(ModuleType::ServiceModule);
}

} // namespace settings

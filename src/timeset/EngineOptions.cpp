#include "timeset/EngineOptions.h"

#include "settings/AppState.h"
#include "settings/COptions.h"

namespace timeset
{

EngineOptions CurrentEngineOptions()
{
    const settings::COptions& options = settings::Options();
    EngineOptions engine;
    engine.ServerFormat = options.ServerFormat();
    engine.ServerConn = options.ServerConn();
    engine.ServerCustomFormat = options.ServerCustomFormat();
    engine.ServerTZDiff = options.ServerTZDiff();
    engine.SetMaxThreshold = options.SetMaxThreshold();
    engine.SetMinThreshold = options.SetMinThreshold();
    engine.msecTimeOffset = options.msecTimeOffset();
    engine.SetMinThresholdDrift = options.SetMinThresholdDrift();
    engine.SettingMode = options.SettingMode();
    return engine;
}

} // namespace timeset

#include "settings/COptions.h"

#include "runtime/Numbers.h"
#include "settings/AppState.h"

namespace settings
{

namespace
{

// The order in which Copy_Object_to sets the destination's properties.
const char* const kCopyOrder[] = {
    "NISTServer",
    "TimedInterval",
    "SyncWarning",
    "SyncWarningInterval",
    "msecTimeOffset",
    "LoggingOn",
    "LoggingFileOn",
    "LoggingEvntOn",
    "LoggingNTEvntOn",
    "LoggingSyncStartOn",
    "LoggingSyncDoneOn",
    "LoggingConnFailOn",
    "LoggingCliEvntOn",
    "DisplayCliViewAll",
    "LoggingMaxSec",
    "LoggingMode",
    "SyncDataPoints",
    "AutoDesiredAccuracy",
    "AutoPrevSyncTime",
    "AutoPrevAccuracy",
    "AutoPrevDifference",
    "AutoUncertainty",
    "LastSyncTime",
    "SetMinThreshold",
    "SetMaxThreshold",
    "SetMinThresholdDrift",
    "SetOnceExit",
    "isDHCP",
    "GraphOn",
    "GraphDriftOn",
    "GraphDifferenceOn",
    "Changed",
    "LoggingFileName",
    "LoggingEvntFileName",
    "SettingMode",
    "SyncNextTime",
    "DisplayTips",
    "DisplayCliValidate",
    "DisplayCliSaveActives",
    "DisplayCliDelInactives",
    "GraphHistOn",
    "LoggingMaxSecOn",
    "LocalPort",
    "SystemStartup",
    "LocalHost",
    "ServerFormat",
    "ClientFormat",
    "Servername",
    "ServerType",
    "ServerTZDiff",
    "GraphHistIgnore0",
    "ServerConn",
    "DisplayNISTTime",
    "ServerPort",
    "ServerCustomFormat",
    "DomainName",
    "LoggingSyslogOn",
    "LoggingSyslogServ",
    "EmailOptions",
    "SyncWarnEmail",
    "ClientKeyType",
    "TCPPort",
    "ControlFuncArgs",
    "ScheduleFileName",
    "ClientStart",
    "ControlFunction",
    "ControlMode",
    "DisplayClientTree",
    "DisplayControlPanel",
    "DisplayGraphData",
    "GraphAutoSelect",
    "LoggingActionFile",
    "ClientFileName",
    "GraphClientOpts",
    "DisplayOneAct",
    "MACaddr",
    "X10ComPort",
};

// Copy_Object_in reads the same names, with LoggingMode before LoggingMaxSec.
QStringList CopyInOrder()
{
    QStringList names;
    for (const char* name : kCopyOrder)
        names.append(QString::fromLatin1(name));
    const qsizetype maxSec = names.indexOf(QStringLiteral("LoggingMaxSec"));
    names.swapItemsAt(maxSec, maxSec + 1);
    return names;
}

} // namespace

const QStringList& COptions::PropertyNames()
{
    static const QStringList names = {
#define NCL_OPTION_NAME(type, name) QStringLiteral(#name),
        NCL_OPTIONS(NCL_OPTION_NAME)
#undef NCL_OPTION_NAME
    };
    return names;
}

bool COptions::CopyProperty(const QString& name, const COptions& from, COptions& to)
{
#define NCL_OPTION_COPY(type, prop)                                                                \
    if (name == QLatin1String(#prop)) {                                                            \
        to.set##prop(from.prop());                                                                 \
        return true;                                                                               \
    }
    NCL_OPTIONS(NCL_OPTION_COPY)
#undef NCL_OPTION_COPY
    return false;
}

void COptions::Update_Auto_Settings(rt::Date syncLocalTime, float syncAccuracy,
                                    qint32 syncDifferenceSec)
{
    m_AutoPrevSyncTime = syncLocalTime;
    qint32 whole = 0;
    if (rt::ToInt32(syncAccuracy, whole))
        m_AutoPrevAccuracy = whole;
    m_AutoPrevDifference = syncDifferenceSec;
}

void COptions::Copy_Object_to(COptions& destination) const
{
    for (const char* name : kCopyOrder)
        CopyProperty(QString::fromLatin1(name), *this, destination);
}

void COptions::Copy_Object_in(const COptions& source)
{
    static const QStringList order = CopyInOrder();
    for (const QString& name : order)
        CopyProperty(name, source, *this);
}

COptions& Options()
{
    static COptions options;
    return options;
}

} // namespace settings

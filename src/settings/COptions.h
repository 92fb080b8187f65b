#pragma once
// The options record: every setting of the agent, shared by the products of
// its family (so it carries options this agent only stores and copies).
// Each property is a plain field with a get and a set accessor that only copy
// the value: no validation, and setting a property never touches Changed.

#include "runtime/DateTime.h"
#include "settings/OptionValues.h"

#include <QString>
#include <QStringList>

namespace settings
{

// The properties in declaration order: X(type, name). The accessors are
// name() and setname(value), the name spelled exactly as the property.
#define NCL_OPTIONS(X)                                                                             \
    X(QString, EmailOptions)                                                                       \
    X(QString, LoggingSyslogServ)                                                                  \
    X(bool, LoggingSyslogOn)                                                                       \
    X(bool, SyncWarnEmail)                                                                         \
    X(qint16, ClientKeyType)                                                                       \
    X(QString, ClientStart)                                                                        \
    X(QString, ControlFunction)                                                                    \
    X(qint32, ControlMode)                                                                         \
    X(bool, DisplayControlPanel)                                                                   \
    X(bool, DisplayClientTree)                                                                     \
    X(bool, DisplayOneAct)                                                                         \
    X(bool, DisplayGraphData)                                                                      \
    X(bool, GraphAutoSelect)                                                                       \
    X(QString, ControlFuncArgs)                                                                    \
    X(QString, LoggingActionFile)                                                                  \
    X(QString, ClientFileName)                                                                     \
    X(QString, MACaddr)                                                                            \
    X(QString, GraphClientOpts)                                                                    \
    X(QString, ScheduleFileName)                                                                   \
    X(qint16, TCPPort)                                                                             \
    X(qint16, ServerConn)                                                                          \
    X(bool, DisplayNISTTime)                                                                       \
    X(qint16, ServerPort)                                                                          \
    X(QString, ServerCustomFormat)                                                                 \
    X(QString, DomainName)                                                                         \
    X(bool, GraphHistIgnore0)                                                                      \
    X(qint16, ServerFormat)                                                                        \
    X(qint16, ClientFormat)                                                                        \
    X(QString, ServerTZDiff)                                                                       \
    X(QString, Servername)                                                                         \
    X(qint16, ServerType)                                                                          \
    X(bool, DisplayCliDelInactives)                                                                \
    X(QString, LocalHost)                                                                          \
    X(bool, SystemStartup)                                                                         \
    X(qint16, LocalPort)                                                                           \
    X(bool, LoggingMaxSecOn)                                                                       \
    X(bool, GraphHistOn)                                                                           \
    X(qint32, AutoPrevDifference)                                                                  \
    X(bool, DisplayCliSaveActives)                                                                 \
    X(bool, DisplayCliValidate)                                                                    \
    X(bool, DisplayTips)                                                                           \
    X(rt::Date, SyncNextTime)                                                                      \
    X(qint16, SettingMode)                                                                         \
    X(QString, LoggingFileName)                                                                    \
    X(QString, LoggingEvntFileName)                                                                \
    X(bool, Changed)                                                                               \
    X(bool, GraphDifferenceOn)                                                                     \
    X(bool, GraphDriftOn)                                                                          \
    X(bool, GraphOn)                                                                               \
    X(qint16, SetMinThresholdDrift)                                                                \
    X(qint32, SetMaxThreshold)                                                                     \
    X(qint32, SetMinThreshold)                                                                     \
    X(bool, SyncWarning)                                                                           \
    X(bool, SetOnceExit)                                                                           \
    X(bool, isDHCP)                                                                                \
    X(qint16, AutoUncertainty)                                                                     \
    X(qint32, AutoPrevAccuracy)                                                                    \
    X(rt::Date, AutoPrevSyncTime)                                                                  \
    X(rt::Date, LastSyncTime)                                                                      \
    X(qint16, AutoDesiredAccuracy)                                                                 \
    X(qint16, SyncDataPoints)                                                                      \
    X(qint16, LoggingMode)                                                                         \
    X(bool, LoggingOn)                                                                             \
    X(bool, LoggingFileOn)                                                                         \
    X(bool, LoggingEvntOn)                                                                         \
    X(bool, LoggingNTEvntOn)                                                                       \
    X(bool, LoggingSyncStartOn)                                                                    \
    X(bool, LoggingSyncDoneOn)                                                                     \
    X(bool, LoggingConnFailOn)                                                                     \
    X(bool, LoggingCliEvntOn)                                                                      \
    X(bool, DisplayCliViewAll)                                                                     \
    X(qint16, LoggingMaxSec)                                                                       \
    X(qint32, TimedInterval)                                                                       \
    X(qint32, msecTimeOffset)                                                                      \
    X(QString, NISTServer)                                                                         \
    X(qint32, SyncWarningInterval)                                                                 \
    X(qint16, X10ComPort)

class COptions
{
public:
#define NCL_OPTION_ACCESSORS(type, name)                                                           \
    type name() const                                                                              \
    {                                                                                              \
        return m_##name;                                                                           \
    }                                                                                              \
    void set##name(const type& value)                                                              \
    {                                                                                              \
        m_##name = value;                                                                          \
    }
    NCL_OPTIONS(NCL_OPTION_ACCESSORS)
#undef NCL_OPTION_ACCESSORS

    // Takes a sync record's local time, accuracy (rounded to a whole number)
    // and difference into AutoPrevSyncTime, AutoPrevAccuracy and
    // AutoPrevDifference; a value that does not convert is skipped.
    void Update_Auto_Settings(rt::Date syncLocalTime, float syncAccuracy, qint32 syncDifferenceSec);
    // Sets every property of the destination from this record, by name.
    void Copy_Object_to(COptions& destination) const;
    // Sets every property of this record from the source, by name.
    void Copy_Object_in(const COptions& source);

    // The property names in declaration order.
    static const QStringList& PropertyNames();
    // Copies one property, by name, from one record to another; false for an
    // unknown name.
    static bool CopyProperty(const QString& name, const COptions& from, COptions& to);

private:
#define NCL_OPTION_FIELD(type, name) type m_##name{};
    NCL_OPTIONS(NCL_OPTION_FIELD)
#undef NCL_OPTION_FIELD
};

} // namespace settings

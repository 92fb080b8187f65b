#pragma once
// The record of one clock setting: when it ran, against which server, how far
// the clock was off, and the drift derived from the previous setting
// ("accuracy", seconds per day). It feeds the automatic interval, the sync
// log and the values the console reads from the settings store.

#include "logging/SyncLog.h"
#include "runtime/DateTime.h"

#include <QString>
#include <QtGlobal>

namespace settings
{
class COptions;
}

namespace schedule
{

class CSync
{
public:
    rt::Date SyncLocalTime() const { return m_SyncLocalTime; }
    void setSyncLocalTime(rt::Date v) { m_SyncLocalTime = v; }
    const QString& SyncServer() const { return m_SyncServer; }
    void setSyncServer(const QString& v) { m_SyncServer = v; }
    qint16 SyncID() const { return m_SyncID; }
    void setSyncID(qint16 v) { m_SyncID = v; }
    rt::Date SyncDifference() const { return m_SyncDifference; }
    void setSyncDifference(rt::Date v) { m_SyncDifference = v; }
    float SyncAccuracy() const { return m_SyncAccuracy; }
    void setSyncAccuracy(float v) { m_SyncAccuracy = v; }
    qint16 SyncStatus() const { return m_SyncStatus; }
    void setSyncStatus(qint16 v) { m_SyncStatus = v; }
    qint32 SyncDifferenceSec() const { return m_SyncDifferenceSec; }
    void setSyncDifferenceSec(qint32 v) { m_SyncDifferenceSec = v; }
    float SyncSecFrac() const { return m_SyncSecFrac; }
    void setSyncSecFrac(float v) { m_SyncSecFrac = v; }
    bool SyncUseFrac() const { return m_SyncUseFrac; }
    void setSyncUseFrac(bool v) { m_SyncUseFrac = v; }

    // Rebuilds the last stored setting from the options record.
    void Init_Registry(const settings::COptions& options);
    // Records a finished setting of the engine (its difference in seconds
    // and its result code), stamped now. Returns false.
    bool Save_Setting(qint32 settingDifferenceSec, qint16 settingStatus, const QString& sServer);
    // Derives SyncAccuracy from the previous setting.
    void Compare_Sync(const CSync& previous);
    // LastSyncTime into the options and the settings store; a non-zero drift
    // also goes to the stored automatic values. Returns false.
    bool Save_Registry();

    // The correction with its fraction when the fraction is in use.
    double DifferenceWithFraction() const;
    // What the sync log writes of this setting.
    logging::SyncLogEntry LogEntry() const;

private:
    rt::Date m_SyncLocalTime = 0;
    QString m_SyncServer;
    qint16 m_SyncID = 0;
    rt::Date m_SyncDifference = 0;
    float m_SyncAccuracy = 0;
    qint16 m_SyncStatus = 0;
    qint32 m_SyncDifferenceSec = 0;
    float m_SyncSecFrac = 0;
    bool m_SyncUseFrac = false;
};

} // namespace schedule

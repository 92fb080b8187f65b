#pragma once
// The automatic interval: adopts a setting's drift as the previous accuracy
// and turns it into the delay until the next automatic reading. A clock that
// drifts slowly is read rarely, a fast one often, within the desired accuracy
// and a safety percentage, capped by half the maximum threshold.

#include "runtime/DateTime.h"

#include <QtGlobal>

namespace schedule
{

class CSync;

class CAutoSetting
{
public:
    // Plain stored values; the computation reads the options record instead.
    qint16 PreviousSyncAccuracy() const { return m_PreviousSyncAccuracy; }
    void setPreviousSyncAccuracy(qint16 v) { m_PreviousSyncAccuracy = v; }
    rt::Date PreviousSyncTime() const { return m_PreviousSyncTime; }
    void setPreviousSyncTime(rt::Date v) { m_PreviousSyncTime = v; }
    qint16 DesiredAccuracy() const { return m_DesiredAccuracy; }
    void setDesiredAccuracy(qint16 v) { m_DesiredAccuracy = v; }

    qint16 Attempts() const { return m_attempts; }

    void ClearAutoAttemps();
    // True when the record's drift (positive only) became the previous accuracy.
    bool Save_Auto_Settings(const CSync& thisSync);
    // Whole seconds until the next automatic reading.
    qint32 Calc_Next_Sync();

private:
    bool NextSyncSeconds(double& seconds);

    qint16 m_attempts = 0;
    qint16 m_PreviousSyncAccuracy = 0;
    rt::Date m_PreviousSyncTime = 0;
    qint16 m_DesiredAccuracy = 0;
};

} // namespace schedule

#pragma once
// One past clock setting, as read back from a line of the sync log.

#include "runtime/DateTime.h"

#include <QString>
#include <QtGlobal>

namespace schedule
{

class CHistSetting
{
public:
    const QString& SetServer() const { return m_SetServer; }
    void setSetServer(const QString& v) { m_SetServer = v; }
    qint16 SetStatus() const { return m_SetStatus; }
    void setSetStatus(qint16 v) { m_SetStatus = v; }
    float SetAccuracy() const { return m_SetAccuracy; }
    void setSetAccuracy(float v) { m_SetAccuracy = v; }
    float SetDiff() const { return m_SetDiff; }
    void setSetDiff(float v) { m_SetDiff = v; }
    rt::Date SetTime() const { return m_SetTime; }
    void setSetTime(rt::Date v) { m_SetTime = v; }
    rt::Date SetDate() const { return m_SetDate; }
    void setSetDate(rt::Date v) { m_SetDate = v; }

private:
    QString m_SetServer;
    qint16 m_SetStatus = 0;
    float m_SetAccuracy = 0;
    float m_SetDiff = 0;
    rt::Date m_SetTime = 0;
    rt::Date m_SetDate = 0;
};

} // namespace schedule

#include "schedule/CSync.h"

#include "logging/DebugLog.h"
#include "runtime/Numbers.h"
#include "runtime/TextFormat.h"
#include "settings/AppState.h"
#include "settings/COptions.h"
#include "settings/OptionStore.h"

#include <cmath>

namespace schedule
{

void CSync::Init_Registry(const settings::COptions& options)
{
    m_SyncLocalTime = options.AutoPrevSyncTime();
    m_SyncDifferenceSec = options.AutoPrevDifference();
    m_SyncAccuracy = float(options.AutoPrevAccuracy());
    m_SyncStatus = 0;
    m_SyncServer = QStringLiteral("(Registry values)");
}

bool CSync::Save_Setting(qint32 settingDifferenceSec, qint16 settingStatus, const QString& sServer)
{
    m_SyncLocalTime = rt::Now();
    m_SyncServer = sServer;
    m_SyncDifferenceSec = settingDifferenceSec;
    m_SyncStatus = settingStatus;
    return false;
}

double CSync::DifferenceWithFraction() const
{
    double difference = m_SyncDifferenceSec;
    if (m_SyncUseFrac)
        difference += double(m_SyncSecFrac);
    return difference;
}

logging::SyncLogEntry CSync::LogEntry() const
{
    logging::SyncLogEntry entry;
    entry.localTime = m_SyncLocalTime;
    entry.differenceSec = m_SyncDifferenceSec;
    entry.secFrac = m_SyncSecFrac;
    entry.useFrac = m_SyncUseFrac;
    entry.accuracy = m_SyncAccuracy;
    entry.status = m_SyncStatus;
    return entry;
}

void CSync::Compare_Sync(const CSync& previous)
{
    const double difference = DifferenceWithFraction();
    const bool sameMoment = m_SyncLocalTime == settings::Options().AutoPrevSyncTime() ||
                            m_SyncLocalTime == previous.SyncLocalTime();
    QString trace;
    if (difference == 0 || sameMoment) {
        m_SyncAccuracy = 0;
    } else {
        // Elapsed days held in single precision; a drift that does not come
        // out finite leaves the accuracy as it was.
        const float elapsedDays = float(m_SyncLocalTime - previous.SyncLocalTime());
        const float drift = float(difference) / elapsedDays;
        if (std::isfinite(drift))
            m_SyncAccuracy = drift;
        if (logging::DebugOn)
            trace = QStringLiteral("Difference Sec: ") +
                    rt::FormatNumber(m_SyncDifferenceSec, QStringLiteral("0.0##")) +
                    QStringLiteral(", Prev Sync Time: ") +
                    rt::FormatDate(previous.SyncLocalTime(), QStringLiteral("mm/dd/yy hh:nn"));
    }
    NCL_TRACE(trace + QStringLiteral(" Client Accuracy: ") +
              rt::FormatNumber(m_SyncAccuracy, QStringLiteral("0.#")));
}

bool CSync::Save_Registry()
{
    settings::COptions& options = settings::Options();
    const QString& appTitle = settings::App().AppTitle;
    options.setLastSyncTime(m_SyncLocalTime);
    settings::SaveLastSyncTime(m_SyncLocalTime, appTitle);
    if (m_SyncAccuracy == 0)
        return false;
    qint32 accuracy = 0;
    if (!rt::ToInt32(std::trunc(double(m_SyncAccuracy)), accuracy)) {
        NCL_TRACE(QStringLiteral("Save_Registry: accuracy out of range, not stored"));
        return false;
    }
    settings::SaveAutoSettings(accuracy, m_SyncLocalTime, m_SyncDifferenceSec, appTitle);
    return false;
}

} // namespace schedule

#pragma once
// The clock-setting engine: takes one time message (a NIST, ACTS or Daytime
// line, the console's set or force string, a custom layout, an SNTP reply or a
// four-byte time), turns it into local time, decides by a sync result code
// whether to set the clock, and sets it to the millisecond.
//
// One engine object serves one message: the display releases it in NISTdone
// (or HeartbeatDone), which is therefore the last call of DataArrived (and
// HeartbeatOK). Nothing here throws; the outcome is SettingStatus.

#include "platform/SystemClock.h"
#include "runtime/DateTime.h"
#include "timeset/CNISTDisplay.h"
#include "timeset/EngineOptions.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace timeset
{

class CNISTtimeset
{
public:
    // --- the driver ---
    // Text formats read the bytes as single-byte text; SNTP and the four-byte
    // formats read them as they are.
    void DataArrived(const QByteArray& message, CNISTDisplay& display);
    void DataArrived(const QString& message, CNISTDisplay& display);
    void HeartbeatOK(const QString& key, const QByteArray& reply, CNISTDisplay& display,
                     bool isText);
    void HeartbeatOK(const QString& key, const QString& reply, CNISTDisplay& display, bool isText);

    // --- the clock ---
    void System_get_timezone();
    void System_set_time(rt::Date& newTime);
    void System_set_date(rt::Date& newDate);
    bool SetLocalTimeAPI(rt::Date newTime, float fraction);

    // --- the parsers; true when the message was taken apart ---
    bool NIST_parse_string(const QString& message);
    bool ACTS_parse_string(const QString& message);
    bool Daytime_parse_string(const QString& message);
    bool SNTP_parse_packet(const QByteArray& datagram);
    bool Time_parse_bytes(const QByteArray& bytes);
    bool NIST_check_server() const;

    // --- the comparisons; they return a sync result code ---
    qint16 NIST_compare_time();
    qint16 compare_time(const QString& dateTimeText);

    // --- conversions of NTP bytes ---
    rt::Date byte_to_date(const QByteArray& bytes) const;
    QByteArray date_to_byte(rt::Date value) const;
    float byte_to_frac(const QByteArray& bytes) const;

    // --- properties ---
    // Modified Julian Day of a NIST/ACTS line; 0 when it has none
    qint32 NISTJulianDays() const { return m_NISTJulianDays; }
    void setNISTJulianDays(qint32 v) { m_NISTJulianDays = v; }
    // date text as received or rebuilt
    const QString& NISTDate() const { return m_NISTDate; }
    void setNISTDate(const QString& v) { m_NISTDate = v; }
    // time-of-day text, fraction removed where split off
    const QString& NISTTime() const { return m_NISTTime; }
    void setNISTTime(const QString& v) { m_NISTTime = v; }
    // NIST daylight-saving code
    qint16 NISTDST() const { return m_NISTDST; }
    void setNISTDST(qint16 v) { m_NISTDST = v; }
    // NIST leap-second warning
    qint16 NISTLeapSecFlag() const { return m_NISTLeapSecFlag; }
    void setNISTLeapSecFlag(qint16 v) { m_NISTLeapSecFlag = v; }
    // 0 = healthy
    qint16 NISTServerHealth() const { return m_NISTServerHealth; }
    void setNISTServerHealth(qint16 v) { m_NISTServerHealth = v; }
    // server advance in milliseconds
    float NISTAdvance() const { return m_NISTAdvance; }
    void setNISTAdvance(float v) { m_NISTAdvance = v; }
    // label field after the advance
    const QString& NISTMisc() const { return m_NISTMisc; }
    void setNISTMisc(const QString& v) { m_NISTMisc = v; }
    // fraction of a second added to the whole-second time
    float NISTSecFrac() const { return m_NISTSecFrac; }
    void setNISTSecFrac(float v) { m_NISTSecFrac = v; }
    // "S" or "F" of the last console set/force string
    const QString& EntCmd() const { return m_EntCmd; }
    void setEntCmd(const QString& v) { m_EntCmd = v; }
    // status text for the console
    const QString& EntStatus() const { return m_EntStatus; }
    void setEntStatus(const QString& v) { m_EntStatus = v; }
    // corrected server time in local time: the value to set
    rt::Date NISTCorrDateTime() const { return m_NISTCorrDateTime; }
    void setNISTCorrDateTime(rt::Date v) { m_NISTCorrDateTime = v; }
    // whole seconds; positive when the local clock was behind
    qint32 SettingDifferenceSec() const { return m_SettingDifferenceSec; }
    void setSettingDifferenceSec(qint32 v) { m_SettingDifferenceSec = v; }
    // fraction of a second that goes with it
    float SettingDifferenceFrac() const { return m_SettingDifferenceFrac; }
    void setSettingDifferenceFrac(float v) { m_SettingDifferenceFrac = v; }
    // the date must be set as well
    bool SystemDateChange() const { return m_SystemDateChange; }
    void setSystemDateChange(bool v) { m_SystemDateChange = v; }
    // sync result code of the last message
    qint16 SettingStatus() const { return m_SettingStatus; }
    void setSettingStatus(qint16 v) { m_SettingStatus = v; }
    // 0 unknown, 1 standard time, 2 daylight time
    qint32 SystemDSTrtn() const { return m_SystemDSTrtn; }
    void setSystemDSTrtn(qint32 v) { m_SystemDSTrtn = v; }
    // minutes, UTC = local + bias; -1 = no time zone
    qint16 SystemTZbias() const { return m_SystemTZbias; }
    void setSystemTZbias(qint16 v) { m_SystemTZbias = v; }
    // minutes added to the bias during daylight saving
    qint16 SystemTZDSTbias() const { return m_SystemTZDSTbias; }
    void setSystemTZDSTbias(qint16 v) { m_SystemTZDSTbias = v; }
    // one-way network delay in seconds, added when setting
    float NISTLegTime() const { return m_NISTLegTime; }
    void setNISTLegTime(float v) { m_NISTLegTime = v; }
    // Why the platform refused to set the clock for this message, e.g.
    // "Permission denied (error 70)"; empty when nothing was refused.
    const QString& SettingRefused() const { return m_settingRefused; }

private:
    // The message's arrival, read once so its UTC record and local value agree.
    struct Arrival {
        rt::Date local = 0; // whole seconds
        platform::SystemTime utc;
    };
    // The direction and size of a difference, as the comparisons measure it.
    struct Difference {
        rt::Date corrected = 0;
        rt::Date local = 0;
        double timeOfDay = 0; // t, in days
    };

    qint16 SNTP_compare_time(const QString& dateText, rt::Date& arrival,
                             const platform::SystemTime& arrivalRecord);
    bool SNTP_check_mode(quint8 firstByte) const;
    float SNTP_get_fraction(const QByteArray& datagram) const;
    bool check_received_date(rt::Date value) const;

    // Driver steps.
    qint16 RunNistOrActs(const QString& message);
    qint16 RunDaytimeOrCustom(const QString& message);
    qint16 RunSntp(const QByteArray& datagram, Arrival& arrival);
    qint16 RunFourByteTime(const QByteArray& bytes);
    void ActOnStatus(CNISTDisplay& display, const Arrival& arrival);
    void NotifyDisplaySync(CNISTDisplay& display, const Arrival& arrival);

    // Comparison steps shared by the three comparisons.
    bool DaylightOnBySystem() const;
    qint16 CheckDates(rt::Date local, rt::Date corrected);
    bool WholeSecondDifference(bool behind, Difference& diff);
    void TraceLocalSettings(rt::Date local) const;
    void TraceTimeDifferenceDays(double t) const;

    // Raises the runtime error of a refused setting and keeps it as the reason.
    void RefuseSetting(int platformError);
    bool SetTimeOfDay(const QString& hhnnss, int& errorNumber);
    bool SetDateOnly(rt::Date date, int& errorNumber);

    EngineOptions m_options;
    bool m_directSetting = false;
    int m_lastPlatformError = 0;
    QString m_settingRefused;

    qint32 m_NISTJulianDays = 0;
    QString m_NISTDate;
    QString m_NISTTime;
    qint16 m_NISTDST = 0;
    qint16 m_NISTLeapSecFlag = 0;
    qint16 m_NISTServerHealth = 0;
    float m_NISTAdvance = 0;
    QString m_NISTMisc;
    float m_NISTSecFrac = 0;
    QString m_EntCmd;
    QString m_EntStatus;
    rt::Date m_NISTCorrDateTime = 0;
    qint32 m_SettingDifferenceSec = 0;
    float m_SettingDifferenceFrac = 0;
    bool m_SystemDateChange = false;
    qint16 m_SettingStatus = 0;
    qint32 m_SystemDSTrtn = 0;
    qint16 m_SystemTZbias = 0;
    qint16 m_SystemTZDSTbias = 0;
    float m_NISTLegTime = 0;
};

// Splits a message at each single space, as every text parser does.
QStringList SplitMessage(const QString& message);

} // namespace timeset

// The engine's driver: one time message from arrival to the clock being set,
// and the heartbeat reply handler.
#include "timeset/CNISTtimeset.h"

#include "logging/DebugLog.h"
#include "runtime/CurrentError.h"
#include "runtime/DateText.h"
#include "runtime/TextFormat.h"
#include "settings/OptionValues.h"
#include "timeset/CustomFormat.h"
#include "timeset/SyncStatus.h"
#include "timeset/TimeConversions.h"

#include <exception>

namespace timeset
{

namespace
{

const QString kDaytimeLayout = QStringLiteral("ddd mmm dd Hh:Nn:Ss yyyy");
constexpr qint32 kLongDifferenceSec = 3600;

} // namespace

void CNISTtimeset::DataArrived(const QString& message, CNISTDisplay& display)
{
    DataArrived(message.toLatin1(), display);
}

void CNISTtimeset::DataArrived(const QByteArray& message, CNISTDisplay& display)
{
    NCL_TRACE(QStringLiteral("DATA ARRIVED Event"));
    m_SettingStatus = StatusSettingMade;
    m_directSetting = false;
    m_settingRefused.clear();
    Arrival arrival;
    const qint64 arrivalMs = platform::Clock().NowUtcMs();
    const platform::SystemTime local = platform::SystemClock::LocalRecordAt(arrivalMs);
    arrival.local = rt::MakeDate(local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute,
                                 local.wSecond);
    arrival.utc = platform::SystemClock::UtcRecordAt(arrivalMs);
    m_EntStatus.clear();
    NCL_TRACE(QStringLiteral("Data Arrived at: ") + RecordClockText(arrival.utc));

    try {
        m_options = CurrentEngineOptions();
        const QString text = QString::fromLatin1(message);
        namespace Format = settings::ServerFormat;
        const qint16 format = m_options.ServerFormat;
        if (format == Format::Nist || format == Format::NistAlternate ||
            m_options.ServerConn == settings::ServerConn::DirectDial)
            m_SettingStatus = RunNistOrActs(text);
        else if (format == Format::Daytime)
            m_SettingStatus = RunDaytimeOrCustom(text);
        else if (format == Format::Sntp)
            m_SettingStatus = RunSntp(message, arrival);
        else if (format == Format::BinaryTimeTcp || format == Format::BinaryTimeUdp)
            m_SettingStatus = RunFourByteTime(message);
        else
            m_SettingStatus = StatusUnknownFormat;
        ActOnStatus(display, arrival);
    } catch (const std::exception& e) {
        // Nothing here is meant to throw; should anything (memory), the
        // message is dropped with a report and the agent goes on.
        rt::RaiseError(9, QString::fromLocal8Bit(e.what()));
        logging::ReportError(logging::Information, QStringLiteral("DataArrived error"), 9,
                             QStringLiteral("CNISTTimeset"), QStringLiteral("DataArrived"), 71);
    }
    NCL_TRACE(QStringLiteral("DATA ARRIVED DONE"));
    display.NISTdone(); // may release this object: nothing may follow
}

qint16 CNISTtimeset::RunNistOrActs(const QString& message)
{
    const bool parsed = m_options.ServerConn == settings::ServerConn::DirectDial
                            ? ACTS_parse_string(message)
                            : NIST_parse_string(message);
    if (!parsed)
        return StatusParseError;
    if (!NIST_check_server())
        return StatusServerError;
    return NIST_compare_time();
}

qint16 CNISTtimeset::RunDaytimeOrCustom(const QString& message)
{
    const QString& format = m_options.ServerCustomFormat;
    if (format.isEmpty() || format == kDaytimeLayout) {
        if (!Daytime_parse_string(message))
            return StatusParseError;
    } else if (!Custom_parse_string(message, format, m_NISTDate, m_NISTTime)) {
        return StatusParseError;
    }
    return compare_time(m_NISTDate + QLatin1Char(' ') + m_NISTTime);
}

qint16 CNISTtimeset::RunSntp(const QByteArray& datagram, Arrival& arrival)
{
    if (!SNTP_parse_packet(datagram))
        return StatusParseError;
    if (m_NISTServerHealth != 0)
        return StatusServerError;

    // With no threshold and no offset a reply within the same minute is set
    // at once, in UTC, to the millisecond.
    if (m_options.SetMinThreshold == 0 && m_options.msecTimeOffset == 0) {
        rt::Date server = 0;
        if (!rt::TextToDate(m_NISTDate, server))
            return StatusParseError;
        const platform::SystemTime record = date_to_system_time(server, m_NISTSecFrac);
        const platform::SystemTime& at = arrival.utc;
        const bool sameMinute = record.wYear == at.wYear && record.wMonth == at.wMonth &&
                                record.wDay == at.wDay && record.wHour == at.wHour &&
                                record.wMinute == at.wMinute;
        if (sameMinute && record.wSecond == at.wSecond &&
            record.wMilliseconds == at.wMilliseconds) {
            NCL_TRACE(QStringLiteral("Clocks in sync - no need to set"));
            return StatusInSync;
        }
        if (sameMinute) {
            NCL_TRACE(QStringLiteral("Direct setting of NIST system time"));
            int errorNumber = 0;
            if (!platform::Clock().SetSystemTime(record, errorNumber)) {
                NCL_TRACE(QStringLiteral("Error on SetSystemTime: ") + QString::number(0));
                NCL_TRACE(QString::number(errorNumber));
                RefuseSetting(errorNumber);
                rt::ClearError(); // nothing reports it here; the reason is kept
            }
            m_directSetting = true;
        }
    }
    rt::Date arrivalLocal = arrival.local;
    return SNTP_compare_time(m_NISTDate, arrivalLocal, arrival.utc);
}

qint16 CNISTtimeset::RunFourByteTime(const QByteArray& bytes)
{
    if (!Time_parse_bytes(bytes))
        return StatusParseError;
    return compare_time(m_NISTDate);
}

void CNISTtimeset::NotifyDisplaySync(CNISTDisplay& display, const Arrival& arrival)
{
    SyncDisplayInfo info;
    info.arrival = arrival.local;
    info.corrected = m_NISTCorrDateTime;
    if (m_NISTSecFrac != 0 && m_SettingDifferenceSec <= kLongDifferenceSec) {
        if (!m_directSetting)
            info.mode = qint16(m_options.ServerConn == settings::ServerConn::DirectDial ? 3 : 1);
        info.arrivalMilliseconds = arrival.utc.wMilliseconds;
        info.secFrac = m_NISTSecFrac;
    }
    display.DisplaySync(info);
}

void CNISTtimeset::ActOnStatus(CNISTDisplay& display, const Arrival& arrival)
{
    switch (m_SettingStatus) {
    case StatusSettingMade:
        if (m_options.SettingMode != settings::SettingMode::Batch)
            NotifyDisplaySync(display, arrival);
        if (!m_directSetting)
            System_set_time(m_NISTCorrDateTime);
        if (m_SystemDateChange)
            System_set_date(m_NISTCorrDateTime);
        break;
    case StatusDatesChanged:
        System_set_date(m_NISTCorrDateTime);
        break;
    case StatusBelowMinimum:
        if (m_EntCmd != QLatin1String("F")) {
            NCL_TRACE(QStringLiteral("...No Time difference No time set"));
            display.DisplayNoChange();
        } else if (m_NISTCorrDateTime == 0) {
            // Only the NIST comparison keeps a corrected time for a forced
            // setting; the zero date is never set.
            NCL_TRACE(QStringLiteral("...Forced setting without a corrected time. No time set"));
            display.DisplayNoChange();
        } else {
            NotifyDisplaySync(display, arrival);
            if (!m_directSetting)
                System_set_time(m_NISTCorrDateTime);
        }
        break;
    case StatusInSync:
        NCL_TRACE(QStringLiteral("...Clocks in sync"));
        display.DisplayNoChange();
        break;
    case StatusServerError:
        NCL_TRACE(QStringLiteral("...Error in server"));
        break;
    case StatusParseError:
        NCL_TRACE(QStringLiteral("...Error in parsing"));
        break;
    case StatusConversionError:
        NCL_TRACE(QStringLiteral("..Error in time conversion. No time set"));
        break;
    case StatusUnknownFormat:
        NCL_TRACE(QStringLiteral("..Unknown timeserver format. No time set"));
        break;
    default:
        NCL_TRACE(QStringLiteral("..Error ") + QString::number(m_SettingStatus) +
                  QStringLiteral(" in time setting. No time set"));
        break;
    }
}

void CNISTtimeset::HeartbeatOK(const QString& key, const QString& reply, CNISTDisplay& display,
                               bool isText)
{
    HeartbeatOK(key, reply.toLatin1(), display, isText);
}

void CNISTtimeset::HeartbeatOK(const QString& key, const QByteArray& reply, CNISTDisplay& display,
                               bool isText)
{
    NCL_TRACE(QStringLiteral("HEARTBEAT OK Event"));
    QString upDown;
    QString macAddress;
    if (isText) {
        const QString text = QString::fromLatin1(reply);
        m_SettingStatus = StatusHeartbeat;
        const qsizetype ok = text.indexOf(QLatin1String("OK-H"));
        const qsizetype plus = text.indexOf(QLatin1String("H+"));
        if (ok >= 0) {
            const QString letter = text.mid(ok + 5, 1);
            if (letter == QLatin1String("U") || letter == QLatin1String("D")) {
                upDown = letter;
                macAddress = text.mid(ok + 7);
            } else {
                macAddress = text.mid(ok + 5);
            }
        } else if (plus >= 0) {
            upDown = text.mid(plus + 2, 1);
            macAddress = text.mid(plus + 4);
        }
        NCL_TRACE(QStringLiteral("U-p or D-wn: ") + upDown);
        NCL_TRACE(QStringLiteral("MAC_address: ") + macAddress);
    } else {
        QString text;
        for (const char byte : reply) {
            const quint8 value = quint8(byte);
            if (value > 32 && value < 127)
                text += QLatin1Char(char(value));
        }
        m_SettingStatus =
            text.startsWith(QLatin1String("OK-H")) ? StatusHeartbeat : StatusUnknownFormat;
    }
    display.HeartbeatDone(key, upDown, macAddress); // may release this object
}

} // namespace timeset

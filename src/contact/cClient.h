#pragma once
// One computer of the client list: who it is, how to reach it, its status and
// what the last contacts and clock settings found. A plain record; the client
// list (colClients) keeps it and the polling cycle reads and updates it.

#include "runtime/DateTime.h"

#include <QString>
#include <QtGlobal>

namespace contact
{

struct cClient {
    // Status values.
    enum : qint16 { StatusActive = 1, StatusPassive = 2, StatusInactive = -1 };

    qint16 nClientProtocol = 0;
    qint32 lContactDelaymsec = 0; // half of it is added when a setting is timed
    float uLastSettingDiff = 0;   // seconds applied at the last setting
    float sglTimeDiffSec = 0;     // last measured difference, seconds (client ahead > 0)
    qint16 nClientID = 0;
    QString sIPAddr;
    QString sNotes;
    QString sMACaddr;
    QString sIPname;
    qint16 nClientType = 0;
    qint16 nStatus = 0;
    rt::Date dStatusDate = 0;
    qint16 nContactCount = 0;
    rt::Date dLastSettingDate = 0;
    rt::Date dLastWarningDate = 0;
    qint16 nWarningCnt = 0;
    rt::Date dContactDate = 0;
    float uLastSettingAccuracy = 0; // drift at the last setting, seconds per day
    QString sKey;                   // the list's key: name or address
    rt::Date dTimeDiffDate = 0;     // when sglTimeDiffSec was measured
};

} // namespace contact

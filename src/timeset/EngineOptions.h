#pragma once
// The options the engine reads, taken from the shared options record at the
// moment a message or a comparison starts.

#include <QString>
#include <QtGlobal>

namespace timeset
{

struct EngineOptions {
    qint16 ServerFormat = 0;
    qint16 ServerConn = 0;
    QString ServerCustomFormat;
    QString ServerTZDiff;
    qint32 SetMaxThreshold = 0;      // seconds
    qint32 SetMinThreshold = 0;      // milliseconds
    qint32 msecTimeOffset = 0;       // milliseconds the local clock runs ahead on purpose
    qint16 SetMinThresholdDrift = 0; // seconds
    qint16 SettingMode = 0;
};

EngineOptions CurrentEngineOptions();

} // namespace timeset

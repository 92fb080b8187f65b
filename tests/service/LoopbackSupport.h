#pragma once
// Helpers of the listener tests: a free port that fits the 16-bit TCPPort
// option and a value written below HKEY_LOCAL_MACHINE.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace loopback
{

// A TCP and UDP port on 127.0.0.1 that nobody uses, below 32768.
qint16 FreePort();
// Writes one value of a key below HKEY_LOCAL_MACHINE, making the key if need be.
void SetMachineValue(const QString& keyPath, const QString& name, quint32 type,
                     const QByteArray& data);

} // namespace loopback

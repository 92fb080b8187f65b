#pragma once
// Helpers of the listener tests: event-loop waits, a free port that fits the
// 16-bit TCPPort option, a value written below HKEY_LOCAL_MACHINE, and a debug
// trace captured to a file.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>

namespace loopback
{

// Runs the event loop (deferred deletions included) until pred holds or timeoutMs pass.
bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 5000);
// Runs the event loop for ms.
void Spin(int ms);
// A TCP and UDP port on 127.0.0.1 that nobody uses, below 32768.
qint16 FreePort();
// Writes one value of a key below HKEY_LOCAL_MACHINE, making the key if need be.
void SetMachineValue(const QString& keyPath, const QString& name, quint32 type,
                     const QByteArray& data);

// Debug trace on, into a file, for the lifetime of the object.
class DebugCapture
{
public:
    explicit DebugCapture(const QString& path);
    ~DebugCapture();
    QString Text() const;

private:
    QString m_path;
};

} // namespace loopback

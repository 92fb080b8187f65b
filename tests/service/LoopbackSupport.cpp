#include "LoopbackSupport.h"

#include "logging/DebugLog.h"
#include "platform/RegistryStore.h"

#include "TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTcpServer>
#include <QTimer>
#include <QUdpSocket>

#include <unistd.h>

namespace loopback
{

void Spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool WaitFor(const std::function<bool()>& pred, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!pred()) {
        if (deadline.hasExpired())
            return false;
        Spin(5);
    }
    return true;
}

qint16 FreePort()
{
    static int next = 20000 + int(getpid() % 5000) * 2;
    for (int tries = 0; tries < 2000; ++tries) {
        const int port = next;
        next = next >= 32000 ? 20000 : next + 1;
        QTcpServer tcp;
        QUdpSocket udp;
        if (tcp.listen(QHostAddress::LocalHost, quint16(port)) &&
            udp.bind(QHostAddress::LocalHost, quint16(port)))
            return qint16(port);
    }
    return 0;
}

void SetMachineValue(const QString& keyPath, const QString& name, quint32 type,
                     const QByteArray& data)
{
    platform::HKEY key = 0;
    platform::Registry().CreateKey(platform::HKEY_LOCAL_MACHINE, keyPath, key);
    platform::Registry().SetValue(key, name, type, data);
    platform::Registry().CloseKey(key);
}

DebugCapture::DebugCapture(const QString& path) : m_path(path)
{
    logging::DebugOn = true;
    logging::DebugFileOn = true;
    logging::DebugFileName = path;
    logging::SetDebugFile(true);
}

DebugCapture::~DebugCapture()
{
    logging::CloseDebugFile();
    logging::DebugOn = false;
    logging::DebugFileOn = false;
}

QString DebugCapture::Text() const
{
    return testsupport::ReadFile(m_path);
}

} // namespace loopback

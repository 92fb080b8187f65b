#include "LoopbackSupport.h"

#include "platform/RegistryStore.h"

#include <QTcpServer>
#include <QUdpSocket>

#include <unistd.h>

namespace loopback
{

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

} // namespace loopback

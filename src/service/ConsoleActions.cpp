#include "service/ConsoleActions.h"

#include "logging/DebugLog.h"
#include "service/ConsoleRequests.h"
#include "service/Listener.h"

namespace service
{

ConsoleActions::ConsoleActions(ConsoleRequests& requests, Listener& listener, QObject* parent)
    : QObject(parent),
      remoteActions(wakeOnLan, [this](qint16 index,
                                      const QByteArray& bytes) { return SendData(index, bytes); }),
      m_listener(listener)
{
    remoteActions.SetAccess(&requests.Access());
    remoteActions.SetPeerOf([this](qint16 index) {
        const platform::SocketControl* element = m_listener.tcpServer.Item(index);
        return element ? element->RemoteHostIP() : QString();
    });
    requests.do_command = [this](const QString& sData, qint16 index, QString& sLog) {
        return remoteActions.do_command(sData, index, sLog);
    };
    requests.do_Relay = [this](const QString& sData, qint16 nLocalCOM, QString& sStatus,
                               QString& sLog) {
        return relaySwitching.do_Relay(sData, nLocalCOM, sStatus, sLog);
    };
}

bool ConsoleActions::SendData(qint16 index, const QByteArray& bytes)
{
    platform::SocketControl* element = m_listener.tcpServer.Item(index);
    if (element && element->SendData(bytes))
        return true;
    NCL_TRACE(QStringLiteral("File block not sent on element ") + QString::number(index));
    return false;
}

} // namespace service

#include "platform/SocketArray.h"

namespace platform
{

SocketArray::SocketArray(QObject* parent) : QObject(parent)
{
    Load(0);
}

SocketControl* SocketArray::Item(qint16 index) const
{
    return m_elements.value(index, nullptr);
}

bool SocketArray::Load(qint16 index)
{
    if (index < 0 || m_elements.contains(index))
        return false;
    auto* element = new SocketControl(this);
    element->SetDatagramResponder(m_responder);
    m_elements.insert(index, element);
    connect(element, &SocketControl::ConnectionRequest, this,
            [this, index](qint32 requestID) { Q_EMIT ConnectionRequest(index, requestID); });
    connect(element, &SocketControl::DataArrival, this,
            [this, index](qint32 bytesTotal) { Q_EMIT DataArrival(index, bytesTotal); });
    connect(element, &SocketControl::CloseEvent, this, [this, index] { Q_EMIT CloseEvent(index); });
    connect(element, &SocketControl::Error, this,
            [this, index](qint16 number, const QString& description) {
                Q_EMIT Error(index, number, description);
            });
    connect(element, &SocketControl::SendProgress, this,
            [this, index](qint32 sent, qint32 remaining) {
                Q_EMIT SendProgress(index, sent, remaining);
            });
    connect(element, &SocketControl::SendComplete, this,
            [this, index] { Q_EMIT SendComplete(index); });
    connect(element, &SocketControl::ConnectEvent, this,
            [this, index] { Q_EMIT ConnectEvent(index); });
    return true;
}

void SocketArray::SetDatagramResponder(DatagramResponder* responder)
{
    m_responder = responder;
    for (SocketControl* element : std::as_const(m_elements))
        element->SetDatagramResponder(responder);
}

bool SocketArray::Unload(qint16 index)
{
    if (index == 0)
        return false;
    SocketControl* element = m_elements.take(index);
    if (!element)
        return false;
    disconnect(element, nullptr, this, nullptr);
    element->ReleaseSockets();
    element->m_state = SocketControl::sckClosed;
    // Later: the element may be the sender of the event being handled.
    element->deleteLater();
    return true;
}

} // namespace platform

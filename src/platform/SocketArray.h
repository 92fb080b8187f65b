#pragma once
// An array of socket controls keyed by index. Element 0 always exists; the
// others are loaded and unloaded by index. The elements' events come out of
// the array with the element's index first.

#include "platform/SocketControl.h"

#include <QList>
#include <QMap>
#include <QObject>

namespace platform
{

class SocketArray : public QObject
{
    Q_OBJECT
public:
    explicit SocketArray(QObject* parent = nullptr);

    // nullptr when the element is not loaded.
    SocketControl* Item(qint16 index) const;
    bool Exists(qint16 index) const { return m_elements.contains(index); }
    // False when the element is already loaded or the index is negative.
    bool Load(qint16 index);
    // Closes and destroys an element; element 0 cannot be unloaded.
    bool Unload(qint16 index);
    int Count() const { return int(m_elements.size()); }
    QList<qint16> Indexes() const { return m_elements.keys(); }
    // Given to every element, those loaded later included (see SocketControl).
    void SetDatagramResponder(DatagramResponder* responder);

Q_SIGNALS:
    void ConnectionRequest(qint16 index, qint32 requestID);
    void DataArrival(qint16 index, qint32 bytesTotal);
    void CloseEvent(qint16 index);
    void Error(qint16 index, qint16 number, const QString& description);
    void SendProgress(qint16 index, qint32 bytesSent, qint32 bytesRemaining);
    void SendComplete(qint16 index);
    void ConnectEvent(qint16 index);

private:
    QMap<qint16, SocketControl*> m_elements;
    DatagramResponder* m_responder = nullptr;
};

} // namespace platform

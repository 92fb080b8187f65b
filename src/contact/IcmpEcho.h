#pragma once
// One ICMP echo (a ping) to an IPv4 address with a time-out. Uses an
// unprivileged ICMP datagram socket where the system allows one, else a raw
// socket (root). The outcome arrives as the Finished event from the event loop.

#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;

namespace contact
{

class IcmpEcho : public QObject
{
    Q_OBJECT
public:
    explicit IcmpEcho(QObject* parent = nullptr);
    ~IcmpEcho() override;

    // False (with the reason in error) when the echo could not be sent;
    // otherwise Finished follows.
    bool Send(const QString& address, int timeoutMs, QString& error);
    bool Busy() const { return m_fd >= 0; }

Q_SIGNALS:
    // replied: an echo reply came back within the time-out, after roundTripMs.
    void Finished(bool replied, qint32 roundTripMs);

private:
    void OnReadable();
    void Finish(bool replied);
    void CloseSocket();

    int m_fd = -1;
    bool m_raw = false;
    quint32 m_target = 0; // network order
    quint16 m_id = 0;
    quint16 m_sequence = 0;
    qint64 m_sentAt = 0;
    QSocketNotifier* m_notifier = nullptr;
    QTimer m_timeout;
};

} // namespace contact

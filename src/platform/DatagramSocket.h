#pragma once
// A bound UDP socket of the socket control, on its own descriptor.
//
// Without a responder every datagram is told with Received, one at a time,
// and the reading stops while the handler runs (it may run a nested event
// loop). With a responder that takes batches, every datagram pending when the
// socket becomes readable is read with one call, the responder answers or
// drops each where it lies, without an event or an allocation, and the
// answers of a batch go out with one call; only what it passes on is told
// with Received. That is the time server's reply path, where a busy server
// answers many clients per wake-up.

#include <QByteArray>
#include <QHostAddress>
#include <QObject>

#include <memory>

class QSocketNotifier;

namespace platform
{

// The sender of a datagram: IPv4 addresses in their IPv4-mapped form.
struct DatagramPeer {
    Q_IPV6ADDR address{};
    quint16 port = 0;
};

class DatagramResponder
{
public:
    enum Outcome { Answer, Drop, Pass };
    static constexpr int kReplyRoom = 512;

    virtual ~DatagramResponder() = default;
    // Whether the datagrams pending now may be read as a batch and given to
    // Respond; asked once per wake-up, before the batch.
    virtual bool Batches() = 0;
    // Answer: the reply (at most kReplyRoom bytes) is in reply and replySize.
    // Pass: the datagram is told with Received, as without a responder.
    virtual Outcome Respond(const char* data, int size, const DatagramPeer& peer, char* reply,
                            int& replySize) = 0;
    // An answer could not be sent (errno value).
    virtual void ReplyFailed(int errorNumber) = 0;
};

class DatagramSocket : public QObject
{
    Q_OBJECT
public:
    // Takes over fd, a bound non-blocking UDP socket.
    explicit DatagramSocket(int fd, QObject* parent = nullptr);
    ~DatagramSocket() override;

    int Descriptor() const { return m_fd; }
    quint16 LocalPort() const;
    QHostAddress LocalAddress() const;
    // Not owned; nullptr: every datagram is told with Received.
    void SetResponder(DatagramResponder* responder) { m_responder = responder; }

    // False with the errno value in err.
    bool Send(const QByteArray& bytes, const QHostAddress& to, quint16 port, int& err);
    // Stops reading and hands the descriptor to the caller (-1 when closed).
    int TakeDescriptor();
    void Close();

    // Datagrams read per call; longer ones are cut to kBatchSlot bytes in a
    // batch, which only a responder that needs no more than that asks for.
    static constexpr int kBatch = 32;
    static constexpr int kBatchSlot = 2048;

Q_SIGNALS:
    void Received(const QByteArray& data, const QHostAddress& from, quint16 port);
    // Reading failed (errno value).
    void Failed(int errorNumber);

private:
    struct Batch;
    void OnReadable();
    bool ReadOne();
    void ReadBatches();
    // Sends answers [0, count) of the batch.
    void SendAnswers(int count);
    // Tells one datagram with reading paused; false when the socket went meanwhile.
    bool Tell(const QByteArray& data, const QHostAddress& from, quint16 port);

    int m_fd = -1;
    bool m_v6 = false;
    QSocketNotifier* m_notifier = nullptr;
    DatagramResponder* m_responder = nullptr;
    std::unique_ptr<Batch> m_batch;
};

} // namespace platform

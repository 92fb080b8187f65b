#include "platform/DatagramSocket.h"

#include <QPointer>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform
{

namespace
{

// Datagrams told one at a time per wake-up before other events get their turn.
constexpr int kSinglesPerWake = 64;
// Batches read per wake-up before other events get their turn.
constexpr int kBatchesPerWake = 8;

bool Transient(int err)
{
    return err == EAGAIN || err == EWOULDBLOCK || err == EINTR;
}

void PeerOf(const sockaddr_storage& from, DatagramPeer& peer)
{
    if (from.ss_family == AF_INET6) {
        const auto* sa = reinterpret_cast<const sockaddr_in6*>(&from);
        std::memcpy(peer.address.c, &sa->sin6_addr, 16);
        peer.port = ntohs(sa->sin6_port);
        return;
    }
    const auto* sa = reinterpret_cast<const sockaddr_in*>(&from);
    std::memset(peer.address.c, 0, 10);
    peer.address.c[10] = peer.address.c[11] = 0xff;
    std::memcpy(peer.address.c + 12, &sa->sin_addr, 4);
    peer.port = ntohs(sa->sin_port);
}

socklen_t SockAddrOf(const QHostAddress& address, quint16 port, sockaddr_storage& storage,
                     bool v6Socket)
{
    std::memset(&storage, 0, sizeof storage);
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4 && !v6Socket) {
        auto* sa = reinterpret_cast<sockaddr_in*>(&storage);
        sa->sin_family = AF_INET;
        sa->sin_port = htons(port);
        sa->sin_addr.s_addr = htonl(v4);
        return sizeof *sa;
    }
    auto* sa = reinterpret_cast<sockaddr_in6*>(&storage);
    sa->sin6_family = AF_INET6;
    sa->sin6_port = htons(port);
    if (isV4) {
        // An IPv6 socket reaches an IPv4 peer by its IPv4-mapped address.
        sa->sin6_addr.s6_addr[10] = sa->sin6_addr.s6_addr[11] = 0xff;
        const quint32 big = htonl(v4);
        std::memcpy(sa->sin6_addr.s6_addr + 12, &big, 4);
    } else {
        const Q_IPV6ADDR raw = address.toIPv6Address();
        std::memcpy(&sa->sin6_addr, raw.c, 16);
    }
    sa->sin6_scope_id = address.scopeId().toUInt();
    return sizeof *sa;
}

} // namespace

// The buffers of one batch, made once per socket on its first batch.
struct DatagramSocket::Batch {
    char data[kBatch][kBatchSlot];
    char replies[kBatch][DatagramResponder::kReplyRoom];
    sockaddr_storage from[kBatch];
    iovec inVec[kBatch];
    mmsghdr in[kBatch];
    iovec outVec[kBatch];
    mmsghdr out[kBatch];
};

DatagramSocket::DatagramSocket(int fd, QObject* parent) : QObject(parent), m_fd(fd)
{
    m_v6 = LocalAddress().protocol() == QAbstractSocket::IPv6Protocol;
    m_notifier = new QSocketNotifier(qintptr(fd), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &DatagramSocket::OnReadable);
}

DatagramSocket::~DatagramSocket()
{
    Close();
}

quint16 DatagramSocket::LocalPort() const
{
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (m_fd < 0 || ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0)
        return 0;
    DatagramPeer local;
    PeerOf(storage, local);
    return local.port;
}

QHostAddress DatagramSocket::LocalAddress() const
{
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (m_fd < 0 || ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0)
        return QHostAddress();
    return QHostAddress(reinterpret_cast<const sockaddr*>(&storage));
}

bool DatagramSocket::Send(const QByteArray& bytes, const QHostAddress& to, quint16 port, int& err)
{
    if (m_fd < 0) {
        err = EBADF;
        return false;
    }
    sockaddr_storage target;
    const socklen_t length = SockAddrOf(to, port, target, m_v6);
    const ssize_t sent = ::sendto(m_fd, bytes.constData(), size_t(bytes.size()), 0,
                                  reinterpret_cast<const sockaddr*>(&target), length);
    if (sent < 0) {
        err = errno;
        return false;
    }
    return true;
}

int DatagramSocket::TakeDescriptor()
{
    const int fd = m_fd;
    if (m_notifier) {
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    m_fd = -1;
    return fd;
}

void DatagramSocket::Close()
{
    const int fd = TakeDescriptor();
    if (fd >= 0)
        ::close(fd);
}

bool DatagramSocket::Tell(const QByteArray& data, const QHostAddress& from, quint16 port)
{
    // The handler may wait in a nested event loop: no reading meanwhile.
    QPointer<DatagramSocket> self(this);
    m_notifier->setEnabled(false);
    Q_EMIT Received(data, from, port);
    if (!self || m_fd < 0 || !m_notifier)
        return false;
    m_notifier->setEnabled(true);
    return true;
}

void DatagramSocket::OnReadable()
{
    if (m_responder && m_responder->Batches()) {
        ReadBatches();
        return;
    }
    for (int i = 0; i < kSinglesPerWake && m_fd >= 0; ++i) {
        if (!ReadOne())
            return;
    }
}

bool DatagramSocket::ReadOne()
{
    // The largest UDP payload, so that a datagram is told whole.
    char data[65536];
    sockaddr_storage from{};
    iovec vec{data, sizeof data};
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &vec;
    message.msg_iovlen = 1;
    const ssize_t got = ::recvmsg(m_fd, &message, MSG_DONTWAIT);
    if (got < 0) {
        const int err = errno;
        if (!Transient(err))
            Q_EMIT Failed(err);
        return false;
    }
    DatagramPeer peer;
    PeerOf(from, peer);
    return Tell(QByteArray(data, int(got)), QHostAddress(reinterpret_cast<const sockaddr*>(&from)),
                peer.port);
}

void DatagramSocket::ReadBatches()
{
    if (!m_batch)
        m_batch = std::make_unique<Batch>();
    Batch& b = *m_batch;
    for (int round = 0; round < kBatchesPerWake; ++round) {
        for (int i = 0; i < kBatch; ++i) {
            b.inVec[i] = iovec{b.data[i], kBatchSlot};
            b.in[i].msg_hdr = msghdr{};
            b.in[i].msg_hdr.msg_name = &b.from[i];
            b.in[i].msg_hdr.msg_namelen = sizeof b.from[i];
            b.in[i].msg_hdr.msg_iov = &b.inVec[i];
            b.in[i].msg_hdr.msg_iovlen = 1;
        }
        const int count = ::recvmmsg(m_fd, b.in, kBatch, MSG_DONTWAIT, nullptr);
        if (count < 0) {
            const int err = errno;
            if (!Transient(err))
                Q_EMIT Failed(err);
            return;
        }
        int answers = 0;
        for (int i = 0; i < count; ++i) {
            DatagramPeer peer;
            PeerOf(b.from[i], peer);
            const int size = int(b.in[i].msg_len);
            int replySize = 0;
            switch (m_responder
                        ? m_responder->Respond(b.data[i], size, peer, b.replies[answers], replySize)
                        : DatagramResponder::Pass) {
            case DatagramResponder::Answer:
                b.outVec[answers] = iovec{b.replies[answers], size_t(replySize)};
                b.out[answers].msg_hdr = msghdr{};
                b.out[answers].msg_hdr.msg_name = &b.from[i];
                b.out[answers].msg_hdr.msg_namelen = b.in[i].msg_hdr.msg_namelen;
                b.out[answers].msg_hdr.msg_iov = &b.outVec[answers];
                b.out[answers].msg_hdr.msg_iovlen = 1;
                ++answers;
                break;
            case DatagramResponder::Drop:
                break;
            case DatagramResponder::Pass:
                // Answers go out in the order of their requests.
                SendAnswers(answers);
                answers = 0;
                if (!Tell(QByteArray(b.data[i], size),
                          QHostAddress(reinterpret_cast<const sockaddr*>(&b.from[i])), peer.port))
                    return;
                break;
            }
        }
        SendAnswers(answers);
        // Fewer than asked for: nothing was left waiting.
        if (count < kBatch)
            return;
    }
}

void DatagramSocket::SendAnswers(int count)
{
    Batch& b = *m_batch;
    for (int sent = 0; sent < count;) {
        const int done = ::sendmmsg(m_fd, b.out + sent, unsigned(count - sent), 0);
        if (done > 0) {
            sent += done;
            continue;
        }
        // The one that failed is reported and skipped; the rest still go.
        const int err = done < 0 ? errno : EIO;
        if (err == EINTR)
            continue;
        if (m_responder)
            m_responder->ReplyFailed(err);
        ++sent;
    }
}

} // namespace platform

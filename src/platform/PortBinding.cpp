#include "platform/PortBinding.h"

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform
{

int BindPort(int type, const QHostAddress& address, quint16 port, PortSharing sharing, int& err)
{
    const bool v6 = address.protocol() == QAbstractSocket::IPv6Protocol;
    const int fd = ::socket(v6 ? AF_INET6 : AF_INET, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        err = errno;
        return -1;
    }
    const int one = 1;
    const bool exclusive = sharing == PortSharing::Exclusive;
    // Linux lets two UDP sockets that both carry SO_REUSEADDR share a port, so
    // an exclusive UDP port goes without it; a TCP port needs it to be bound
    // again while connections of an earlier run linger in TIME_WAIT.
    if (!exclusive || type == SOCK_STREAM)
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (!exclusive)
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one);
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (v6) {
        auto* sa = reinterpret_cast<sockaddr_in6*>(&storage);
        sa->sin6_family = AF_INET6;
        sa->sin6_port = htons(port);
        const Q_IPV6ADDR raw = address.toIPv6Address();
        std::memcpy(&sa->sin6_addr, raw.c, sizeof raw.c);
        length = sizeof *sa;
    } else {
        auto* sa = reinterpret_cast<sockaddr_in*>(&storage);
        sa->sin_family = AF_INET;
        sa->sin_port = htons(port);
        sa->sin_addr.s_addr = htonl(address.toIPv4Address());
        length = sizeof *sa;
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0) {
        err = errno;
        ::close(fd);
        return -1;
    }
    // Bound alone, so nobody else is on the port; from now on the agent's own
    // outbound socket may join the TCP port (Linux requires SO_REUSEPORT on both).
    if (exclusive && type == SOCK_STREAM)
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one);
    return fd;
}

} // namespace platform

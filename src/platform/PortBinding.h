#pragma once
// Opening a socket bound to an address and port, the one place that decides
// how the agent's sockets share a port.

#include <QHostAddress>

namespace platform
{

enum class PortSharing {
    // Fails with EADDRINUSE when any other socket holds the address and port
    // (another program, or a second agent); SO_REUSEPORT is switched on only
    // after the bind, so that the agent's own sockets may share the port later.
    Exclusive,
    // Shares the port with the agent's own sockets that carry SO_REUSEPORT
    // (the outbound socket on the listener's port).
    Shared
};

// A non-blocking socket of type (SOCK_STREAM or SOCK_DGRAM) bound to
// address:port with SO_REUSEADDR, not yet listening. -1 with errno in err on failure.
int BindPort(int type, const QHostAddress& address, quint16 port, PortSharing sharing, int& err);

} // namespace platform

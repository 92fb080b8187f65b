#pragma once
// The time server's SNTP replies, made where the datagrams are read (see
// platform::DatagramSocket): in the time-server role over UDP with the debug
// trace off, a request is answered from one clock reading, without an event,
// an allocation or a formatted text, and in batches when many wait. What the
// request handler would write a trace line, a label or an error report for
// (any datagram while tracing, a short request) is passed on to it.

#include "platform/DatagramSocket.h"

namespace platform
{
class SystemClock;
}

namespace service
{

class RateLimit;

class SntpResponder : public platform::DatagramResponder
{
public:
    explicit SntpResponder(RateLimit& limits) : m_limits(limits) {}

    bool Batches() override;
    Outcome Respond(const char* data, int size, const platform::DatagramPeer& peer, char* reply,
                    int& replySize) override;
    void ReplyFailed(int errorNumber) override;

private:
    bool Fast() const;

    RateLimit& m_limits;
    // Looked up once per wake-up, read once per reply.
    const platform::SystemClock* m_clock = nullptr;
};

} // namespace service

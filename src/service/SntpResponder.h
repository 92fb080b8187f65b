#pragma once
// The time server's SNTP replies, made where the datagrams are read (see
// platform::DatagramSocket): in the time-server role over UDP with the debug
// trace off, a request is answered from one clock reading, without an event,
// an allocation or a formatted text, and in batches when many wait. What the
// request handler would write a trace line, a label or an error report for
// (any datagram while tracing, a short request) is passed on to it.

#include "platform/DatagramSocket.h"

namespace service
{

class RateLimit;

class SntpResponder : public platform::DatagramResponder
{
public:
    explicit SntpResponder(RateLimit& limits) : m_limits(limits) {}

    bool Batches() const override;
    Outcome Respond(const char* data, int size, const platform::DatagramPeer& peer, char* reply,
                    int& replySize) override;
    void ReplyFailed(int errorNumber) override;

private:
    RateLimit& m_limits;
};

} // namespace service

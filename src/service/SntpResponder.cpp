#include "service/SntpResponder.h"

#include "logging/DebugLog.h"
#include "platform/SystemClock.h"
#include "runtime/CurrentError.h"
#include "service/RateLimit.h"
#include "service/TimeReplies.h"
#include "settings/AppState.h"
#include "settings/COptions.h"

#include <cstring>

namespace service
{

bool SntpResponder::Fast() const
{
    return !logging::DebugOn && settings::App().ModuleType != settings::ModuleType::ServiceModule &&
           settings::Options().ClientFormat() == settings::ClientFormat::Sntp;
}

bool SntpResponder::Batches()
{
    m_clock = &platform::Clock();
    return Fast();
}

platform::DatagramResponder::Outcome SntpResponder::Respond(const char* data, int size,
                                                            const platform::DatagramPeer& peer,
                                                            char* reply, int& replySize)
{
    // Short requests are reported by the request handler.
    if (!Fast() || size < kDatagramSize)
        return Pass;
    if (!IsSntpRequest(quint8(data[0])) || !m_limits.Allow(peer.address))
        return Drop;
    BuildSntpReply(data, UtcReading{m_clock->NowUtcMs()}, reply);
    replySize = kDatagramSize;
    return Answer;
}

void SntpResponder::ReplyFailed(int errorNumber)
{
    rt::RaiseError(errorNumber, QString::fromLocal8Bit(std::strerror(errorNumber)));
    logging::ReportError(logging::Error, QStringLiteral("Port Error in sending NTP data."),
                         rt::Err().number, QStringLiteral("frmMainEntSrvc"),
                         QStringLiteral("send_NTP_time"), 0);
}

} // namespace service

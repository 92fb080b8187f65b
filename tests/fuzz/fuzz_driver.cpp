// The whole driver: the first byte picks the server format and connection
// (and the heartbeat), the rest is the message. The clock stands still and is
// set only in memory.
#include "FuzzSupport.h"
#include "timeset/CNISTtimeset.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    fuzzsupport::Setup();
    const uint8_t selector = data[0];
    const QByteArray message(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    settings::COptions& options = settings::Options();
    options.setServerFormat(qint16(selector & 7));
    options.setServerConn(qint16((selector >> 3) & 3));
    options.setmsecTimeOffset((selector & 0x20) ? 250 : 0);
    options.setSetMinThreshold((selector & 0x40) ? 0 : 300);
    options.setServerCustomFormat((selector & 0x80) ? QStringLiteral("dd/mm/yyyy Hh:Nn:Ss")
                                                    : QString());
    options.setServerTZDiff((selector & 0x10) ? QStringLiteral("-5") : QString());
    fuzzsupport::QuietDisplay display;
    timeset::CNISTtimeset engine;
    engine.System_get_timezone();
    engine.setNISTLegTime((selector & 0x08) ? 0.75f : 0.0f);
    engine.DataArrived(message, display);
    engine.HeartbeatOK(QStringLiteral("k"), message, display, (selector & 1) != 0);
    return 0;
}

// SNTP replies and four-byte times, parsed and compared.
#include "FuzzSupport.h"
#include "timeset/CNISTtimeset.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzsupport::Setup();
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    timeset::CNISTtimeset sntp;
    sntp.SNTP_parse_packet(bytes);
    timeset::CNISTtimeset fourByte;
    if (fourByte.Time_parse_bytes(bytes))
        fourByte.compare_time(fourByte.NISTDate());
    fourByte.byte_to_frac(bytes);
    return 0;
}

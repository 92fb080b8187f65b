// NIST, ACTS and Daytime lines and the console strings, then the comparison
// that reads what the parser stored.
#include "FuzzSupport.h"
#include "timeset/CNISTtimeset.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzsupport::Setup();
    const QString text = QString::fromLatin1(reinterpret_cast<const char*>(data), qsizetype(size));
    timeset::CNISTtimeset nist;
    if (nist.NIST_parse_string(text) && nist.NIST_check_server())
        nist.NIST_compare_time();
    timeset::CNISTtimeset acts;
    if (acts.ACTS_parse_string(text))
        acts.NIST_compare_time();
    timeset::CNISTtimeset daytime;
    if (daytime.Daytime_parse_string(text))
        daytime.compare_time(daytime.NISTDate() + QLatin1Char(' ') + daytime.NISTTime());
    return 0;
}

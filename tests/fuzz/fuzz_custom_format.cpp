// A custom layout and a server text, split at the first newline.
#include "FuzzSupport.h"
#include "timeset/CustomFormat.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzsupport::Setup();
    const QString input = QString::fromLatin1(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype split = input.indexOf(QLatin1Char('\n'));
    const QString format = split < 0 ? input : input.left(split);
    const QString server = split < 0 ? input : input.mid(split + 1);
    QString date;
    QString time;
    timeset::Custom_parse_string(server, format, date, time);
    return 0;
}

// Server texts read with user-supplied layouts.
#include "timeset/CustomFormat.h"
#include "EngineTestSupport.h"

#include <gtest/gtest.h>

using namespace timeset;

namespace
{

struct LayoutCase {
    const char* server;
    const char* format;
    bool ok;
    const char* date;
    const char* time;
};

TEST(CustomFormat, ReadsLayouts)
{
    enginetest::ScopedDateLocale locale("en_US");
    enginetest::ScopedFixedClock fixed(enginetest::UtcMs(2026, 3, 9, 12, 0, 0));
    enginetest::ScopedZone zone("UTC");
    const LayoutCase cases[] = {
        {"04/12/2026 20:55:06", "dd/mm/yyyy Hh:Nn:Ss", true, "12/04/2026", "20:55:06 "},
        {"Dec 4 2026 8:55:06 PM", "mmm d yyyy h:N:S AM/PM", true, "Dec 4, 2026", "8:55:06 PM"},
        {"Fri Dec 04 2026 20:55:06", "ddd mmm dd yyyy Hh:Nn:Ss", true, "Dec 04, 2026", "20:55:06 "},
        {"2026-12-04T20:55:06", "yyyy-mm-ddTHh:Nn:Ss", true, "12/04/2026", "20:55:06 "},
        // An escaped h is a literal, not an hour.
        {"04h12h2026 20:55:06", "dd\\hmm\\hyyyy Hh:Nn:Ss", true, "12/04/2026", "20:55:06 "},
        // A bad code stops its own part only; the others are kept.
        {"2026-12-04 20:55:06 x", "yyyy-mm-dd Hh:Nn:Ss Ax", true, "12/04/2026", "20:55:06 "},
        {"December 4 26 20:55:06", "mmmm d yy Hh:Nn:Ss", true, "December 4, 26", "20:55:06 "},
        // Different numbers of parts fail at once.
        {"Dec 4 2026 20:55:06", "mmm d yyyy", false, "", ""},
        // A month that is not one, or an hour of 25, is no date.
        {"Foo 4 2026 20:55:06", "mmm d yyyy Hh:Nn:Ss", false, "", ""},
        {"04/12/2026 25:55:06", "dd/mm/yyyy Hh:Nn:Ss", false, "", ""},
        // "HH" is read but names no field: without an hour the time does not convert.
        {"04/12/2026 20:55:06", "dd/mm/yyyy HH:Nn:Ss", false, "", ""},
        // Without a date the day is today.
        {"20:55", "Hh:Nn", true, "Mar 9, 2026", "20:55 "},
    };
    for (const LayoutCase& c : cases) {
        QString date = "stale";
        QString time = "stale";
        const bool ok = Custom_parse_string(c.server, c.format, date, time);
        EXPECT_EQ(ok, c.ok) << c.server << " / " << c.format;
        EXPECT_EQ(date, QString::fromLatin1(c.date)) << c.server << " / " << c.format;
        EXPECT_EQ(time, QString::fromLatin1(c.time)) << c.server << " / " << c.format;
    }
}

} // namespace

// The trace file, its marker file and the error reports.
#include "logging/DebugLog.h"
#include "logging/ScopedTrace.h"
#include "runtime/CurrentError.h"
#include "schedule/RecordsFixture.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace testsupport;

namespace
{

// The trace in a test's folder, stamped by the clock that stands still.
class DebugLogTest : public recordstest::RecordsFixture
{
protected:
    DebugLogTest() { rt::ClearError(); }
    // The trace's lines, each after the stamp.
    static QString Stamped(const QStringList& lines)
    {
        return "03-10 09:00:00  " + lines.join("\r\n03-10 09:00:00  ") + "\r\n";
    }
    ScopedTrace trace{home.path()};
};

TEST_F(DebugLogTest, LinesCarryAStampKeepOpenJoinsAndTheMarkerFileSwitches)
{
    logging::WriteDebug("hello");
    logging::WriteDebug("A", true);
    logging::WriteDebug("B");
    logging::WriteDebug("C");
    logging::DebugFileOn = false; // the "screen" start-up word
    logging::WriteDebug("unseen", true);
    logging::WriteDebug("unseen too");
    logging::DebugFileOn = true;
    logging::WriteDebug("seen");
    logging::SetDebugFile(false);
    logging::WriteDebug("after close");

    EXPECT_EQ(trace.Text(), Stamped({"Debug FILE mode is now on.", "hello", "AB", "C", "seen",
                                     "Debug FILE mode is now off."}));
    // The marker file decides the state: no marker keeps it off, a marker turns
    // it on once, its removal turns it off and closes the file.
    QFile::remove(home.file("DebugFile.txt"));
    logging::DebugFileOn = false;
    EXPECT_FALSE(logging::SetDebugFileMode(false));
    WriteFile(home.file("debug.txt"), "");
    EXPECT_TRUE(logging::SetDebugFileMode(false));
    EXPECT_TRUE(logging::DebugFileOn);
    EXPECT_TRUE(logging::SetDebugFileMode(true));
    QFile::remove(home.file("debug.txt"));
    EXPECT_FALSE(logging::SetDebugFileMode(true));
    logging::WriteDebug("after turning off");
    EXPECT_EQ(trace.Text(), Stamped({"-----Debug file mode is now on------",
                                     "-----Debug file mode is turning off------"}));
}

// What an error report writes to the trace and to the system log, by severity,
// current error and the system-log option; the current error is always cleared.
TEST_F(DebugLogTest, ErrorReports)
{
    const QString kTraced = "ERROR  Severity:%1, Err:%2, Desc:%3, Origination: mod\r\n"
                            "ID: proc 901, Msg:msg, Resp:0";
    const QString kEventStart = "msg\rOrigination: mod\r\nID: proc 901\r";
    struct Case {
        const char* what;
        bool systemLog;
        qint16 severity;
        qint32 error;
        const char* description;
        bool traced;
        qint16 eventType; // 0: no event
        const char* eventEnd;
    };
    // clang-format off
    const Case cases[] = {
        {"severe without a current error is dropped", true, 3, 0, "", false, 0, ""},
        {"information only traces", true, 1, 0, "", true, 0, ""},
        {"a problem is an information event", true, 2, 0, "", true, logging::EventInformation, " "},
        {"an error carries the current error", true, 3, 5, "Access is denied", true, logging::EventWarning,
         "System Error:  5\rDescription: Access is denied"},
        {"critical asks to continue", true, 4, -7, "neg", true, logging::EventWarning,
         "System Error: -7\rDescription: neg\r\rDo you wish to continue?"},
        {"no system log while the option is off", false, 3, 5, "x", true, 0, ""},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const qsizetype before = trace.Text().size();
        ntEvents.clear();
        settings::Options().setLoggingNTEvntOn(c.systemLog);
        if (c.error != 0)
            rt::RaiseError(c.error, QString::fromLatin1(c.description));
        EXPECT_EQ(logging::ReportError(c.severity, "msg", 0, "mod", "proc", 901), 0);
        EXPECT_EQ(rt::Err().number, 0);
        const QString traced = kTraced.arg(c.severity).arg(c.error).arg(c.description);
        EXPECT_EQ(trace.Text().mid(before), c.traced ? Stamped({traced}) : QString());
        EXPECT_EQ(ntEvents, c.eventType ? QStringList{QString::number(c.eventType) + "|" +
                                                      kEventStart + c.eventEnd}
                                        : QStringList());
    }
}

} // namespace

#include "logging/DebugLog.h"
#include "runtime/CurrentError.h"
#include "settings/AppState.h"
#include "settings/COptions.h"

#include "logging/ScopedTrace.h"

#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace testsupport;

namespace
{

std::vector<std::pair<qint16, QString>> g_events;

class DebugLogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_events.clear();
        logging::SetNTEventSinkForTesting([](const QString& text, qint16 type) {
            g_events.push_back({type, text});
        });
        settings::Options().setLoggingNTEvntOn(false);
        rt::ClearError();
    }
    void TearDown() override
    {
        logging::SetNTEventSinkForTesting(nullptr);
        settings::Options().setLoggingNTEvntOn(false);
    }
    static QString stripStamps(QString text)
    {
        static const QRegularExpression stamp("(^|\\r\\n)\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  ");
        return text.replace(stamp, "\\1");
    }
    ScopedHome home;
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

    const QString text = trace.Text();
    // Every line starts with the sixteen-character stamp and ends with CR LF.
    EXPECT_TRUE(QRegularExpression("^(\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  [^\\r\\n]+\\r\\n)+$")
                    .match(text)
                    .hasMatch())
        << text.toStdString();
    EXPECT_EQ(stripStamps(text), "Debug FILE mode is now on.\r\nhello\r\nAB\r\nC\r\n"
                                 "seen\r\nDebug FILE mode is now off.\r\n");

    // The marker file decides the state: no marker keeps it off, a marker turns
    // it on once, its removal turns it off and closes the file.
    QFile::remove(trace.Path());
    logging::DebugFileOn = false;
    EXPECT_FALSE(logging::SetDebugFileMode(false));
    WriteFile(home.file("debug.txt"), "");
    EXPECT_TRUE(logging::SetDebugFileMode(false));
    EXPECT_TRUE(logging::DebugFileOn);
    EXPECT_TRUE(logging::SetDebugFileMode(true));
    QFile::remove(home.file("debug.txt"));
    EXPECT_FALSE(logging::SetDebugFileMode(true));
    logging::WriteDebug("after turning off");
    EXPECT_EQ(stripStamps(trace.Text()), "-----Debug file mode is now on------\r\n"
                                         "-----Debug file mode is turning off------\r\n");
}

// What an error report writes to the trace and to the system log, by severity,
// current error and the system-log option; the current error is always cleared.
TEST_F(DebugLogTest, ErrorReports)
{
    const QString kTraced = "ERROR  Severity:%1, Err:%2, Desc:%3, Origination: mod\r\n"
                            "ID: proc 901, Msg:msg, Resp:0\r\n";
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
        logging::CloseDebugFile();
        QFile::remove(trace.Path());
        logging::SetDebugFile(true);
        g_events.clear();
        settings::Options().setLoggingNTEvntOn(c.systemLog);
        if (c.error != 0)
            rt::RaiseError(c.error, QString::fromLatin1(c.description));
        EXPECT_EQ(logging::ReportError(c.severity, "msg", 0, "mod", "proc", 901), 0);
        EXPECT_EQ(rt::Err().number, 0);
        EXPECT_EQ(stripStamps(trace.Text()),
                  "Debug FILE mode is now on.\r\n" +
                      (c.traced ? kTraced.arg(c.severity).arg(c.error).arg(c.description) : ""));
        if (c.eventType == 0) {
            EXPECT_TRUE(g_events.empty());
        } else {
            ASSERT_EQ(g_events.size(), 1u);
            EXPECT_EQ(g_events[0], std::make_pair(c.eventType, kEventStart + c.eventEnd));
        }
    }
}

} // namespace

#include "logging/DebugLog.h"
#include "runtime/CurrentError.h"
#include "settings/AppState.h"
#include "settings/COptions.h"

#include "TestSupport.h"

#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace testsupport;

namespace
{

struct RecordedEvent {
    QString text;
    qint16 type;
};
std::vector<RecordedEvent> g_events;

void RecordEvent(const QString& text, qint16 type)
{
    g_events.push_back({text, type});
}

class DebugLogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        logging::DebugFileName = home.file("DebugFile.txt");
        logging::DebugOn = true;
        logging::DebugFileOn = true;
        logging::SetDebugFile(true);
        g_events.clear();
        logging::SetNTEventSinkForTesting(RecordEvent);
        settings::Options().setLoggingNTEvntOn(false);
        rt::ClearError();
    }
    void TearDown() override
    {
        logging::CloseDebugFile();
        logging::SetNTEventSinkForTesting(nullptr);
        logging::DebugOn = false;
        logging::DebugFileOn = false;
        settings::Options().setLoggingNTEvntOn(false);
    }
    // The trace without the "Debug FILE mode is now on." line of SetUp.
    QString traceAfterOpen() const
    {
        QString text = ReadFile(home.file("DebugFile.txt"));
        const int first = text.indexOf(QStringLiteral("\r\n"));
        return first < 0 ? text : text.mid(first + 2);
    }
    static QString stripStamps(QString text)
    {
        static const QRegularExpression stamp(
            QStringLiteral("(^|\\r\\n)\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  "));
        return text.replace(stamp, QStringLiteral("\\1"));
    }
    ScopedHome home;
};

TEST_F(DebugLogTest, LineCarriesSixteenCharacterStampAndCrLf)
{
    logging::WriteDebug(QStringLiteral("hello"));
    const QString trace = traceAfterOpen();
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  hello\\r\\n$"))
            .match(trace)
            .hasMatch())
        << trace.toStdString();
}

TEST_F(DebugLogTest, KeepOpenJoinsTwoCallsIntoOneLine)
{
    logging::WriteDebug(QStringLiteral("A"), true);
    logging::WriteDebug(QStringLiteral("B"));
    logging::WriteDebug(QStringLiteral("C"));
    EXPECT_EQ(stripStamps(traceAfterOpen()), QStringLiteral("AB\r\nC\r\n"));
}

TEST_F(DebugLogTest, NothingIsWrittenWhileFileOutputIsOff)
{
    logging::DebugFileOn = false; // the "screen" start-up word
    logging::WriteDebug(QStringLiteral("unseen"), true);
    logging::WriteDebug(QStringLiteral("unseen too"));
    logging::DebugFileOn = true;
    logging::WriteDebug(QStringLiteral("seen"));
    EXPECT_EQ(stripStamps(traceAfterOpen()), QStringLiteral("seen\r\n"));
}

TEST_F(DebugLogTest, SetDebugFileTracesBothWaysAndClosing)
{
    logging::SetDebugFile(false);
    logging::WriteDebug(QStringLiteral("after close"));
    EXPECT_EQ(stripStamps(ReadFile(home.file("DebugFile.txt"))),
              QStringLiteral("Debug FILE mode is now on.\r\nDebug FILE mode is now off.\r\n"));
}

TEST_F(DebugLogTest, MarkerFileDecidesTheDebugState)
{
    logging::CloseDebugFile();
    QFile::remove(home.file("DebugFile.txt"));
    logging::DebugFileOn = false;

    EXPECT_FALSE(logging::SetDebugFileMode(false)); // no marker, off stays off
    WriteFile(home.file("debug.txt"), "");
    EXPECT_TRUE(logging::SetDebugFileMode(false));
    EXPECT_TRUE(logging::DebugFileOn);
    EXPECT_TRUE(logging::SetDebugFileMode(true)); // already on: nothing more
    QFile::remove(home.file("debug.txt"));
    EXPECT_FALSE(logging::SetDebugFileMode(true));
    logging::WriteDebug(QStringLiteral("after turning off"));
    EXPECT_EQ(stripStamps(ReadFile(home.file("DebugFile.txt"))),
              QStringLiteral("-----Debug file mode is now on------\r\n"
                             "-----Debug file mode is turning off------\r\n"));
}

TEST_F(DebugLogTest, SevereReportWithoutCurrentErrorIsDropped)
{
    settings::Options().setLoggingNTEvntOn(true);
    for (qint16 severity : {qint16(3), qint16(4)})
        EXPECT_EQ(logging::ReportError(severity, QStringLiteral("m"), 0, QStringLiteral("mod"),
                                       QStringLiteral("proc"), 1),
                  0);
    EXPECT_EQ(traceAfterOpen(), QString());
    EXPECT_TRUE(g_events.empty());
}

TEST_F(DebugLogTest, InformationReportTracesOriginOnTwoLines)
{
    settings::Options().setLoggingNTEvntOn(true);
    logging::ReportError(1, QStringLiteral("Error CreateKey: K"), 0,
                         QStringLiteral("modRegistryTools"), QStringLiteral("CreateNewKey"), 901);
    EXPECT_EQ(stripStamps(traceAfterOpen()),
              QStringLiteral("ERROR  Severity:1, Err:0, Desc:, Origination: modRegistryTools\r\n"
                             "ID: CreateNewKey 901, Msg:Error CreateKey: K, Resp:0\r\n"));
    EXPECT_TRUE(g_events.empty()); // severity 1 never reaches the system log
}

TEST_F(DebugLogTest, ReportReadsAndClearsTheCurrentError)
{
    settings::Options().setLoggingNTEvntOn(true);
    rt::RaiseError(5, QStringLiteral("Access is denied"));
    logging::ReportError(3, QStringLiteral("Time setting error - check permissions"), 0,
                         QStringLiteral("CNISTTimeset API"), QStringLiteral("System_set_time"), 70);
    EXPECT_EQ(rt::Err().number, 0);
    ASSERT_EQ(g_events.size(), 1u);
    EXPECT_EQ(g_events[0].type, logging::EventWarning);
    EXPECT_EQ(g_events[0].text,
              QStringLiteral("Time setting error - check permissions\rOrigination: CNISTTimeset "
                             "API\r\nID: System_set_time 70\rSystem Error:  5\rDescription: "
                             "Access is denied"));
    EXPECT_TRUE(traceAfterOpen().contains(
        QStringLiteral("ERROR  Severity:3, Err:5, Desc:Access is denied, ")));
}

TEST_F(DebugLogTest, EventTypeAndCriticalSuffixFollowSeverity)
{
    settings::Options().setLoggingNTEvntOn(true);
    logging::ReportError(2, QStringLiteral("p"), 0, QStringLiteral("m"), QStringLiteral("f"), 10);
    rt::RaiseError(-7, QStringLiteral("neg"));
    logging::ReportError(4, QStringLiteral("c"), 0, QStringLiteral("m"), QStringLiteral("f"), 11);
    ASSERT_EQ(g_events.size(), 2u);
    EXPECT_EQ(g_events[0].type, logging::EventInformation);
    EXPECT_TRUE(
        g_events[0].text.endsWith(QStringLiteral("\r\nID: f 10\r "))); // no error: one blank
    EXPECT_EQ(g_events[1].type, logging::EventWarning);
    EXPECT_TRUE(g_events[1].text.contains(QStringLiteral("System Error: -7\r")));
    EXPECT_TRUE(g_events[1].text.endsWith(QStringLiteral("\r\rDo you wish to continue?")));
}

TEST_F(DebugLogTest, SystemLogIsUsedOnlyWhenTheOptionIsOn)
{
    logging::ReportError(2, QStringLiteral("p"), 0, QStringLiteral("m"), QStringLiteral("f"), 10);
    EXPECT_TRUE(g_events.empty());
}

} // namespace

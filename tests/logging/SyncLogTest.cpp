// The sync log file, the setting events, the sync warning and the printed report.
#include "logging/SyncLog.h"
#include "schedule/RecordsFixture.h"
#include "settings/OptionStore.h"

#include <QStandardPaths>

#include <gtest/gtest.h>

namespace
{

logging::SyncLogEntry Setting(qint32 seconds, qint16 status = 0)
{
    logging::SyncLogEntry sync;
    sync.localTime = rt::Now();
    sync.differenceSec = seconds;
    sync.status = status;
    return sync;
}

// The defaults (sync log file on, syslog and the system log off, no direct
// dial), with the event-log file on and a limit of 100 seconds.
class SyncLogging : public recordstest::RecordsFixture
{
protected:
    SyncLogging()
    {
        settings::SetDefaults(options());
        options().setLoggingEvntOn(true);
        options().setLoggingMaxSec(100);
        logging::ClearSyncWarning();
    }
    // The lines after the header of a log file (none when it does not exist).
    QStringList Body(const QString& name)
    {
        return testsupport::ReadFile(home.file(name)).split("\r\n", Qt::SkipEmptyParts).mid(3);
    }
};

// What one setting writes: its line under the sync log's header and its events,
// by the logging options and the limit.
TEST_F(SyncLogging, LinesAndEventsOfASetting)
{
    struct Case {
        const char* what;
        qint32 seconds;
        qint16 status;
        int syncLines;
        const char* line;   // the sync log after its header; not checked when null
        const char* events; // the event lines after the stamp, joined by '|'; null: not checked
        float fraction = 0; // used when not 0
        float accuracy = 0;
        qint16 serverConn = 0;
        bool loggingOn = true;
        qint16 mode = 1;
        const char* logFile = "logfile.txt";
    };
    const QString kHeader = "Synchronization Log          3/10/2026 09:00:00\r\n"
                            "Date     Time      Difference Accuracy  Status Server\r\n"
                            "-----    ----      ---------- --------  ------ ------\r\n";
    const char* kTooSmall = "Info    Setting done - Time difference too small";
    // clang-format off
    const Case cases[] = {
        {"fraction, direct dial", 2, 0, 1, "26-03-10 09:00:00  2.25       1.5        0     ntp.a", nullptr, 0.25f, 1.5f, 2},
        {"zero under #.#, no server", 0, 7, 1, "26-03-10 09:00:00  .          0.0        7     ", nullptr},
        {"negative", -42, -1, 1, "26-03-10 09:00:00  -42.       -3.3      -1     ntp.a", nullptr, 0, -3.25f, 2},
        {"a wide field wraps to its column", 2147483647, 0, 2,
         "26-03-10 09:00:00  2147483647.50\r\n                              0.0        0     ntp.a", nullptr, 0.5f, 0, 2},
        {"at the limit", 100, 0, 1, nullptr, "Info    Setting done - time changed: 100 seconds."},
        {"above the limit", 500, 0, 1, nullptr, "Info    Setting done - time changed: 500 seconds.|"
                                                "Warning Time difference of 500 seconds exceeds limit of 100 seconds."},
        {"a clock ahead never exceeds it", -500, 0, 1, nullptr, "Info    Setting done - time changed: -500 seconds."},
        {"not set: the result's message", 0, 5, 1, nullptr, kTooSmall},
        {"mode 0: events only", 0, 5, 0, nullptr, kTooSmall, 0, 0, 0, true, 0},
        {"logging off: nothing", 500, 0, 0, nullptr, "", 0, 0, 0, false},
        {"an unwritable log loses the line only", 0, 5, 0, nullptr, kTooSmall, 0, 0, 0, true, 1, "no-such-folder/logfile.txt"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(home.file("logfile.txt"));
        QFile::remove(home.file("evntfile.txt"));
        options().setLoggingOn(c.loggingOn);
        options().setLoggingMode(c.mode);
        options().setLoggingFileName(home.file(c.logFile));
        options().setServerConn(c.serverConn);
        logging::SyncLogEntry sync = Setting(c.seconds, c.status);
        sync.useFrac = c.fraction != 0;
        sync.secFrac = c.fraction;
        sync.accuracy = c.accuracy;
        logging::LogSetting(sync, "ntp.a");
        EXPECT_EQ(Body("logfile.txt").size(), c.syncLines);
        if (c.line) {
            EXPECT_EQ(testsupport::ReadFile(home.file("logfile.txt")), kHeader + c.line + "\r\n");
        }
        QStringList events;
        for (const QString& line : Body("evntfile.txt"))
            events.append(line.mid(19));
        if (c.events) {
            EXPECT_EQ(events.join('|'), c.events);
        }
    }
}

// The label names the period; only the first warning of a period of
// failures, or a shorter one (a new period), goes to the event log.
TEST_F(SyncLogging, SyncWarningOncePerPeriodOfFailures)
{
    const struct {
        qint32 minutes;
        const char* period;
        bool event;
    } steps[] = {{30, "30 minutes", true},
                 {90, "1.5 hours", false},
                 {2880, "2.0 days", false},
                 {59, "59 minutes", true},
                 {59, "59 minutes", true}};
    int events = 0;
    for (const auto& s : steps) {
        EXPECT_EQ(logging::ShowSyncWarning(s.minutes),
                  QString("Warning: Unable to check clock\r\nfor the last ") + s.period);
        events += s.event ? 1 : 0;
        EXPECT_EQ(Body("evntfile.txt").size(), events) << s.minutes;
    }
    EXPECT_EQ(Body("evntfile.txt").value(0).mid(19),
              "Warning Unable to check clock for the last 30 minutes");
    logging::ClearSyncWarning();
    logging::ShowSyncWarning(1000);
    EXPECT_EQ(Body("evntfile.txt").size(), events + 1) << "a good check starts a new period";
}

// More than a page: the page break and the page numbers (the header, the
// lines and the report's file-less end of one page: the end-to-end test).
TEST_F(SyncLogging, PrintedReportBecomesAPdf)
{
    const QString pdftotext = QStandardPaths::findExecutable("pdftotext");
    if (pdftotext.isEmpty())
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    const QString pdf = home.file("report.pdf");
    testsupport::ScopedEnv printer("NCLMOD_PRINTER", ("pdf:" + pdf).toLocal8Bit());
    options().setLoggingMode(settings::LoggingMode::Printer);
    options().setServerConn(settings::ServerConn::DirectDial);
    for (int i = 0; i < 60; ++i)
        logging::LogSetting(Setting(i + 1), "ntp.a");
    EXPECT_FALSE(QFile::exists(pdf)) << "the job ends with the program";
    logging::EndSyncLog(settings::LoggingMode::Printer);

    const testsupport::ToolResult convert = testsupport::Run(pdftotext, {"-layout", pdf, "-"});
    ASSERT_NE(convert.exitCode, -1) << "pdftotext did not finish";
    // The layout's spacing is the converter's guess: compare words.
    QStringList lines;
    for (const QString& line : convert.out.split('\n'))
        lines.append(line.simplified());
    for (const char* expected : {"Synchronization Log Created: 3/10/2026 09:00:00", "Page 1",
                                 "Sync Log - continued 3/10/2026 09:00:00",
                                 "26-03-10 09:00:00 60 0.0 0 ntp.a", "<End of Report> Page 2"})
        EXPECT_TRUE(lines.contains(expected)) << expected << "\n" << lines.join('\n').toStdString();
}

} // namespace

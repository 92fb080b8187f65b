// The sync log file, the setting events, the sync warning and the printed report.
#include "logging/SyncLog.h"
#include "logging/DebugLog.h"
#include "schedule/CSync.h"
#include "schedule/RecordsFixture.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace
{

schedule::CSync Setting(qint32 seconds, qint16 status = 0)
{
    schedule::CSync sync;
    sync.setSyncLocalTime(rt::Now());
    sync.setSyncDifferenceSec(seconds);
    sync.setSyncStatus(status);
    return sync;
}

class SyncLogging : public recordstest::RecordsFixture
{
protected:
    SyncLogging()
    {
        options().setLoggingOn(true);
        options().setLoggingFileOn(true);
        options().setLoggingMode(settings::LoggingMode::TextFile);
        options().setLoggingFileName(home.file("logfile.txt"));
        options().setLoggingEvntOn(true);
        options().setLoggingEvntFileName(home.file("evntfile.txt"));
        options().setLoggingNTEvntOn(false);
        options().setLoggingSyslogOn(false);
        options().setLoggingMaxSecOn(true);
        options().setLoggingMaxSec(100);
        options().setServerConn(0);
        logging::ClearSyncWarning();
    }
    // The lines after the header of a log file (none when it does not exist).
    QStringList Body(const QString& name)
    {
        return testsupport::ReadFile(home.file(name)).split("\r\n", Qt::SkipEmptyParts).mid(3);
    }
};

TEST_F(SyncLogging, SettingLineColumns)
{
    struct Case {
        const char* what;
        bool useFraction;
        qint32 seconds;
        float fraction;
        float accuracy;
        qint16 status;
        const char* line;
    };
    const Case cases[] = {
        {"fraction in use", true, 2, 0.25f, 1.5f, 0,
         "26-03-10 09:00:00  2.25       1.5        0     ntp.a"},
        {"zero under #.#", false, 0, 0, 0, 7,
         "26-03-10 09:00:00  .          0.0        7     ntp.a"},
        {"negative values", false, -42, 0, -3.25f, -1,
         "26-03-10 09:00:00  -42.       -3.3      -1     ntp.a"},
        {"a wide field wraps to its column", true, 2147483647, 0.5f, 0, 0,
         "26-03-10 09:00:00  2147483647.50\r\n                              0.0        0     "
         "ntp.a"},
    };
    for (const Case& c : cases) {
        schedule::CSync sync = Setting(c.seconds, c.status);
        sync.setSyncUseFrac(c.useFraction);
        sync.setSyncSecFrac(c.fraction);
        sync.setSyncAccuracy(c.accuracy);
        EXPECT_EQ(logging::SyncLogLine(sync, "ntp.a").toStdString(), c.line) << c.what;
    }
}

TEST_F(SyncLogging, FirstSettingCreatesTheHeaderAndDirectDialAddsTheServer)
{
    logging::LogSetting(Setting(12), "ntp.a");
    const QStringList lines =
        testsupport::ReadFile(home.file("logfile.txt")).split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[0].startsWith("Synchronization Log          ")) << qPrintable(lines[0]);
    EXPECT_EQ(lines[1], "Date     Time      Difference Accuracy  Status Server");
    EXPECT_EQ(lines[2], "-----    ----      ---------- --------  ------ ------");
    EXPECT_EQ(lines[3].toStdString(), "26-03-10 09:00:00  12.        0.0        0     ")
        << "server only for direct dial";
    options().setServerConn(2);
    logging::LogSetting(Setting(1), "ntp.a");
    EXPECT_EQ(Body("logfile.txt").value(1).toStdString(),
              "26-03-10 09:00:00  1.         0.0        0     ntp.a");
}

TEST_F(SyncLogging, EventsAndLimits)
{
    struct Case {
        const char* what;
        bool loggingOn;
        qint16 mode;
        qint32 seconds;
        qint16 status;
        int syncLines;
        QString events; // the event lines' text after the stamp, joined by '|'
        const char* logFile = "logfile.txt";
    };
    const QString both500 = "Info    Setting done - time changed: 500 seconds.|"
                            "Warning Time difference of 500 seconds exceeds limit of 100 seconds.";
    const Case cases[] = {
        {"within the limit", true, 1, 50, 0, 1, "Info    Setting done - time changed: 50 seconds."},
        {"at the limit", true, 1, 100, 0, 1, "Info    Setting done - time changed: 100 seconds."},
        {"above the limit", true, 1, 500, 0, 1, both500},
        {"a clock ahead never exceeds it", true, 1, -500, 0, 1,
         "Info    Setting done - time changed: -500 seconds."},
        {"not set: the result's message", true, 1, 0, 5, 1,
         "Info    Setting done - Time difference too small"},
        {"mode 0: events only", true, 0, 500, 0, 0, both500},
        {"logging off: nothing", false, 1, 500, 0, 0, ""},
        {"an unwritable log loses the line only", true, 1, 500, 0, 0, both500,
         "no-such-folder/logfile.txt"},
    };
    for (const Case& c : cases) {
        QFile::remove(home.file("logfile.txt"));
        QFile::remove(home.file("evntfile.txt"));
        options().setLoggingOn(c.loggingOn);
        options().setLoggingMode(c.mode);
        options().setLoggingFileName(home.file(c.logFile));
        logging::LogSetting(Setting(c.seconds, c.status), "ntp.a");
        EXPECT_EQ(Body("logfile.txt").size(), c.syncLines) << c.what;
        QStringList events;
        for (const QString& line : Body("evntfile.txt"))
            events.append(line.mid(19));
        EXPECT_EQ(events.join('|'), c.events) << c.what;
    }
}

TEST_F(SyncLogging, AThousandSettingsGiveAThousandWholeLines)
{
    for (int i = 0; i < 1000; ++i)
        logging::WriteSyncLog(Setting(i % 7 - 3), "ntp.a", home.file("logfile.txt"), 1);
    const QStringList lines = Body("logfile.txt");
    ASSERT_EQ(lines.size(), 1000);
    EXPECT_TRUE(testsupport::ReadFile(home.file("logfile.txt")).endsWith("ntp.a\r\n"));
    EXPECT_EQ(lines.filter(QRegularExpression("^26-03-10 09:00:00  .*ntp.a$")).size(), 1000);
}

TEST_F(SyncLogging, SyncWarningOncePerPeriodOfFailures)
{
    struct Step {
        qint32 minutes;
        const char* label;
        bool event;
    };
    const Step steps[] = {
        {30, "Warning: Unable to check clock\r\nfor the last 30 minutes", true},
        {90, "Warning: Unable to check clock\r\nfor the last 1.5 hours", false},
        {2880, "Warning: Unable to check clock\r\nfor the last 2.0 days", false},
        {59, "Warning: Unable to check clock\r\nfor the last 59 minutes", true},
        {59, "Warning: Unable to check clock\r\nfor the last 59 minutes", true},
    };
    int events = 0;
    for (const Step& s : steps) {
        EXPECT_EQ(logging::ShowSyncWarning(s.minutes), s.label);
        events += s.event ? 1 : 0;
        EXPECT_EQ(Body("evntfile.txt").size(), events) << s.minutes;
    }
    EXPECT_EQ(Body("evntfile.txt").value(0).mid(19),
              "Warning Unable to check clock for the last 30 minutes");
    logging::ClearSyncWarning();
    logging::ShowSyncWarning(1000);
    EXPECT_EQ(Body("evntfile.txt").size(), events + 1) << "a good check starts a new period";
}

TEST_F(SyncLogging, PrintedReportBecomesAPdf)
{
    const QString pdftotext = QStandardPaths::findExecutable("pdftotext");
    if (pdftotext.isEmpty())
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    const QString pdf = home.file("report.pdf");
    testsupport::ScopedEnv printer("NCLMOD_PRINTER", ("pdf:" + pdf).toLocal8Bit());
    options().setLoggingMode(settings::LoggingMode::Printer);
    options().setServerConn(2);
    for (int i = 0; i < 60; ++i) // more than a page
        logging::LogSetting(Setting(i + 1), "ntp.a");
    EXPECT_FALSE(QFile::exists(pdf)) << "the job ends with the program";
    logging::EndSyncLog(settings::LoggingMode::Printer);

    QProcess convert;
    convert.start(pdftotext, {"-layout", pdf, "-"});
    ASSERT_TRUE(convert.waitForFinished(10000));
    // The layout's spacing is the converter's guess: compare words.
    QStringList lines;
    for (const QString& line : QString::fromUtf8(convert.readAllStandardOutput()).split('\n'))
        lines.append(line.simplified());
    const QString text = lines.join('\n');
    for (const char* expected :
         {"Synchronization Log Created: 3/10/2026 09:00:00",
          "Date Time Difference Accuracy Status Server",
          "----- ---- ---------- -------- ------ ------", "26-03-10 09:00:00 1 0.0 0 ntp.a",
          "Page 1", "Sync Log - continued 3/10/2026 09:00:00", "26-03-10 09:00:00 60 0.0 0 ntp.a",
          "<End of Report> Page 2"})
        EXPECT_TRUE(lines.contains(expected)) << expected << "\n" << text.toStdString();
    EXPECT_TRUE(testsupport::ReadFile(home.file("logfile.txt")).isEmpty()) << "no file in mode 2";
}

} // namespace

// Messages per second through the clock-setting engine for each time format,
// with the trace off and on, and the time from a message's arrival to the
// clock being set. The clock is simulated: in memory for the throughput runs,
// the simulated clock file for the arrival-to-setting run.
#include "logging/DebugLog.h"
#include "platform/SystemClock.h"
#include "settings/AppState.h"
#include "settings/COptions.h"
#include "timeset/CNISTtimeset.h"
#include "timeset/TimeConversions.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <ctime>

namespace
{

using Clock = std::chrono::steady_clock;
constexpr qint64 kArrivalUtcMs = 1796417706250; // 2026-12-04 20:55:06.250 UTC

// The clock reads the same instant until set; every message starts from it.
class StillClock : public platform::SystemClock
{
public:
    qint64 NowUtcMs() const override { return m_now; }
    bool SetUtcMs(qint64 utcMs, int&) override
    {
        m_now = utcMs;
        return true;
    }
    void Reset() { m_now = kArrivalUtcMs; }

private:
    qint64 m_now = kArrivalUtcMs;
};

// Forwards to the simulated clock file and notes when the setting lands.
class TimedSimulatedClock : public platform::SimulatedClock
{
public:
    using platform::SimulatedClock::SimulatedClock;
    bool SetUtcMs(qint64 utcMs, int& errorNumber) override
    {
        const bool ok = platform::SimulatedClock::SetUtcMs(utcMs, errorNumber);
        setAt = Clock::now();
        return ok;
    }
    Clock::time_point setAt;
};

class QuietDisplay : public timeset::CNISTDisplay
{
public:
    float DisplaySync(const timeset::SyncDisplayInfo&) override { return 0; }
    void DisplayNoChange() override {}
    void NISTdone() override {}
    void HeartbeatDone(const QString&, const QString&, const QString&) override {}
};

struct Format {
    const char* name;
    qint16 serverFormat;
    qint16 serverConn;
    const char* customFormat;
    QByteArray message;
};

QByteArray SntpReply()
{
    QByteArray packet(48, '\0');
    packet[0] = 0x24;
    packet.replace(40, 4, timeset::date_to_byte(rt::MakeDate(2026, 12, 4, 20, 55, 8)));
    packet[44] = char(0x80);
    return packet;
}

// Every message is 2.25 s ahead of the still clock, so each one sets it.
const Format kFormats[] = {
    {"NIST", 0, 0, "", "61378 26-12-04 20:55:08 00 0 0 50.0 UTC(NIST) *"},
    {"ACTS", 0, 2, "", "61378 26-12-04 20:55:08 00 0 -.1 45.0 UTC(NIST) *"},
    {"Set string", 0, 0, "", "S+ 2026-12-04 20:55:08 500"},
    {"Daytime", 1, 0, "", "Fri Dec  4 20:55:08 2026\r\n"},
    {"Custom", 1, 0, "dd/mm/yyyy Hh:Nn:Ss", "04/12/2026 20:55:08"},
    {"SNTP", 2, 0, "", SntpReply()},
    {"Four-byte", 3, 0, "", timeset::date_to_byte(rt::MakeDate(2026, 12, 4, 20, 55, 8))},
};

void UseFormat(const Format& format)
{
    settings::COptions& options = settings::Options();
    options.setServerFormat(format.serverFormat);
    options.setServerConn(format.serverConn);
    options.setServerCustomFormat(QString::fromLatin1(format.customFormat));
    options.setSetMaxThreshold(86400);
    options.setSetMinThreshold(300);
    options.setSettingMode(2);
}

class Trace
{
public:
    explicit Trace(bool on)
    {
        logging::DebugOn = on;
        logging::DebugFileOn = on;
        if (on) {
            logging::DebugFileName = m_dir.filePath("DebugFile.txt");
            logging::SetDebugFile(true);
        }
    }
    ~Trace()
    {
        if (logging::DebugFileOn)
            logging::SetDebugFile(false);
        logging::DebugOn = false;
        logging::DebugFileOn = false;
    }

private:
    QTemporaryDir m_dir;
};

void BM_DataArrived(benchmark::State& state)
{
    const Format& format = kFormats[state.range(0)];
    const bool traceOn = state.range(1) != 0;
    StillClock clock;
    platform::SetClockForTesting(&clock);
    UseFormat(format);
    Trace trace(traceOn);
    QuietDisplay display;
    qint64 settings = 0;
    for (auto _ : state) {
        clock.Reset();
        timeset::CNISTtimeset engine;
        engine.System_get_timezone();
        engine.DataArrived(format.message, display);
        settings += engine.SettingStatus() == 0 ? 1 : 0;
    }
    platform::SetClockForTesting(nullptr);
    if (settings != state.iterations())
        state.SkipWithError("a message did not set the clock");
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(std::string(format.name) + (traceOn ? ", trace on" : ", trace off"));
}

// Arrival to the clock being set, through the simulated clock file.
void BM_ArrivalToSetting(benchmark::State& state)
{
    const Format& format = kFormats[state.range(0)];
    QTemporaryDir dir;
    TimedSimulatedClock clock(dir.filePath("clock.offset"));
    platform::SetClockForTesting(&clock);
    UseFormat(format);
    Trace trace(false);
    QuietDisplay display;
    const QDateTime base = QDateTime::fromMSecsSinceEpoch(kArrivalUtcMs, Qt::UTC);
    for (auto _ : state) {
        // Put the simulated clock 2.25 s behind the message's time again.
        int ignored = 0;
        clock.platform::SimulatedClock::SetUtcMs(base.toMSecsSinceEpoch(), ignored);
        timeset::CNISTtimeset engine;
        engine.System_get_timezone();
        const Clock::time_point arrival = Clock::now();
        engine.DataArrived(format.message, display);
        state.SetIterationTime(std::chrono::duration<double>(clock.setAt - arrival).count());
    }
    platform::SetClockForTesting(nullptr);
    state.SetLabel(format.name);
}

// The reference in the same run: splitting the line and reading its date
// with Qt, the least any parser of this line must do.
void BM_Baseline(benchmark::State& state)
{
    const QString line = QString::fromLatin1(kFormats[0].message);
    for (auto _ : state) {
        const QStringList fields = line.split(QLatin1Char(' '));
        const QDateTime when = QDateTime::fromString(QStringLiteral("20") + fields.at(1) +
                                                         QLatin1Char(' ') + fields.at(2),
                                                     QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        benchmark::DoNotOptimize(when);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("split + QDateTime::fromString");
}

void FormatsAndTrace(benchmark::internal::Benchmark* b)
{
    for (int trace = 0; trace <= 1; ++trace)
        for (int f = 0; f < int(std::size(kFormats)); ++f)
            b->Args({f, trace});
}

void Formats(benchmark::internal::Benchmark* b)
{
    for (int f = 0; f < int(std::size(kFormats)); ++f)
        b->Args({f});
}

BENCHMARK(BM_Baseline);
BENCHMARK(BM_DataArrived)->Apply(FormatsAndTrace);
BENCHMARK(BM_ArrivalToSetting)->Apply(Formats)->UseManualTime()->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    // The bench never reaches the host clock: every run installs its own, and
    // the fallback is a simulated clock file.
    QTemporaryDir fallback;
    qputenv("NCLMOD_SIMCLOCK", fallback.filePath("fallback.offset").toLocal8Bit());
    setenv("TZ", "America/New_York", 1);
    tzset();
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

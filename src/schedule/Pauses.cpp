#include "schedule/Pauses.h"

#include "logging/DebugLog.h"
#include "runtime/TextFormat.h"
#include "schedule/WaitClock.h"

#include <algorithm>
#include <cmath>

namespace schedule
{

namespace
{

const QString kResetTrace = QStringLiteral("------->WINDOWS RESET!!!!!  Exiting loop!");

// Lets events run until the tick counter reaches start + ms. False when the
// counter stepped backwards (then the thread was blocked for wrapBlockMs).
bool WaitTicks(WaitClock& clock, double start, double ms, qint64 wrapBlockMs, bool alwaysTrace)
{
    const double end = start + ms;
    for (double now = clock.TickCount(); now < end; now = clock.TickCount()) {
        if (now < start) {
            if (alwaysTrace)
                logging::WriteDebug(kResetTrace);
            else
                NCL_TRACE(kResetTrace);
            clock.Block(wrapBlockMs);
            return false;
        }
        // Wake at the counter's wrap too, so the step back is seen there.
        clock.RunEvents(qint64(std::ceil(std::min(end, 4294967296.0) - now)));
    }
    return true;
}

} // namespace

void PauseSeconds(qint32 seconds)
{
    WaitClock& clock = Waits();
    const double start = clock.TickCount();
    WaitTicks(clock, start, double(seconds) * 1000, 1000, false);
    NCL_TRACE(QStringLiteral("Paused for ") +
              rt::FormatNumber((clock.TickCount() - start) / 1000, QStringLiteral("0.000")) +
              QStringLiteral(" seconds"));
}

qint32 PauseMilliseconds(qint32 milliseconds)
{
    WaitClock& clock = Waits();
    const double start = clock.TickCount();
    WaitTicks(clock, start, milliseconds, 100, true);
    logging::WriteDebug(QStringLiteral("Paused for ") +
                        rt::FormatNumber(clock.TickCount() - start, QStringLiteral("0000")) +
                        QStringLiteral(" milliseconds"));
    return 0;
}

} // namespace schedule

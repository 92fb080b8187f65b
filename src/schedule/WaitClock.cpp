#include "schedule/WaitClock.h"

#include "platform/SystemClock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <algorithm>

namespace schedule
{

namespace
{
WaitClock* g_testClock = nullptr;
}

quint32 RealWaitClock::TickCount()
{
    return platform::Clock().TickCount();
}

int RealWaitClock::LocalSecondOfMinute()
{
    return platform::Clock().GetLocalTime().wSecond;
}

double RealWaitClock::SecondsSinceMidnight()
{
    const platform::SystemTime t = platform::Clock().GetLocalTime();
    return t.wHour * 3600.0 + t.wMinute * 60.0 + t.wSecond + t.wMilliseconds / 1000.0;
}

rt::Date RealWaitClock::Now()
{
    return rt::Now();
}

void RealWaitClock::RunEvents(qint64 ms)
{
    if (ms <= 0) {
        QCoreApplication::processEvents();
        return;
    }
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    // Precise, so the wait does not wake early and go round again.
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(int(std::min<qint64>(ms, 24LL * 3600 * 1000)));
    m_loops.push_back(&loop);
    loop.exec();
    m_loops.erase(std::find(m_loops.begin(), m_loops.end(), &loop));
}

void RealWaitClock::Wake()
{
    for (QEventLoop* loop : m_loops)
        loop->quit();
}

void RealWaitClock::Block(qint64 ms)
{
    if (ms > 0)
        QThread::msleep(quint64(ms));
}

WaitClock& Waits()
{
    if (g_testClock)
        return *g_testClock;
    static RealWaitClock real;
    return real;
}

void SetWaitClockForTesting(WaitClock* clock)
{
    g_testClock = clock;
}

} // namespace schedule

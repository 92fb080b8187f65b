#pragma once
// Helpers of the platform and host tests: waiting on the event loop without
// spinning the processor.

#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <functional>

namespace testsupport
{

// Runs the event loop for the given time.
inline void Spin(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until done() holds or the time is up; returns done().
inline bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!done() && !deadline.hasExpired())
        Spin(5);
    return done();
}

} // namespace testsupport

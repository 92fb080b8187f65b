#pragma once
// Short waits that keep events flowing and cannot be interrupted.

#include <QtGlobal>

namespace schedule
{

void PauseSeconds(qint32 seconds);
// Always returns 0. Its trace lines go to the debug file whatever DebugOn says.
qint32 PauseMilliseconds(qint32 milliseconds);

} // namespace schedule

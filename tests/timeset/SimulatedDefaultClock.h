#pragma once
// The simulated clock file that stands behind the default clock in the engine
// tests; a test that sets nothing through it leaves it absent.

#include <QString>

namespace enginetest
{

QString DefaultClockFile();

} // namespace enginetest

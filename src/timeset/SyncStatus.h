#pragma once
// The engine's result codes are those of the sync record (logging/SyncStatus.h);
// the engine names them as its own.

#include "logging/SyncStatus.h"

namespace timeset
{

using logging::SyncStatus;
using enum logging::SyncStatus;
using logging::SyncStatusText;

} // namespace timeset

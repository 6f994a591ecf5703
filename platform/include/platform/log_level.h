// Whether a log line of a level would go anywhere now, so that a hot path can
// skip building an expensive message nobody reads.
#pragma once

#include "platform/log.h"

namespace Platform::Log {

// True when a line at `level` reaches the log file, stderr or a Capture.
bool WouldLog(Level level);

}  // namespace Platform::Log

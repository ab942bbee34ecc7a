// Wall-clock time for log lines, and the monotonic milliseconds that deadlines and the proxy
// resolver's hold-off read.
#pragma once

#include <cstdint>

namespace OrnUtil::platform {

struct TimeOfDay {
    int hour, minute, second, millisecond;
};

// The local wall-clock time of day, to the millisecond.
TimeOfDay LocalTimeOfDay();

// Milliseconds of the monotonic clock: for deadlines.
uint64_t MonotonicMs();

// Milliseconds of the monotonic clock, truncated to 32 bits: it wraps after 49.7 days, so callers
// compare two readings by their unsigned difference.
uint32_t TickCount();

} // namespace OrnUtil::platform

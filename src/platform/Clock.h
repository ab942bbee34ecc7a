// Wall-clock time for log lines.
#pragma once

namespace OrnUtil::platform {

struct TimeOfDay {
    int hour, minute, second, millisecond;
};

// The local wall-clock time of day, to the millisecond.
TimeOfDay LocalTimeOfDay();

} // namespace OrnUtil::platform

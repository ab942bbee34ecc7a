#include "platform/Clock.h"

#include <ctime>

namespace OrnUtil::platform {

TimeOfDay LocalTimeOfDay() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    // Breaking a time down takes glibc's time-zone lock; a logging thread does it once a second.
    thread_local time_t cachedSecond = -1;
    thread_local std::tm cached{};
    if (now.tv_sec != cachedSecond) {
        localtime_r(&now.tv_sec, &cached);
        cachedSecond = now.tv_sec;
    }
    return {cached.tm_hour, cached.tm_min, cached.tm_sec, static_cast<int>(now.tv_nsec / 1000000)};
}

uint64_t MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u +
           static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

uint32_t TickCount() {
    return static_cast<uint32_t>(MonotonicMs());
}

} // namespace OrnUtil::platform

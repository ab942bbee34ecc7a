// Broken-down calendar times for the date formatter.
#pragma once

#include <cstdint>
#include <ctime>

namespace OrnUtil::platform {

// The local time (process time zone) of `seconds` since the epoch into `tm`; false when the C
// library has no broken-down time for it. Safe on several threads at once.
bool LocalCalendarTime(int64_t seconds, std::tm& tm);

// The same in UTC.
bool UtcCalendarTime(int64_t seconds, std::tm& tm);

} // namespace OrnUtil::platform

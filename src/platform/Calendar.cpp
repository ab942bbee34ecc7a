#include "platform/Calendar.h"

namespace OrnUtil::platform {

bool LocalCalendarTime(int64_t seconds, std::tm& tm) {
    const time_t value = static_cast<time_t>(seconds);
    return localtime_r(&value, &tm) != nullptr;
}

bool UtcCalendarTime(int64_t seconds, std::tm& tm) {
    const time_t value = static_cast<time_t>(seconds);
    return gmtime_r(&value, &tm) != nullptr;
}

} // namespace OrnUtil::platform

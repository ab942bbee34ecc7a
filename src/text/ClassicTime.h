// A shortcut for the classic locale: its time_put facet formats each conversion with strftime_l in
// the C locale into 128 bytes, and so does this, for a whole format in one call.
#pragma once

#include "text/DatePattern.h"

#include <cstdint>
#include <ctime>
#include <string>

namespace OrnUtil::DateTime {

// False where the facet itself must run: another global locale, no C locale to be had, or a zone
// name too long for the facet's buffer.
bool ClassicTimeUsable(const std::tm& tm);

// A translated pattern applied to `tm` and `ms`.
std::string ApplyClassicTime(const Translated& translated, const std::tm& tm, int64_t ms);

} // namespace OrnUtil::DateTime

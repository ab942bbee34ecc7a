// The engine behind FormatDate and FormatDuration, in its two stages, so that tests can reach each.
#pragma once

#include <cstdint>
#include <ctime>
#include <locale>
#include <string>
#include <string_view>

namespace OrnUtil::DateTime {

// Durations keep their date runs (y, yy, yyyy, M, MM, d, dd) as letters.
enum class Mode { DATE, DURATION };

// Stage 1: the standard time-conversion format for `pattern`, with the unpadded numbers and the
// milliseconds `ms` already written out as digits.
std::string BuildFormat(std::string_view pattern, const std::tm& tm, int64_t ms, Mode mode);

// Stage 2: `format` applied to `tm` with the time_put facet of the global locale. Every "%" that
// starts no ISO C conversion is written as it stands.
std::string ApplyFormat(std::string_view format, const std::tm& tm);

// Stage 2 through the facet of `locale`, without the classic locale's shortcut.
std::string ApplyFormatWithFacet(std::string_view format, const std::tm& tm,
                                 const std::locale& locale);

// Both stages.
std::string FormatTime(std::string_view pattern, const std::tm& tm, int64_t ms, Mode mode);

} // namespace OrnUtil::DateTime
